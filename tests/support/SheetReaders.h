// Independent readers of the spreadsheet files the export writes: python3-xlrd and a headless LibreOffice Calc
// (bash scripts/setup --tests installs both). Each gives the first sheet as rows of cell texts, rectangular as the
// reader sees it; nothing when the reader is not installed.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vexo::test {

using TSheetRows = std::vector<std::vector<std::string>>;

// True when the Debian python3 can import xlrd.
bool XlrdAvailable();
// The cells as xlrd reads them; a failure of the script fails the current test and gives no rows.
TSheetRows ReadWithXlrd(const std::filesystem::path& file);

// True when soffice is in PATH.
bool LibreOfficeAvailable();
// True when the locale is installed (as `locale -a` spells it, e.g. "zh_CN.utf8").
bool LocaleInstalled(const std::string& name);
// Converts every file in one LibreOffice run (its start is slow) to UTF-8 CSV, with a profile of its own and LANG
// and LC_ALL set to `locale`; the rows of each file by its path. A file LibreOffice could not convert is missing.
std::map<std::filesystem::path, TSheetRows> ReadWithLibreOffice(const std::vector<std::filesystem::path>& files,
                                                                const std::string& locale);

}  // namespace vexo::test
