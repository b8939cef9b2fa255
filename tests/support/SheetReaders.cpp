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
// Cells and rows of the script's output are separated by the ASCII unit and record separators.
constexpr char kCellMark = '\x1f';
constexpr char kRowMark = '\x1e';
constexpr const char* kXlrdScript = R"(import sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
rows = ["\x1f".join(str(sheet.cell_value(r, c)) for c in range(sheet.ncols)) for r in range(sheet.nrows)]
sys.stdout.write("".join(row + "\x1e" for row in rows))
)";
// CSV export filter: "," between fields, '"' around texts, UTF-8 (76), from the first line.
constexpr const char* kCsvFilter = "csv:Text - txt - csv (StarCalc):44,34,76,1";

fs::path MakeTempDir(const char* name) {
    std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        return {};
    return pattern;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// RFC 4180 rows: quoted fields may hold separators, quotes ("") and line breaks.
TSheetRows ParseCsv(const std::string& text) {
    TSheetRows rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell.push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell.push_back(c);
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::exchange(cell, {}));
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            row.push_back(std::exchange(cell, {}));
            rows.push_back(std::exchange(row, {}));
        } else {
            cell.push_back(c);
        }
    }
    if (!cell.empty() || !row.empty()) {
        row.push_back(cell);
        rows.push_back(row);
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
    TSheetRows rows;
    std::vector<std::string> row;
    std::string cell;
    for (char c : run.out) {
        if (c == kCellMark) {
            row.push_back(std::exchange(cell, {}));
        } else if (c == kRowMark) {
            row.push_back(std::exchange(cell, {}));
            rows.push_back(std::exchange(row, {}));
        } else {
            cell.push_back(c);
        }
    }
    return rows;
}

bool LibreOfficeAvailable() {
    return RunProgram({"sh", "-c", "command -v soffice"}).exitCode == 0;
}

bool LocaleInstalled(const std::string& name) {
    const std::string list = "\n" + RunProgram({"locale", "-a"}).out;
    return list.find("\n" + name + "\n") != std::string::npos;
}

std::map<fs::path, TSheetRows> ReadWithLibreOffice(const std::vector<fs::path>& files, const std::string& locale) {
    const fs::path work = MakeTempDir("vexo-soffice");
    std::vector<std::string> argv{"env",
                                  "LANG=" + locale,
                                  "LC_ALL=" + locale,
                                  "soffice",
                                  "-env:UserInstallation=file://" + (work / "profile").string(),
                                  "--headless",
                                  "--convert-to",
                                  kCsvFilter,
                                  "--outdir",
                                  (work / "csv").string()};
    for (const fs::path& file : files)
        argv.push_back(file.string());
    const TProgramRun run = RunProgram(argv);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;

    std::map<fs::path, TSheetRows> sheets;
    for (const fs::path& file : files) {
        const fs::path csv = work / "csv" / file.filename().replace_extension(".csv");
        if (fs::exists(csv))
            sheets[file] = ParseCsv(ReadFile(csv));
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return sheets;
}

}  // namespace vexo::test
