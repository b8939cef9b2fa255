// update.exe end to end in a temporary program folder: it waits for the program named in uplog.txt (ending it
// when it does not end), installs update.zip, deletes it, starts the program again and logs what it did.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zip.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/TempHome.h"
#include "text/Global.h"
#include "update/UpdateTestSupport.h"

extern char** environ;

namespace vexo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The program stand-in: a copy of sleep, so that its executable is the file in the program folder.
constexpr char kSleep[] = "/bin/sleep";
// The new version the package brings: a script that says it was started, in its working folder.
constexpr char kNewProgram[] = "#!/bin/sh\necho restarted > restarted.txt\n";

class UpdaterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = temp_.Path();
        fs::copy_file(VEXO_UPDATER_PATH, dir_ / "update.exe");
        fs::copy_file(kSleep, dir_ / "vexo");
        test::WriteBytes(dir_ / "qzclient.cfg", "[config]");
        test::WriteBytes(dir_ / "uplog.txt", "vexo\r\n");
    }
    void TearDown() override {
        for (const pid_t pid : started_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    void MakePackage(const std::vector<std::pair<std::string, std::string>>& files) {
        std::vector<test::TZipEntry> entries;
        for (const auto& [name, data] : files)
            entries.push_back(test::File(name, data, S_IFREG | 0755));
        test::MakeZip(dir_ / "update.zip", entries);
    }

    // Starts the program stand-in sleeping for the given seconds.
    pid_t StartProgram(const std::string& seconds) {
        const std::string path = (dir_ / "vexo").string();
        std::string arg = seconds;
        std::string argv0 = path;
        char* argv[] = {argv0.data(), arg.data(), nullptr};
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
        started_.push_back(pid);
        return pid;
    }

    test::TProgramRun RunUpdater() { return test::RunProgram({(dir_ / "update.exe").string()}); }

    bool WaitForFile(const fs::path& path, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!fs::exists(path)) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    test::TTempDir temp_;
    fs::path dir_;
    std::vector<pid_t> started_;
};

TEST_F(UpdaterTest, CarriesItsVersionWhereTheProgramReadsIt) {
    EXPECT_EQ(FileVersionText((dir_ / "update.exe").string()), "1.0.0.1");
}

TEST_F(UpdaterTest, WaitsForTheProgramInstallsThePackageAndStartsItAgain) {
    MakePackage({{"vexo", kNewProgram}, {"lib/data.txt", "new data"}});
    StartProgram("1");
    const auto start = std::chrono::steady_clock::now();
    const test::TProgramRun run = RunUpdater();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);  // it waited for the program to end
    ASSERT_TRUE(WaitForFile(dir_ / "restarted.txt", 5s));
    EXPECT_EQ(test::ReadBytes(dir_ / "vexo"), kNewProgram);
    EXPECT_EQ(test::ReadBytes(dir_ / "lib" / "data.txt"), "new data");
    EXPECT_FALSE(fs::exists(dir_ / "update.zip"));
    EXPECT_EQ(test::ReadBytes(dir_ / "qzclient.cfg"), "[config]");
    const std::string log = test::ReadBytes(dir_ / "update.log");
    EXPECT_NE(log.find("vexo has ended"), std::string::npos) << log;
    EXPECT_NE(log.find("installed lib/data.txt"), std::string::npos) << log;
    EXPECT_NE(log.find("deleted update.zip"), std::string::npos) << log;
    EXPECT_NE(log.find("started vexo"), std::string::npos) << log;
}

TEST_F(UpdaterTest, EndsAProgramThatDoesNotEnd) {
    MakePackage({{"vexo", kNewProgram}});
    const pid_t program = StartProgram("300");
    const test::TProgramRun run = RunUpdater();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    int status = 0;
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    started_.clear();
    EXPECT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(WaitForFile(dir_ / "restarted.txt", 5s));
    EXPECT_NE(test::ReadBytes(dir_ / "update.log").find("still runs"), std::string::npos);
}

TEST_F(UpdaterTest, ARefusedPackageInstallsNothingAndStartsTheOldProgram) {
    MakePackage({{"vexo", kNewProgram}, {"qzclient.cfg", "replaced"}});
    const std::string oldProgram = test::ReadBytes(dir_ / "vexo");
    const test::TProgramRun run = RunUpdater();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(test::ReadBytes(dir_ / "vexo"), oldProgram);
    EXPECT_EQ(test::ReadBytes(dir_ / "qzclient.cfg"), "[config]");
    EXPECT_TRUE(fs::exists(dir_ / "update.zip"));
    const std::string log = test::ReadBytes(dir_ / "update.log");
    EXPECT_NE(log.find("package refused"), std::string::npos) << log;
    EXPECT_NE(log.find("started vexo"), std::string::npos) << log;
}

TEST_F(UpdaterTest, WithoutAProgramNameNothingHappens) {
    MakePackage({{"vexo", kNewProgram}});
    for (const std::string content : {"", "../vexo\r\n", "/bin/sleep\r\n"}) {
        test::WriteBytes(dir_ / "uplog.txt", content);
        EXPECT_EQ(RunUpdater().exitCode, 1) << content;
        EXPECT_TRUE(fs::exists(dir_ / "update.zip"));
        EXPECT_FALSE(fs::exists(dir_ / "restarted.txt"));
    }
    EXPECT_NE(test::ReadBytes(dir_ / "update.log").find("no program named"), std::string::npos);
}

}  // namespace
}  // namespace vexo
