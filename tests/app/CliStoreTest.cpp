// vexo-cli's store commands end to end: the built program run with VEXO_HOME on a temporary folder, checked
// against what the sqlite3 shell sees, with damaged and locked databases and a second writer.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "store/WriterLock.h"
#include "support/TempHome.h"

namespace vexo {
namespace {

using test::TProgramRun;

class CliStoreTest : public ::testing::Test {
  protected:
    TProgramRun Cli(std::vector<std::string> args) {
        args.insert(args.begin(), VEXO_CLI_PATH);
        return test::RunProgram(args);
    }

    std::string Sql(const std::string& sql) { return test::RunSqlite(home_.DatabasePath(), sql); }

    test::TTempHome home_;
};

TEST_F(CliStoreTest, AddListAndDeleteKeywords) {
    // Without a database there is nothing to list, and a reader makes none.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"keywords"}, {"companies", "k"}}) {
        const TProgramRun run = Cli(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
    }
    EXPECT_FALSE(std::filesystem::exists(home_.Dir() / "Data"));

    TProgramRun run = Cli({"add", "广州 电子公司"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string fields =
        R"({"id":1,"keyword":"广州 电子公司","count":0,"lastpage":0,"sglastpage":0,"s360lastpage":0,"adddate":)";
    ASSERT_EQ(run.out.substr(0, fields.size()), fields) << run.out;
    // The date with every digit as "9": its shape, whatever the time.
    std::string date = run.out.substr(fields.size());
    std::replace_if(
        date.begin(), date.end(), [](char c) { return c >= '0' && c <= '9'; }, '9');
    EXPECT_EQ(date, "\"9999-99-99 99:99:99\"}\n") << run.out;
    EXPECT_EQ(Cli({"add", "Say \"hi\""}).exitCode, 0);
    // Another letter case is the same keyword: printed, not added.
    run = Cli({"add", "say \"HI\""});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find(R"("id":2,"keyword":"Say \"hi\"")"), std::string::npos) << run.out;
    EXPECT_EQ(Sql("select count(*) from tbl_key"), "2\n");

    run = Cli({"keywords"});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2);
    EXPECT_EQ(run.out.find(R"({"id":1,)"), 0u);
    EXPECT_NE(run.out.find("\n{\"id\":2,"), std::string::npos);

    EXPECT_EQ(Cli({"delete", "广州 电子公司"}).exitCode, 0);
    EXPECT_EQ(Sql("select KeyStr from tbl_key"), "Say \"hi\"\n");
    run = Cli({"delete", "广州 电子公司"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "vexo-cli: no keyword '广州 电子公司'\n");
}

TEST_F(CliStoreTest, KeywordsShowTheStoredCursorsAndDate) {
    ASSERT_EQ(Cli({"add", "k"}).exitCode, 0);
    Sql("delete from tbl_key; insert into tbl_key values (7, 'k', 12, 3, 'x', null, 86400)");
    const TProgramRun run = Cli({"keywords"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, R"({"id":7,"keyword":"k","count":12,"lastpage":3,"sglastpage":0,"s360lastpage":0,)"
                       R"("adddate":"1970-01-02 00:00:00"})"
                       "\n");
}

TEST_F(CliStoreTest, CompaniesPrintsEveryCompanyOfTheKeyword) {
    ASSERT_EQ(Cli({"add", "k"}).exitCode, 0);
    ASSERT_EQ(Cli({"add", "other"}).exitCode, 0);
    Sql("insert into tbl_list values (1, '联系我们北京某某公司', 'Addr \"1\"', 'http://a.example', 'a@a.example' || "
        "char(13,10), '010-1|010-2', '13800000001' || char(13,10), '', '百度', 1, 0, 1, 0);"
        "insert into tbl_list values (2, 'Other Ltd', '', '', '', '', '1', '', '', 0, 0, 2, 0);"
        "insert into tbl_list(ComName, mob, keyid, renzheng) values ('Second Ltd', '139', 1, 1)");

    const TProgramRun run = Cli({"companies", "K"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              R"({"listid":1,"name":"北京某某公司","addr":"Addr \"1\"","weburl":"http://a.example",)"
              R"("tel":["010-1","010-2"],"mob":["13800000001"],"email":["a@a.example"],"qq":[],"source":"百度",)"
              R"("ispay":1,"renzheng":0})"
              "\n"
              R"({"listid":3,"name":"Second Ltd","addr":"","weburl":"","tel":[],"mob":["139"],"email":[],"qq":[],)"
              R"("source":"","ispay":0,"renzheng":1})"
              "\n");

    EXPECT_EQ(Cli({"companies", "unknown"}).exitCode, 2);
}

TEST_F(CliStoreTest, DatabaseThatCannotBeReadExitsWithItsError) {
    std::filesystem::create_directories(home_.Dir() / "Data");
    std::ofstream(home_.DatabasePath(), std::ios::binary) << std::string(4096, 'x');
    for (const char* command : {"keywords", "add"}) {
        std::vector<std::string> args{command};
        if (std::string(command) == "add")
            args.push_back("k");
        const TProgramRun run = Cli(args);
        EXPECT_EQ(run.exitCode, 2) << command;
        EXPECT_NE(run.err.find("File opened that is not a database file"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(CliStoreTest, SecondWriterIsRefusedWhileReadersStillRead) {
    ASSERT_EQ(Cli({"add", "k"}).exitCode, 0);
    Sql("insert into tbl_list(ComName, mob, keyid) values ('A Ltd', '138', 1)");
    {
        TWriterLock held((home_.Dir() / "Data" / "users.lock").string());
        TProgramRun run = Cli({"add", "new"});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find("in use by another program"), std::string::npos) << run.err;
        EXPECT_EQ(Cli({"delete", "k"}).exitCode, 2);

        run = Cli({"keywords"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find(R"("keyword":"k")"), std::string::npos);
        run = Cli({"companies", "k"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find(R"("name":"A Ltd")"), std::string::npos);
        EXPECT_EQ(Sql("select count(*) from tbl_key"), "1\n");

        // A reader never creates the file.
        std::filesystem::remove(home_.DatabasePath());
        run = Cli({"keywords"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(std::filesystem::exists(home_.DatabasePath()));
    }
    EXPECT_EQ(Cli({"add", "new"}).exitCode, 0);
}

TEST_F(CliStoreTest, ReadersWaitForAWriteAndFailOnlyWhenItOutlastsTheTimeOut) {
    ASSERT_EQ(Cli({"add", "k"}).exitCode, 0);
    Sql("insert into tbl_list(ComName, mob, keyid) values ('A Ltd', '138', 1)");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(home_.DatabasePath().c_str(), &other), SQLITE_OK);

    // Another program writes for a moment: the readers wait for it and list what it committed.
    ASSERT_EQ(
        sqlite3_exec(other, "begin exclusive; insert into tbl_list(ComName, mob, keyid) values ('B Ltd', '139', 1)",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    std::thread commit([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(other, "commit", nullptr, nullptr, nullptr);
    });
    TProgramRun run = Cli({"companies", "k"});
    commit.join();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(R"("name":"B Ltd")"), std::string::npos) << run.out;

    // A write that holds the database longer than the time-out is an error, not an empty list.
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    run = Cli({"keywords"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("locked"), std::string::npos) << run.err;
    sqlite3_exec(other, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}

TEST_F(CliStoreTest, ReadersNeverLockUpgradeOrChangeTheFile) {
    // A file of an older version: the readers list it with the missing columns empty, and leave it as it is.
    std::filesystem::create_directories(home_.Dir() / "Data");
    Sql("create table tbl_key(ID integer primary key, KeyStr text, listcount numeric, lastpage numeric);"
        "insert into tbl_key values (1, 'k', 1, 2);"
        "create table tbl_list(ListID integer primary key, ComName text, Addr text, weburl text, EMail text, "
        "Tel text, mob text, stat numeric, keyid numeric); insert into tbl_list(ComName, mob, keyid) values ('A', "
        "'138', 1)");
    auto snapshot = [this] {
        std::string state;
        for (const auto& file : std::filesystem::directory_iterator(home_.Dir() / "Data")) {
            std::ifstream in(file.path(), std::ios::binary);
            state += file.path().filename().string() + ":" +
                     std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) + "\n";
        }
        return state;
    };
    const std::string before = snapshot();
    TProgramRun run = Cli({"keywords"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind(R"({"id":1,"keyword":"k","count":1,"lastpage":2,"sglastpage":0,"s360lastpage":0,)", 0), 0u)
        << run.out;
    run = Cli({"companies", "k"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, R"({"listid":1,"name":"A","addr":"","weburl":"","tel":[],"mob":["138"],"email":[],"qq":[],)"
                       R"("source":"","ispay":0,"renzheng":0})"
                       "\n");
    // No lock file, no journal, not one byte changed.
    EXPECT_EQ(snapshot(), before);

    // On a read-only file system (a read-only bind mount of the folder in a mount namespace of its own; skipped
    // where that cannot be made).
    ASSERT_EQ(Cli({"add", "new"}).exitCode, 0);
    const std::string folder = home_.Dir().string();
    auto readOnly = [&](const std::string& command) {
        return test::RunProgram({"unshare", "--mount", "--propagation", "private", "sh", "-c",
                                 "mount --bind -o ro \"$0\" \"$0\" && " + command, folder});
    };
    if (readOnly("! touch \"$0/probe\" 2>/dev/null").exitCode != 0)
        GTEST_SKIP() << "no read-only mount here";
    run = readOnly(std::string("exec ") + VEXO_CLI_PATH + " keywords");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(R"("keyword":"new")"), std::string::npos) << run.out;
    run = readOnly(std::string("exec ") + VEXO_CLI_PATH + " companies k");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(R"("name":"A")"), std::string::npos) << run.out;
    run = readOnly(std::string("exec ") + VEXO_CLI_PATH + " add other");
    EXPECT_EQ(run.exitCode, 2);
}

TEST_F(CliStoreTest, BadArgumentsAreUsageErrors) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"add"}, {"add", ""}, {"add", "a", "b"}, {"keywords", "x"}, {"delete"}, {"add", "\xFF"}}) {
        const TProgramRun run = Cli(args);
        EXPECT_EQ(run.exitCode, 2) << args[0];
        EXPECT_EQ(run.err.rfind("vexo-cli: ", 0), 0u) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(home_.DatabasePath()));
}

}  // namespace
}  // namespace vexo
