#include "ui/GridCells.h"

#include <algorithm>
#include <vector>

#include "store/KeyUnit.h"
#include "text/Gbk.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr int kMemoMaxHeight = 80;
constexpr std::size_t kMemoMaxValuesBeforeFull = 5;
constexpr int kMemoLineHeight = 18;
constexpr int kMemoQQLineHeight = 20;
constexpr int kMemoSingleLineHeight = 20;
constexpr int kSectionGap = 10;
constexpr int kEmailBottomMargin = 20;

std::string ListCellText(const std::vector<std::string>& values) {
    std::string text = StoredListText(values);
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string CutCell(std::string text, std::size_t limit) {
    if (GbkLength(text) > limit)
        return TruncateWithEllipsis(text, limit);
    return text;
}

TSectionLayout LayoutSection(std::size_t values, int lineHeight, bool singleLineTaller, int& y) {
    TSectionLayout section;
    if (values == 0)
        return section;
    section.visible = true;
    section.top = y;
    if (values > kMemoMaxValuesBeforeFull) {
        section.height = kMemoMaxHeight;
    } else {
        section.height = lineHeight * static_cast<int>(values);
        if (singleLineTaller && values == 1)
            section.height = kMemoSingleLineHeight;
        section.height = std::min(section.height, kMemoMaxHeight);
    }
    return section;
}

}  // namespace

TPromoIcon PromoIconOf(const TComPanyInfo& record) {
    if (record.ispay == 1)
        return TPromoIcon::Promoted;
    if (record.renzheng == 1)
        return TPromoIcon::Certified;
    return TPromoIcon::Blank;
}

std::string GridCellText(const TComPanyInfo& record, int column) {
    switch (column) {
        case ColName: {
            std::string name(Trim(record.GetComName()));
            return std::string(Trim(CutCell(std::move(name), kNameCellBytes)));
        }
        case ColMobile:
            return CutCell(ListCellText(record.Mob), kMobileCellBytes);
        case ColQQ:
            return ListCellText(record.qq);
        case ColEmail:
            return ListCellText(record.EMail);
        case ColSource:
            return std::string(Trim(record.source));
        default:
            return {};
    }
}

std::string RecordCountText(std::int64_t rows) {
    return "共 " + std::to_string(rows) + " 条记录";
}

std::string TotalCountText(std::int64_t total) {
    return "当前已采集记录：" + std::to_string(total) + "条";
}

TComInfoLayout LayoutComInfo(const TComPanyInfo& record) {
    TComInfoLayout layout;
    int y = kComInfoFirstSectionTop;
    auto next = [&y](const TSectionLayout& section) {
        if (section.visible)
            y = section.top + section.height + kSectionGap;
    };
    layout.mobile = LayoutSection(record.Mob.size(), kMemoLineHeight, true, y);
    next(layout.mobile);
    layout.qq = LayoutSection(record.qq.size(), kMemoQQLineHeight, false, y);
    next(layout.qq);
    layout.email = LayoutSection(record.EMail.size(), kMemoLineHeight, true, y);
    if (layout.email.visible && layout.email.top + layout.email.height + kEmailBottomMargin > kComInfoWidth) {
        layout.email.height = kComInfoWidth - kEmailBottomMargin - layout.email.top;
        layout.email.scrollBars = true;
    }
    return layout;
}

}  // namespace vexo
