#include "support/SheetReaders.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "support/TempHome.h"

namespace vexo::test {

namespace {

namespace fs = std::filesystem;

// Debian's python, where python3-xlrd installs; a python3 earlier in PATH may lack the module.
constexpr const char* kPython = "/usr/bin/python3";
// Both readers print a sheet as lines of cells separated by TAB (the export's cells hold neither).
constexpr const char* kXlrdScript = R"(import sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
for r in range(sheet.nrows):
    print("\t".join(str(sheet.cell_value(r, c)) for c in range(sheet.ncols)))
)";
// Text export filter: TAB between cells, no quotes, UTF-8 (76), from the first line.
constexpr const char* kTabbedFilter = "csv:Text - txt - csv (StarCalc):9,,76,1";

TSheetRows SplitRows(const std::string& text) {
    TSheetRows rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cells{""};
        for (char c : line) {
            if (c == '\t')
                cells.emplace_back();
            else
                cells.back().push_back(c);
        }
        rows.push_back(std::move(cells));
    }
    return rows;
}

}  // namespace

bool XlrdAvailable() {
    return RunProgram({kPython, "-c", "import xlrd"}).exitCode == 0;
}

TSheetRows ReadWithXlrd(const fs::path& file) {
    const TProgramRun run = RunProgram({kPython, "-c", kXlrdScript, file.string()});
    EXPECT_EQ(run.exitCode, 0) << "xlrd cannot read " << file << ":\n" << run.err;
    return SplitRows(run.out);
}

bool LibreOfficeAvailable() {
    return RunProgram({"sh", "-c", "command -v soffice"}).exitCode == 0;
}

bool LocaleInstalled(const std::string& name) {
    return ("\n" + RunProgram({"locale", "-a"}).out).find("\n" + name + "\n") != std::string::npos;
}

std::map<fs::path, TSheetRows> ReadWithLibreOffice(const std::vector<fs::path>& files, const std::string& locale,
                                                   const fs::path& locales) {
    std::string work = (fs::temp_directory_path() / "vexo-soffice-XXXXXX").string();
    if (mkdtemp(work.data()) == nullptr)
        return {};
    std::vector<std::string> argv{"env",
                                  "LANG=" + locale,
                                  "LC_ALL=" + locale,
                                  "soffice",
                                  "-env:UserInstallation=file://" + work + "/profile",
                                  "--headless",
                                  "--convert-to",
                                  kTabbedFilter,
                                  "--outdir",
                                  work + "/out"};
    if (!locales.empty())
        argv.insert(argv.begin() + 1, "LOCPATH=" + locales.string());
    for (const fs::path& file : files)
        argv.push_back(file.string());
    const TProgramRun run = RunProgram(argv);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;

    std::map<fs::path, TSheetRows> sheets;
    for (const fs::path& file : files) {
        std::ifstream in(fs::path(work) / "out" / file.filename().replace_extension(".csv"), std::ios::binary);
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            sheets[file] = SplitRows(text.str());
        }
    }
    fs::remove_all(work);
    return sheets;
}

}  // namespace vexo::test
