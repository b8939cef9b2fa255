// What the results grid and the company-details window show of a company record: cell texts, the promotion
// icon and the details window's section layout. Plain functions of the record, so they are computed only for the
// cells being painted and can be checked without a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "store/UntObject.h"

namespace vexo {

// Grid columns, left to right.
enum TGridColumn : int {
    ColIcon = 0,
    ColName = 1,
    ColMobile = 2,
    ColQQ = 3,
    ColEmail = 4,
    ColSource = 5,
    GridColumnCount = 6,
};

inline constexpr std::size_t kNameCellBytes = 34;
inline constexpr std::size_t kMobileCellBytes = 26;

enum class TPromoIcon { Promoted, Certified, Blank };

// Promoted when ispay is 1, else certified when renzheng is 1, else blank.
TPromoIcon PromoIconOf(const TComPanyInfo& record);

// The value of a text column (ColName .. ColSource): the name trimmed and cut at 34 GBK bytes, the contact lists
// as stored (each value followed by CR LF) with line feeds as spaces, the mobiles cut at 26 bytes, the source
// trimmed. Empty for ColIcon and unknown columns.
std::string GridCellText(const TComPanyInfo& record, int column);

// "共 %d 条记录" and "当前已采集记录：" + total + "条".
std::string RecordCountText(std::int64_t rows);
std::string TotalCountText(std::int64_t total);

// Layout of one contact section of the details window (label and memo share the top).
struct TSectionLayout {
    bool visible = false;
    int top = 0;
    int height = 0;
    bool scrollBars = false;
};

struct TComInfoLayout {
    TSectionLayout mobile;
    TSectionLayout qq;
    TSectionLayout email;
};

inline constexpr int kComInfoFirstSectionTop = 149;
inline constexpr int kComInfoWidth = 447;
inline constexpr int kComInfoHeight = 466;

// The sections from the top: an empty list is hidden; a list of more than five values gets 80 pixels, else 18 per
// value (mobile, e-mail; 20 for a single value) or 20 per value (QQ), at most 80; the next section starts 10
// pixels below. An e-mail memo reaching within 20 pixels of the window's width is shortened and scrolls.
TComInfoLayout LayoutComInfo(const TComPanyInfo& record);

}  // namespace vexo
