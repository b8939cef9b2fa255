// TDS2Excel: writes export lines as a worksheet in the spreadsheet's old record format (BOF, CODEPAGE, LABEL and
// BLANK cells, EOF), readable by spreadsheet programs without any of them installed here.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vexo {

class TDS2Excel {
  public:
    // Rows and columns are 16-bit numbers in the format: at most this many rows, the header included.
    static constexpr std::size_t kMaxRows = 65536;

    // The lines as UTF-8 texts with cells separated by TAB. A line holding line breaks counts as several lines.
    explicit TDS2Excel(const std::vector<std::string>& lines);

    // The stream for the lines. The first line fixes the columns when `firstLineIsHeader` (a cell past its last
    // cell is dropped from every later row); otherwise every cell of every row is kept. Nothing when the rows
    // would not fit the format.
    std::optional<std::string> SheetBytes(bool firstLineIsHeader) const;

    // Replaces the file with the stream; the name is used unchanged. False, leaving an existing file untouched,
    // when the rows do not fit the format; false when writing or closing the file fails.
    bool WriteSheetFile(const std::string& fileName, bool firstLineIsHeader) const;

  private:
    std::vector<std::string> lines_;
};

}  // namespace vexo
