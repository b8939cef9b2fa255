// Export of a keyword's companies to a file: the field choice, the lines of the export (built in memory from the
// company list, one text per line, cells joined by the format's field separator) and the writers of both formats.
// The store's ExportKey walks the list under the store lock and hands the lines to these writers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/KeyUnit.h"

namespace vexo {

// The boxes of the field chooser. The address box is unticked before every export, so Addr stays false there.
struct TExportChoice {
    bool Name = true;
    bool QQ = true;
    bool Mob = true;
    bool EMail = true;
    bool Addr = false;
    bool WebUrl = true;
    bool TextFormat = false;
};

// Field and value separators of the two formats.
inline constexpr std::string_view kTextFieldSeparator = ",";
inline constexpr std::string_view kTextValueSeparator = ",";
inline constexpr std::string_view kSheetFieldSeparator = "\t";
inline constexpr std::string_view kSheetValueSeparator = ", ";

// Header captions, in the fixed field order.
inline constexpr std::string_view kCaptionName = "公司名";
inline constexpr std::string_view kCaptionMob = "手机";
inline constexpr std::string_view kCaptionQQ = "QQ";
inline constexpr std::string_view kCaptionEMail = "邮箱";
inline constexpr std::string_view kCaptionAddr = "地址";
inline constexpr std::string_view kCaptionWebUrl = "网址";

// The export's lines (UTF-8, without line ends) for the companies in list order: the captions of the selected
// fields when more than one is selected, then one row per company (a row of empty cells is left out). A single
// selected contact list instead gives each of its values as a line, unchanged, and nothing else.
std::vector<std::string> BuildExportLines(const TCompanyList& companies, const TExportChoice& choice);

// Writes the lines to the file, replacing it: GBK (a character without a GBK form becomes "?"), every line ended
// by CR LF, no byte-order mark. False when the file cannot be written completely, a full disk included.
bool WriteTextExport(const std::string& fileName, const std::vector<std::string>& lines);

// The spreadsheet path. There is no spreadsheet application to drive on this platform, so the record-format
// writer (TDS2Excel) is the whole path; the clipboard is left alone. False when nothing or not everything could be
// written (more rows than the format holds writes nothing).
bool SaveAsSpreadsheet(const std::string& fileName, const std::vector<std::string>& lines);

// Replaces the file's content with the bytes; false unless every byte reached the file and it closed cleanly.
bool WriteWholeFile(const std::string& fileName, std::string_view bytes);

}  // namespace vexo
