// vexo-cli end to end: the built program run on real files, its JSON output, error lines and exit codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TempHome.h"
#include "text/Gbk.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

using test::RunProgram;
using TRun = test::TProgramRun;

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vexo-cli-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string WriteFile(const std::string& name, std::string_view bytes) {
        fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // Runs vexo-cli with the arguments.
    static TRun Run(const std::vector<std::string>& args) {
        std::vector<std::string> argv{VEXO_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv);
    }

    fs::path dir_;
};

constexpr std::string_view kContactPage =
    "<html><head><title>广州某某电子有限公司-联系我们</title></head>\r\n"
    "<body><p>电话：020-12345678 手机：13812345678</p>\r\n"
    "<p>邮箱：Sales@Example.com <a href=\"tencent://msgrd?v=3&uin=12345678&site=qq\">QQ</a></p>\r\n"
    "<p>地址：广州市天河区体育西路100号<br/></p></body></html>\r\n";

TEST_F(CliTest, ExtractPrintsTheRecordAsOneJsonLine) {
    TRun run = Run({"extract", WriteFile("contact.html", kContactPage)});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              "{\"ready\":true,\"name\":\"广州某某电子有限公司\",\"tel\":[\"020-12345678\"],\"mob\":[\"13812345678\"],"
              "\"email\":[\"Sales@Example.com\"],\"qq\":[\"12345678\"],\"addr\":\"广州市天河区体育西路100号\"}\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(CliTest, ExtractReadsGbkPages) {
    TRun run = Run({"extract", WriteFile("gbk.html", Utf8ToGbk(kContactPage))});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              "{\"ready\":true,\"name\":\"广州某某电子有限公司\",\"tel\":[\"020-12345678\"],\"mob\":[\"13812345678\"],"
              "\"email\":[\"Sales@Example.com\"],\"qq\":[\"12345678\"],\"addr\":\"广州市天河区体育西路100号\"}\n");
}

TEST_F(CliTest, ExtractRuleAndNameOptions) {
    std::string page = WriteFile("p.html", "<title>首页-广州某某电子有限公司_产品中心</title> 13812345678");
    EXPECT_EQ(Run({"extract", page}).out,
              "{\"ready\":true,\"name\":\"首页广州某某电子有限公司产品中心\",\"tel\":[],\"mob\":[\"13812345678\"],"
              "\"email\":[],\"qq\":[],\"addr\":\"\"}\n");
    EXPECT_EQ(Run({"extract", "--rule", "company-word", page}).out,
              "{\"ready\":true,\"name\":\"广州某某电子有限公司\",\"tel\":[],\"mob\":[\"13812345678\"],"
              "\"email\":[],\"qq\":[],\"addr\":\"\"}\n");
    // A given name is normalised and wins over the title.
    EXPECT_EQ(Run({"extract", "--name", "深圳,某某.公司", "--rule", "first-title", page}).out,
              "{\"ready\":true,\"name\":\"深圳 某某公司\",\"tel\":[],\"mob\":[\"13812345678\"],"
              "\"email\":[],\"qq\":[],\"addr\":\"\"}\n");
}

TEST_F(CliTest, ExtractWithoutPhoneNumberIsNotReady) {
    TRun run = Run({"extract", WriteFile("e.html", "<title>某某公司</title> a@b.cn")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "{\"ready\":false,\"name\":\" \",\"tel\":[],\"mob\":[],\"email\":[],\"qq\":[],\"addr\":\"\"}\n");
}

TEST_F(CliTest, JsonEscapesQuotesBackslashesAndControlCharacters) {
    std::string page = WriteFile("esc.html", "<title>\"某\\某\"\t公司\x01</title> 13812345678");
    EXPECT_EQ(Run({"extract", page}).out,
              "{\"ready\":true,\"name\":\"\\\"某\\\\某\\\"\\u0009公司\\u0001\",\"tel\":[],\"mob\":[\"13812345678\"],"
              "\"email\":[],\"qq\":[],\"addr\":\"\"}\n");
    TRun run = Run({"match", "a.c",
                    WriteFile("m.txt",
                              "a\"c a\\c a\x1f"
                              "c")});
    EXPECT_EQ(run.out, "[\"a\\\"c\",\"a\\\\c\",\"a\\u001fc\"]\n");
}

TEST_F(CliTest, MatchPrintsAllMatchesIgnoringCase) {
    TRun run = Run({"match", "ab+", WriteFile("m.txt", "ab ABB x aBbB\r\nab")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "[\"ab\",\"ABB\",\"aBbB\",\"ab\"]\n");
    EXPECT_EQ(Run({"match", "zzz", WriteFile("n.txt", "abc")}).out, "[]\n");
    // The page is decoded like a company page: GBK becomes UTF-8, and the pattern is UTF-8.
    EXPECT_EQ(Run({"match", "地.址", WriteFile("g.txt", Utf8ToGbk("地x址 地址"))}).out, "[\"地x址\"]\n");
}

TEST_F(CliTest, InputThatIsNeitherUtf8NorGbkStillGivesValidJson) {
    // GBK text with a byte that is no GBK lead (0xFF) and a lead byte followed by a space (0x81); 0x80 is the
    // euro sign in this code page.
    std::string bytes = Utf8ToGbk("<title>某") + "\xff\x80" + Utf8ToGbk("公司</title>") + "\x81 13812345678";
    TRun run = Run({"match", "<title>.*</title>", WriteFile("bad.html", bytes)});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "[\"<title>某?€公司</title>\"]\n");
    TRun extract = Run({"extract", WriteFile("bad2.html", bytes)});
    EXPECT_EQ(extract.exitCode, 0);
    EXPECT_TRUE(IsValidUtf8(extract.out));
    EXPECT_NE(extract.out.find("\"mob\":[\"13812345678\"]"), std::string::npos);
}

TEST_F(CliTest, EmptyAndNulFilesAreHandled) {
    EXPECT_EQ(Run({"extract", WriteFile("empty.html", "")}).out,
              "{\"ready\":false,\"name\":\" \",\"tel\":[],\"mob\":[],\"email\":[],\"qq\":[],\"addr\":\"\"}\n");
    // Everything after the NUL is ignored.
    using namespace std::string_literals;
    TRun run = Run({"match", "\\d+", WriteFile("nul.html", "123\0 13812345678"s)});
    EXPECT_EQ(run.out, "[\"123\"]\n");
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    std::string page = WriteFile("p.html", "13812345678");
    struct TCase {
        std::vector<std::string> args;
        std::string errorPart;
    };
    const std::vector<TCase> cases = {
        {{}, "usage"},
        {{"frobnicate"}, "unknown command"},
        {{"extract"}, "usage"},
        {{"extract", (dir_ / "missing.html").string()}, "missing.html"},
        {{"extract", dir_.string()}, "cannot read"},
        {{"extract", "--rule", "best", page}, "unknown rule"},
        {{"extract", "--rule"}, "needs a value"},
        {{"extract", "--verbose", page}, "unknown option"},
        {{"extract", page, page}, "one FILE"},
        {{"match", "(", page}, "invalid pattern"},
        {{"match", "a"}, "usage"},
        {{"match", "a", (dir_ / "missing.txt").string()}, "missing.txt"},
        // Line breaks in an argument that the message quotes stay out of the one line.
        {{"match", "(a\nb", page}, "invalid pattern"},
        {{"extract", (dir_ / "two\r\nlines.html").string()}, "lines.html"},
        {{"fro\nbnicate"}, "unknown command"},
    };
    for (const TCase& c : cases) {
        TRun run = Run(c.args);
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        EXPECT_EQ(run.exitCode, 2) << joined;
        EXPECT_EQ(run.out, "") << joined;
        EXPECT_NE(run.err.find(c.errorPart), std::string::npos) << joined << "-> " << run.err;
        // Errors are one line; only the bare program name prints the whole usage text.
        if (!c.args.empty()) {
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << joined;
        }
    }
}

TEST_F(CliTest, HelpListsTheCommands) {
    TRun run = Run({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("extract"), std::string::npos);
    EXPECT_NE(run.out.find("match"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

TEST_F(CliTest, TenMegabyteSingleLinePage) {
    std::string body = "<title>某某公司</title>";
    body.append(10 * 1024 * 1024, 'x');
    body += " 13812345678 地址：广州市天河区体育西路100号";
    TRun run = Run({"extract", WriteFile("big.html", body)});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              "{\"ready\":true,\"name\":\"某某公司\",\"tel\":[],\"mob\":[\"13812345678\"],\"email\":[],\"qq\":[],"
              "\"addr\":\"广州市天河区体育西路100号\"}\n");
}

}  // namespace
}  // namespace vexo
