// Worksheet records, all numbers 16-bit little-endian. Cells are split at TAB in UTF-8 and converted to GBK one by
// one afterwards, so no byte of a converted text (a "|" included) can act as a separator.
#include "store/DS2Excel.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "store/Export.h"
#include "text/Gbk.h"

namespace vexo {

namespace {

constexpr std::uint16_t kRecordBof = 0x0809;
constexpr std::uint16_t kRecordCodePage = 0x0042;
constexpr std::uint16_t kRecordLabel = 0x0204;
constexpr std::uint16_t kRecordBlank = 0x0201;
constexpr std::uint16_t kRecordEof = 0x000A;
constexpr std::uint16_t kBofVersion = 0;
constexpr std::uint16_t kBofWorksheet = 0x0010;
constexpr std::uint16_t kCodePageGbk = 936;
constexpr std::uint16_t kLabelFormat = 0;
constexpr std::uint16_t kBlankFormat = 0x0017;
constexpr std::size_t kLabelFixedLength = 8;
// The record length field is 16 bits: a longer cell text is cut at a character boundary.
constexpr std::size_t kMaxLabelBytes = 0xFFFF - kLabelFixedLength;
constexpr char kCellSeparator = '\t';
// Column numbers are 16 bits as well; cells beyond are dropped.
constexpr std::size_t kMaxColumns = 0x10000;

void PutWord(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void PutRecordHead(std::string& out, std::uint16_t type, std::size_t length) {
    PutWord(out, type);
    PutWord(out, static_cast<std::uint16_t>(length));
}

// GBK bytes of the cell, cut to what a LABEL record holds without splitting a double-byte character.
std::string LabelText(std::string_view utf8) {
    std::string gbk = Utf8ToGbk(utf8);
    if (gbk.size() <= kMaxLabelBytes)
        return gbk;
    std::size_t end = 0;
    while (end < gbk.size()) {
        const std::size_t width = static_cast<unsigned char>(gbk[end]) >= 0x80 ? 2 : 1;
        if (end + width > kMaxLabelBytes)
            break;
        end += width;
    }
    gbk.resize(end);
    return gbk;
}

void PutLabel(std::string& out, std::size_t row, std::size_t column, std::string_view utf8) {
    const std::string text = LabelText(utf8);
    PutRecordHead(out, kRecordLabel, kLabelFixedLength + text.size());
    PutWord(out, static_cast<std::uint16_t>(row));
    PutWord(out, static_cast<std::uint16_t>(column));
    PutWord(out, kLabelFormat);
    PutWord(out, static_cast<std::uint16_t>(text.size()));
    out.append(text);
}

void PutBlank(std::string& out, std::size_t row, std::size_t column) {
    PutRecordHead(out, kRecordBlank, 6);
    PutWord(out, static_cast<std::uint16_t>(row));
    PutWord(out, static_cast<std::uint16_t>(column));
    PutWord(out, kBlankFormat);
}

// The cells of a line; the empty remainder after a last separator makes no cell, inner empty cells stay.
std::vector<std::string_view> SplitCells(std::string_view line) {
    std::vector<std::string_view> cells;
    std::size_t from = 0;
    for (std::size_t at = line.find(kCellSeparator); at != std::string_view::npos;
         at = line.find(kCellSeparator, from)) {
        cells.push_back(line.substr(from, at - from));
        from = at + 1;
    }
    if (from < line.size())
        cells.push_back(line.substr(from));
    return cells;
}

// Splits the text at CR LF, CR or LF, as a line list reads text back: a break at the end makes no extra line.
void AppendLinesOf(std::vector<std::string>& lines, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\r' && text[at] != '\n')
            continue;
        lines.emplace_back(text.substr(from, at - from));
        if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n')
            ++at;
        from = at + 1;
    }
    if (from < text.size())
        lines.emplace_back(text.substr(from));
}

}  // namespace

TDS2Excel::TDS2Excel(const std::vector<std::string>& lines) {
    lines_.reserve(lines.size());
    for (const std::string& line : lines) {
        if (line.find_first_of("\r\n") == std::string::npos)
            lines_.push_back(line);
        else
            AppendLinesOf(lines_, line);
    }
}

std::optional<std::string> TDS2Excel::SheetBytes(bool firstLineIsHeader) const {
    std::size_t rows = lines_.empty() ? 0 : 1;
    for (std::size_t i = 1; i < lines_.size(); ++i)
        rows += lines_[i].empty() ? 0 : 1;
    if (rows > kMaxRows)
        return std::nullopt;

    std::string out;
    PutRecordHead(out, kRecordBof, 8);
    PutWord(out, kBofVersion);
    PutWord(out, kBofWorksheet);
    PutWord(out, 0);
    PutWord(out, 0);
    PutRecordHead(out, kRecordCodePage, 2);
    PutWord(out, kCodePageGbk);

    if (!lines_.empty()) {
        const std::vector<std::string_view> header = SplitCells(lines_.front());
        const std::size_t headerCount = std::min(header.size(), kMaxColumns);
        for (std::size_t column = 0; column < headerCount; ++column)
            PutLabel(out, 0, column, header[column]);
        std::size_t row = 1;
        for (std::size_t i = 1; i < lines_.size(); ++i) {
            if (lines_[i].empty())
                continue;
            const std::vector<std::string_view> cells = SplitCells(lines_[i]);
            const std::size_t count =
                firstLineIsHeader ? std::min(cells.size(), headerCount) : std::min(cells.size(), kMaxColumns);
            for (std::size_t column = 0; column < count; ++column) {
                if (cells[column].empty())
                    PutBlank(out, row, column);
                else
                    PutLabel(out, row, column, cells[column]);
            }
            ++row;
        }
    }
    PutRecordHead(out, kRecordEof, 0);
    return out;
}

bool TDS2Excel::WriteSheetFile(const std::string& fileName, bool firstLineIsHeader) const {
    const std::optional<std::string> bytes = SheetBytes(firstLineIsHeader);
    return bytes && WriteWholeFile(fileName, *bytes);
}

}  // namespace vexo
