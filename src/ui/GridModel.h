// TGridModel: the rows of the results grid. A row refers to a company record shared with the keyword store (the
// grid's row map: row r shows the record put in as the (r + 1)-th); every cell is computed when it is painted.
#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <vector>

#include "store/KeyUnit.h"

namespace vexo {

class TGridModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    // The exact cell value, line breaks included (DisplayRole draws the carriage returns as nothing).
    static constexpr int CellValueRole = Qt::UserRole + 1;
    // The promotion icon of column 0 as TPromoIcon.
    static constexpr int PromoIconRole = Qt::UserRole + 2;

    explicit TGridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Empties the row map.
    void Clear();
    // Replaces every row at once (one reset, the view repaints once).
    void Fill(const TCompanyList& records);
    // Appends one row.
    void Append(std::shared_ptr<TComPanyInfo> record);
    // The record of a row; nullptr for a row without one.
    std::shared_ptr<TComPanyInfo> Record(int row) const;

  private:
    std::vector<std::shared_ptr<TComPanyInfo>> rows_;
};

// Column widths of the grid, left to right.
inline constexpr int kGridColumnWidths[] = {31, 231, 175, 100, 142, 40};
inline constexpr int kGridRowHeight = 24;

}  // namespace vexo
