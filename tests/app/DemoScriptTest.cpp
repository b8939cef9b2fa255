// scripts/demo without a display, end to end on the built programs: it collects the keyword from the simulated
// web through vexo-cli, lists the companies, exports them to a spreadsheet file, and leaves no simulated web
// running.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/DemoWeb.h"
#include "sim/SimWeb.h"
#include "support/ChildProcess.h"
#include "support/SheetReaders.h"
#include "support/TempHome.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kKeyword[] = "广州 电子公司";
constexpr char kExportedLine[] = "demo: exported to ";
constexpr auto kScriptLimit = 180s;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The value of a string member of a one-line JSON object (values without escapes).
std::string JsonMember(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const std::size_t start = line.find(key);
    if (start == std::string::npos)
        return {};
    const std::size_t from = start + key.size();
    return line.substr(from, line.find('"', from) - from);
}

TEST(DemoScriptTest, WithoutADisplayCollectsListsAndExportsTheKeywordAndStopsTheSimulatedWeb) {
    // The names the keyword's advertisers with a mobile number carry: those are stored, the others are not.
    std::set<std::string> expected;
    {
        sim::TSimWeb web;
        sim::TDemoWeb demo(web);
        for (const sim::TDemoSite& site : demo.Sites()) {
            const sim::TSimCompany& company = demo.Engines().Company(site.Company);
            if (site.Keyword == kKeyword && !company.Mobile.empty())
                expected.insert(company.Name);
        }
    }
    ASSERT_FALSE(expected.empty());

    test::TTempHome temp;
    const fs::path& dir = temp.Dir();
    std::vector<std::string> environment =
        test::EnvironmentWithout({"DISPLAY", "WAYLAND_DISPLAY", "VEXO_HOME", "VEXO_BUILD_DIR", "VEXO_TEST_GATE_SCALE",
                                  "VEXO_DEMO_GATE_SCALE", "TMPDIR", "http_proxy", "HTTP_PROXY", "no_proxy"});
    environment.push_back("VEXO_BUILD_DIR=" + fs::path(VEXO_CLI_PATH).parent_path().string());
    environment.push_back("TMPDIR=" + dir.string());
    const pid_t pid =
        test::SpawnChild({"/bin/bash", VEXO_DEMO_SCRIPT}, environment, (dir / "out").string(), (dir / "err").string());
    ASSERT_GT(pid, 0);
    const std::optional<int> status = test::WaitForChild(pid, kScriptLimit);
    if (!status)
        test::KillChildGroup(pid);
    const std::string out = ReadAll(dir / "out");
    const std::string err = ReadAll(dir / "err");
    ASSERT_TRUE(status.has_value()) << "still running after the limit\n" << out << err;
    ASSERT_EQ(*status, 0) << out << err;

    // Nothing of the simulated web is left: no process of the program started for this folder.
    const std::vector<pid_t> left = test::ProcessesRunning(VEXO_SIMWEB_PATH, dir.string());
    EXPECT_TRUE(left.empty()) << left.size() << " vexo-simweb still running";
    for (const pid_t stray : left)
        kill(stray, SIGTERM);

    std::set<std::string> listed;
    std::string summary;
    fs::path sheet;
    for (const std::string& line : Lines(out)) {
        if (line.starts_with("{\"listid\":")) {
            EXPECT_TRUE(listed.insert(JsonMember(line, "name")).second) << line;
        } else if (line.starts_with(kKeyword + std::string(": "))) {
            summary = line;
        } else if (line.starts_with(kExportedLine)) {
            sheet = line.substr(std::string_view(kExportedLine).size());
        }
    }
    // Normally every one of them; a stop by the idle-page rule on a slow machine may come before the last site
    // visits, so fewer is no failure. A company without a mobile number or of another keyword is.
    ASSERT_FALSE(listed.empty()) << out << err;
    for (const std::string& name : listed)
        EXPECT_EQ(expected.count(name), 1u) << name << " is not one of the keyword's companies with a mobile number";
    EXPECT_TRUE(summary.starts_with(kKeyword + std::string(": ") + std::to_string(listed.size()) +
                                    " companies stored; pages baidu "))
        << summary;

    ASSERT_FALSE(sheet.empty()) << out;
    EXPECT_EQ(sheet.parent_path().parent_path(), dir);  // in the script's work folder under TMPDIR
    const std::string bytes = ReadAll(sheet);
    ASSERT_GE(bytes.size(), 2u) << sheet;
    EXPECT_EQ(bytes.substr(0, 2), std::string("\x09\x08", 2));  // the workbook's BOF record
    if (test::XlrdAvailable()) {
        const test::TSheetRows rows = test::ReadWithXlrd(sheet);
        ASSERT_EQ(rows.size(), listed.size() + 1);  // the captions, then a row per company
        std::set<std::string> names;
        for (std::size_t row = 1; row < rows.size(); ++row) {
            ASSERT_FALSE(rows[row].empty());
            names.insert(rows[row][0]);
        }
        EXPECT_EQ(names, listed);
    } else {
        std::printf("python3-xlrd is missing (bash scripts/setup --tests): the rows of the sheet are not read\n");
    }
}

}  // namespace
}  // namespace vexo
