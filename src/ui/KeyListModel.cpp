#include "ui/KeyListModel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace vexo {

namespace {
std::string CountText(std::int32_t count) {
    return std::to_string(count) + "条";
}
}  // namespace

std::string LastUpdateText(std::int64_t addDate) {
    // The stored seconds count local wall-clock time as if it were universal time: no time zone applies.
    using namespace std::chrono;
    // Years 1 to 9999: a damaged stored value must not overflow the calendar arithmetic.
    constexpr std::int64_t kFirst = -62135596800;  // 0001-01-01 00:00:00
    constexpr std::int64_t kLast = 253402300799;   // 9999-12-31 23:59:59
    const sys_seconds time{seconds{std::clamp(addDate, kFirst, kLast)}};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return std::string("最后更新：") + text;
}

TKeyListModel::TKeyListModel(QObject* parent) : QAbstractListModel(parent) {}

int TKeyListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant TKeyListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= items_.size())
        return {};
    const TItem& item = items_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case TextRole:
            return QString::fromStdString(item.text);
        case CountRole:
            return QString::fromStdString(item.count);
        case DateRole:
            return QString::fromStdString(item.date);
        case StyleRole:
            return QString::fromStdString(item.style);
        case EnabledRole:
            return item.enabled;
        default:
            return {};
    }
}

void TKeyListModel::AddKeywordItem(const TKeyData& entry) {
    const int row = static_cast<int>(items_.size());
    beginInsertRows(QModelIndex(), row, row);
    items_.push_back({entry.KeyStr, CountText(entry.ListCount), LastUpdateText(entry.AddDate)});
    endInsertRows();
}

int TKeyListModel::FindItem(const std::string& keyword) const {
    for (std::size_t row = 0; row < items_.size(); ++row)
        if (items_[row].text == keyword)
            return static_cast<int>(row);
    return -1;
}

std::string TKeyListModel::ItemStyle(const std::string& keyword) const {
    const int row = FindItem(keyword);
    return row < 0 ? std::string() : items_[static_cast<std::size_t>(row)].style;
}

void TKeyListModel::SetItemLook(const std::string& keyword, const std::string& dateLine, bool enabled,
                                const std::string& style) {
    const int row = FindItem(keyword);
    if (row < 0)
        return;
    TItem& item = items_[static_cast<std::size_t>(row)];
    item.date = dateLine;
    item.enabled = enabled;
    item.style = style;
    emit dataChanged(index(row), index(row));
}

void TKeyListModel::RefreshItem(const TKeyData& entry) {
    const int row = FindItem(entry.KeyStr);
    if (row < 0)
        return;
    TItem& item = items_[static_cast<std::size_t>(row)];
    item.count = CountText(entry.ListCount);
    item.date = LastUpdateText(entry.AddDate);
    emit dataChanged(index(row), index(row));
}

void TKeyListModel::RemoveItem(const std::string& keyword) {
    const int row = FindItem(keyword);
    if (row < 0)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    items_.erase(items_.begin() + row);
    endRemoveRows();
}

void TKeyListModel::Clear() {
    beginResetModel();
    items_.clear();
    endResetModel();
}

}  // namespace vexo
