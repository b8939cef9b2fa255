#include "ui/GridModel.h"

#include "ui/GridCells.h"

namespace vexo {

namespace {
const char* const kHeaders[GridColumnCount] = {"", "公司名", "手机", "QQ", "邮箱", "来源"};
constexpr const char* kIconColumnHint = "带图标的为推广用户";
}  // namespace

TGridModel::TGridModel(QObject* parent) : QAbstractTableModel(parent) {}

int TGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : GridColumnCount;
}

QVariant TGridModel::data(const QModelIndex& index, int role) const {
    const auto record = Record(index.row());
    if (!record)
        return {};
    const int column = index.column();
    if (column == ColIcon) {
        if (role == PromoIconRole)
            return static_cast<int>(PromoIconOf(*record));
        if (role == Qt::ToolTipRole)
            return QString::fromUtf8(kIconColumnHint);
        return {};
    }
    if (role == CellValueRole)
        return QString::fromStdString(GridCellText(*record, column));
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        QString text = QString::fromStdString(GridCellText(*record, column));
        text.remove(QLatin1Char('\r'));
        return text;
    }
    return {};
}

QVariant TGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= GridColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(kHeaders[section]);
    if (role == Qt::ToolTipRole && section == ColIcon)
        return QString::fromUtf8(kIconColumnHint);
    return {};
}

Qt::ItemFlags TGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TGridModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void TGridModel::Fill(const TCompanyList& records) {
    beginResetModel();
    rows_ = records;
    endResetModel();
}

void TGridModel::Append(std::shared_ptr<TComPanyInfo> record) {
    const int row = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), row, row);
    rows_.push_back(std::move(record));
    endInsertRows();
}

std::shared_ptr<TComPanyInfo> TGridModel::Record(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return nullptr;
    return rows_[static_cast<std::size_t>(row)];
}

}  // namespace vexo
