// Independent readers of the spreadsheet files the export writes: python3-xlrd and a headless LibreOffice Calc
// (bash scripts/setup --tests installs both). Each gives the first sheet as rows of cell texts, as wide as the
// reader sees the sheet.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vexo::test {

using TSheetRows = std::vector<std::vector<std::string>>;

bool XlrdAvailable();
TSheetRows ReadWithXlrd(const std::filesystem::path& file);

bool LibreOfficeAvailable();
// True when `locale -a` lists the locale (spelt as it does, e.g. "zh_CN.utf8").
bool LocaleInstalled(const std::string& name);
// Reads every file in one LibreOffice run (its start is slow), with a profile of its own and LANG and LC_ALL set to
// `locale` (looked up in `locales` first when given, see BuildUtf8Locale); the rows by file. A file LibreOffice
// could not convert is missing.
std::map<std::filesystem::path, TSheetRows> ReadWithLibreOffice(const std::vector<std::filesystem::path>& files,
                                                                const std::string& locale,
                                                                const std::filesystem::path& locales = {});

}  // namespace vexo::test
