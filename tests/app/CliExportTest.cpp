// vexo-cli export end to end: the built program on a temporary program folder filled through the sqlite3 shell,
// its refusals and failures, an export beside a program holding the writer lock, the row limit of a worksheet, and
// the files opened by headless LibreOffice Calc and python3-xlrd.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "store/WriterLock.h"
#include "support/Locales.h"
#include "support/SheetReaders.h"
#include "support/TempHome.h"
#include "text/Gbk.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::TProgramRun;
using test::TSheetRows;

constexpr const char* kExportFailed = "数据导出失败！";

// The sample keyword "k" with the default fields, as a sheet: a row whose last cells are empty still takes its own
// row, "|" in a name shifts nothing, a character outside GBK is "?", and a nameless company's number stays in its
// column.
const TSheetRows kSampleSheet{
    {"公司名", "手机", "QQ", "邮箱", "网址"},
    {"某某公司", "A, B", "", "a?@b.c", "http://x,y"},
    {"Last Ltd", "", "", "", ""},
    {"Foo|Bar", "139", "", "", ""},
    {"", "138", "", "", ""},
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class CliExportTest : public ::testing::Test {
  protected:
    TProgramRun Cli(std::vector<std::string> args) {
        args.insert(args.begin(), VEXO_CLI_PATH);
        return test::RunProgram(args);
    }

    std::string Sql(const std::string& sql) { return test::RunSqlite(home_.DatabasePath(), sql); }

    // Keyword "k" (ID 1) with the sample companies and "empty" (ID 2) without any.
    void AddSampleKeywords() {
        ASSERT_EQ(Cli({"add", "k"}).exitCode, 0);
        ASSERT_EQ(Cli({"add", "empty"}).exitCode, 0);
        Sql("insert into tbl_list(ComName, mob, qq, EMail, weburl, keyid) values "
            "('某某公司', 'A' || char(13,10) || 'B' || char(13,10), '', 'a😀@b.c' || char(13,10), 'http://x,y', 1),"
            "('Last Ltd', '', '', '', '', 1),"
            "('Foo|Bar', '139' || char(13,10), '', '', '', 1),"
            "('', '138' || char(13,10), '', '', '', 1)");
    }

    fs::path File(const std::string& name) const { return home_.Dir() / name; }

    test::TTempHome home_;
};

TEST_F(CliExportTest, BadArgumentsAreRefusedWithOneLine) {
    AddSampleKeywords();
    const std::string file = File("out").string();
    const std::vector<std::vector<std::string>> refused{{"export"},
                                                        {"export", "k"},
                                                        {"export", "k", file, "extra"},
                                                        {"export", "k", file, "--format", "csv"},
                                                        {"export", "k", file, "--format"},
                                                        {"export", "k", file, "--fields", "name,addr"},
                                                        {"export", "k", file, "--fields", "name,"},
                                                        {"export", "k", file, "--bogus"}};
    for (const auto& args : refused) {
        const TProgramRun run = Cli(args);
        EXPECT_EQ(run.exitCode, 2) << args.size();
        EXPECT_EQ(run.err.rfind("vexo-cli: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(fs::exists(file)) << run.err;
    }
}

TEST_F(CliExportTest, NothingToExportOrAFailedWriteSaysTheExportFailed) {
    // No database yet: no keyword is known.
    TProgramRun run = Cli({"export", "k", File("out").string()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(kExportFailed), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(home_.Dir() / "Data"));

    AddSampleKeywords();
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"unknown", File("out").string()},
                                               {"empty", File("out").string()},
                                               {"k", "/dev/full"},
                                               {"k", "/dev/full", "--format", "txt"}}) {
        std::vector<std::string> command{"export"};
        command.insert(command.end(), args.begin(), args.end());
        run = Cli(command);
        EXPECT_EQ(run.exitCode, 2) << args[0] << " " << args[1];
        EXPECT_NE(run.err.find(kExportFailed), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(File("out")));
}

TEST_F(CliExportTest, ExportsBesideAProgramHoldingTheWriterLock) {
    AddSampleKeywords();
    TWriterLock held((home_.Dir() / "Data" / "users.lock").string());

    // Text: GBK, CR LF, the file replaced; list values and fields share the comma; no field gives an empty file.
    std::ofstream(File("k.txt"), std::ios::binary) << std::string(1000, 'x');
    TProgramRun run = Cli({"export", "K", File("k.txt").string(), "--format", "txt"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(ReadBytes(File("k.txt")), Utf8ToGbk("公司名,手机,QQ,邮箱,网址\r\n某某公司,A,B,,a?@b.c,http://xy\r\n"
                                                  "Last Ltd,,,,\r\nFoo|Bar,139,,,\r\n,138,,,\r\n"));
    run = Cli({"export", "k", File("mob.txt").string(), "--format", "txt", "--fields", "mob"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadBytes(File("mob.txt")), "A\r\nB\r\n139\r\n138\r\n");
    EXPECT_EQ(Cli({"export", "k", File("k.txt").string(), "--format", "txt", "--fields", ""}).exitCode, 0);
    EXPECT_EQ(ReadBytes(File("k.txt")), "");

    // The default: the chooser's initial boxes, spreadsheet format.
    run = Cli({"export", "k", File("k.xls").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadBytes(File("k.xls")).substr(0, 18),
              std::string("\x09\x08\x08\0\0\0\x10\0\0\0\0\0\x42\0\x02\0\xA8\x03", 18));
    if (!test::XlrdAvailable())
        GTEST_SKIP() << "python3-xlrd is not installed (bash scripts/setup --tests): the sheet was not read back";
    EXPECT_EQ(test::ReadWithXlrd(File("k.xls")), kSampleSheet);
}

// A keyword of 65 536 companies: with the header its sheet would have one row too many, so that export fails and
// leaves the file as it was; the names alone (no header) fill the sheet to its last row, and LibreOffice opens it.
TEST_F(CliExportTest, FullSheetOpensInLibreOfficeAndOneRowMoreFails) {
    AddSampleKeywords();
    Sql("insert into tbl_key(KeyStr, listcount) values ('big', 0);"
        "with recursive n(i) as (select 1 union all select i + 1 from n where i < 65536) "
        "insert into tbl_list(ComName, mob, keyid) select '公司' || i, '13' || i || char(13,10), 3 from n");
    std::ofstream(File("big.xls"), std::ios::binary) << "old content";
    TProgramRun run = Cli({"export", "big", File("big.xls").string()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(kExportFailed), std::string::npos) << run.err;
    EXPECT_TRUE(ReadBytes(File("big.xls")) == "old content") << "the failed export changed the file";

    run = Cli({"export", "big", File("big.xls").string(), "--fields", "name"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(Cli({"export", "k", File("k.xls").string()}).exitCode, 0);

    if (!test::LibreOfficeAvailable())
        GTEST_SKIP()
            << "LibreOffice (soffice) is not installed (bash scripts/setup --tests): the sheets were not opened";
    // The Chinese locale as the machine has it, or built for the test.
    std::vector<std::pair<std::string, fs::path>> locales{{"C.UTF-8", {}}};
    const fs::path built = File("locales");
    fs::create_directories(built);
    if (test::LocaleInstalled("zh_CN.utf8"))
        locales.emplace_back("zh_CN.UTF-8", fs::path());
    else if (test::BuildUtf8Locale("zh_CN", built))
        locales.emplace_back("zh_CN.UTF-8", built);
    for (const auto& [locale, folder] : locales) {
        auto sheets = test::ReadWithLibreOffice({File("k.xls"), File("big.xls")}, locale, folder);
        EXPECT_EQ(sheets[File("k.xls")], kSampleSheet) << locale;
        const TSheetRows& big = sheets[File("big.xls")];
        ASSERT_EQ(big.size(), 65536u) << locale;
        EXPECT_EQ(big.front(), std::vector<std::string>{"公司1"});
        EXPECT_EQ(big.back(), std::vector<std::string>{"公司65536"});
    }
    if (locales.size() == 1)
        std::cout << "zh_CN.UTF-8 cannot be built here: LibreOffice read the sheets under C.UTF-8 only\n";
}

}  // namespace
}  // namespace vexo
