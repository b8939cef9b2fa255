// TKeyListModel: the items of the keyword list, one per keyword in the order they were added. An item holds the
// texts of its three bindings ("text", "count", "date") and the look of its start/stop button (style name and
// enabled state); the style name is also the item's state as the task commands read it.
#pragma once

#include <QAbstractListModel>
#include <cstdint>
#include <string>
#include <vector>

#include "store/KeyUnit.h"

namespace vexo {

// Style names of the start/stop button: a start is offered, or a task runs (or stops).
inline constexpr const char* kStartStyle = "startbtn";
inline constexpr const char* kStopStyle = "stopbtn";

// The "date" line of an idle item: "最后更新：" and the time "YYYY-MM-DD hh:mm:ss" of the stored seconds.
std::string LastUpdateText(std::int64_t addDate);

class TKeyListModel final : public QAbstractListModel {
    Q_OBJECT
  public:
    enum Role {
        TextRole = Qt::UserRole + 1,
        CountRole,
        DateRole,
        StyleRole,
        EnabledRole,
    };

    explicit TKeyListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Appends the entry's item: its keyword, count and last update, a start offered.
    void AddKeywordItem(const TKeyData& entry);
    // The "date" line and the start/stop button's look of the keyword's item.
    void SetItemLook(const std::string& keyword, const std::string& dateLine, bool enabled, const std::string& style);
    // The "count" and the last update from the entry.
    void RefreshItem(const TKeyData& entry);
    void RemoveItem(const std::string& keyword);
    void Clear();

    // Row of the first item showing the keyword exactly; -1 when there is none.
    int FindItem(const std::string& keyword) const;
    // The item's start/stop style name; empty for a keyword without item.
    std::string ItemStyle(const std::string& keyword) const;

  private:
    struct TItem {
        std::string text;
        std::string count;
        std::string date;
        std::string style = kStartStyle;
        bool enabled = true;
    };
    std::vector<TItem> items_;
};

}  // namespace vexo
