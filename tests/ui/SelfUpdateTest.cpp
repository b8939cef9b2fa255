// The self-update of the real program, end to end on the loopback: the program started from a private program
// folder fetches the remote configuration from a simulated server through the proxy, downloads the program package
// and the updater package, hands over to update.exe and ends; the updater installs the package and starts the
// program again. Also the failures after which the program must simply keep running: a program package with the
// wrong checksum, and an updater package without update.exe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimWeb.h"
#include "text/Crc32.h"
#include "text/Gbk.h"
#include "update/UpdateTestSupport.h"
#include "update/desutil.h"

extern char** environ;

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

// Generous: the machine may be loaded, and the updater alone waits up to five seconds for the program to end.
constexpr std::chrono::seconds kLimit{60};
// How long a program that is meant to keep running is watched after its update went wrong.
constexpr std::chrono::seconds kKeepsRunning{3};

constexpr const char* kConfigHost = "conf.updates.test";
constexpr const char* kKeyword = "不锈钢 水槽";
constexpr const char* kMarkerText = "vexo V2.1\n";

// The test cannot build a second version of the program, so the program package carries a stand-in under the
// program's file name: a script that only leaves a marker in its folder when it is started. It shows that the
// updater installed the package's file over the program and started it again.
std::string StandInProgram() {
    return std::string("#!/bin/sh\nprintf '") + kMarkerText + "' > \"$(dirname \"$0\")/started.txt\"\n";
}

std::uint32_t Crc(const std::string& bytes) {
    return Crc32Update(0, bytes.data(), bytes.size());
}

std::string ZipBytes(const fs::path& path, const std::vector<TZipEntry>& entries) {
    MakeZip(path, entries);
    return ReadBytes(path);
}

// The configuration an operator would publish: GBK XML (the comment holds GBK bytes) announcing version 2.1 and
// the updater, in its DES envelope.
std::string ConfigEnvelope(std::uint32_t updateCrc, std::uint32_t updaterCrc) {
    const std::string base = std::string("http://") + kConfigHost + "/soft/pelq/";
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
        "<config>\r\n"
        "  <!-- 新版本 2.1 -->\r\n"
        "  <version>\r\n"
        "    <vexo ver=\"2.1\" crc=\"" +
        std::to_string(updateCrc) + "\" force=\"0\">" + base +
        "update.zip</vexo>\r\n"
        "    <vexoupdate ver=\"1.0.0.1\" crc=\"" +
        std::to_string(updaterCrc) + "\">" + base +
        "up.zip</vexoupdate>\r\n"
        "  </version>\r\n"
        "</config>\r\n";
    return DesEncodeStream(Utf8ToGbk(xml), kConfigKey);
}

sim::TSimResponse Package(std::string bytes) {
    sim::TSimResponse response;
    response.body = std::move(bytes);
    response.AddHeader("Content-Type", "application/zip");
    return response;
}

// Compares whole files without printing them (programs are megabytes of binary).
bool SameBytes(const fs::path& a, const fs::path& b) {
    return ReadBytes(a) == ReadBytes(b);
}

// Blocks until the condition holds or the limit passed; true when it holds.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = kLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// True while a process runs the program file.
bool Runs(const fs::path& program) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string exe = fs::read_symlink(entry.path() / "exe", error).string();
        if (exe.ends_with(" (deleted)"))
            exe.resize(exe.size() - std::strlen(" (deleted)"));
        if (!error && exe == program.string())
            return true;
    }
    return false;
}

// A child process with its own environment (this process's, minus every variable the test chooses), output to a
// file. The destructor kills it when it still runs and reaps it.
class TChild {
  public:
    TChild(const std::vector<std::string>& argv, const std::vector<std::string>& chosen, const fs::path& output) {
        std::vector<std::string> environment = chosen;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            bool replaced = false;
            for (const std::string& mine : chosen)
                replaced = replaced || mine.compare(0, name.size() + 1, name + "=") == 0;
            std::string lower = name;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (!replaced && lower != "http_proxy" && lower != "https_proxy" && lower != "all_proxy" &&
                lower != "no_proxy")
                environment.push_back(text);
        }
        std::vector<std::string> args = argv;
        std::vector<char*> argp;
        for (std::string& arg : args)
            argp.push_back(arg.data());
        argp.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        const std::string out = output.string();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec: the simulated web runs threads.
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            const int in = ::open("/dev/null", O_RDONLY);
            if (fd < 0 || in < 0 || ::dup2(in, 0) < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0)
                ::_exit(127);
            ::execve(argp[0], argp.data(), envp.data());
            ::_exit(127);
        }
    }
    ~TChild() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    bool Started() const { return pid_ > 0; }
    // True once the process has ended (reaped; Status() tells how).
    bool Ended() {
        if (!ended_ && pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_)
            ended_ = true;
        return ended_;
    }
    int Status() const { return status_; }

  private:
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
};

std::string DescribeStatus(int status) {
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + ::strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// A private desktop and program folder: the folder holds the program (a copy of the built one, named vexo), its
// configuration naming the simulated configuration host, and the database; it is also the data folder, so the
// program may update itself. The simulated web answers for every host through the proxy.
class SelfUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = temp_.Path();
        program_ = root_ / "prog";
        fs::create_directories(program_);
        fs::create_directories(root_ / "home" / ".config");
        fs::create_directories(root_ / "home" / ".local" / "share");
        fs::create_directories(root_ / "home" / ".cache");
        fs::create_directories(root_ / "run");
        fs::permissions(root_ / "run", fs::perms::owner_all);
        fs::create_directories(root_ / "packages");
        fs::copy_file(VEXO_GUI_PATH, ProgramFile());
        fs::permissions(ProgramFile(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        WriteBytes(InProgram("qzclient.cfg"),
                   std::string("[config]\nfirst=1\n\n[hosts]\nconfig=") + kConfigHost + "\n");
        environment_ = {
            "VEXO_HOME=" + program_.string() + "/",
            "HOME=" + (root_ / "home").string(),
            "XDG_CONFIG_HOME=" + (root_ / "home" / ".config").string(),
            "XDG_DATA_HOME=" + (root_ / "home" / ".local" / "share").string(),
            "XDG_CACHE_HOME=" + (root_ / "home" / ".cache").string(),
            "XDG_RUNTIME_DIR=" + (root_ / "run").string(),
            "QT_QPA_PLATFORM=offscreen",
            "http_proxy=" + web_.BaseUrl(),
            "no_proxy=127.0.0.1",
        };
        // A keyword in the database before the update: what the user collected must come through it.
        Cli({VEXO_CLI_PATH, "add", kKeyword});
        keywordsBefore_ = Cli({VEXO_CLI_PATH, "keywords"});
        ASSERT_NE(keywordsBefore_.find("\"keyword\":\"" + std::string(kKeyword) + "\""), std::string::npos)
            << keywordsBefore_;
    }

    // An updater started by the test's program goes on by itself; the folder goes only after it ended.
    void TearDown() override {
        EXPECT_TRUE(WaitUntil([&] { return !Runs(InProgram("update.exe")); }));
    }

    fs::path ProgramFile() const { return program_ / "vexo"; }
    fs::path InProgram(std::string_view name) const { return program_ / std::string(name); }

    // Runs vexo-cli on the program folder and returns its output; it must succeed.
    std::string Cli(const std::vector<std::string>& argv) {
        const fs::path output = root_ / "cli.out";
        fs::remove(output);
        TChild cli(argv, environment_, output);
        EXPECT_TRUE(cli.Started());
        EXPECT_TRUE(WaitUntil([&] { return cli.Ended(); }));
        EXPECT_TRUE(WIFEXITED(cli.Status()) && WEXITSTATUS(cli.Status()) == 0)
            << DescribeStatus(cli.Status()) << ": " << ReadBytes(output);
        return ReadBytes(output);
    }

    std::unique_ptr<TChild> StartProgram() {
        auto child = std::make_unique<TChild>(std::vector<std::string>{ProgramFile().string()}, environment_,
                                              root_ / "program.out");
        EXPECT_TRUE(child->Started());
        return child;
    }

    // What the programs printed, for the failure messages.
    std::string ProgramOutput() const { return ReadBytes(root_ / "program.out"); }

    // The published files: the configuration and both packages at the addresses it names.
    void Publish(const std::string& updateZip, std::uint32_t updateCrc, const std::string& upZip) {
        sim::TSimResponse config;
        config.body = ConfigEnvelope(updateCrc, Crc(upZip));
        config.AddHeader("Content-Type", "text/plain");
        web_.Serve(kConfigHost, "/soft/pelq/config.txt", config);
        web_.Serve(kConfigHost, "/soft/pelq/update.zip", Package(updateZip));
        web_.Serve(kConfigHost, "/soft/pelq/up.zip", Package(upZip));
    }

    std::string ProgramPackage() {
        return ZipBytes(root_ / "packages" / "update.zip", {File("vexo", StandInProgram(), S_IFREG | 0755)});
    }
    std::string UpdaterPackage() {
        return ZipBytes(root_ / "packages" / "up.zip",
                        {File("update.exe", ReadBytes(VEXO_UPDATER_PATH), S_IFREG | 0755)});
    }

    std::size_t RequestsFor(std::string_view path) const { return web_.RequestsTo(kConfigHost, path).size(); }

    // The database went through untouched: the keyword added before the start is listed as it was.
    void ExpectDatabaseKept() { EXPECT_EQ(Cli({VEXO_CLI_PATH, "keywords"}), keywordsBefore_); }

    TTempDir temp_;
    sim::TSimWeb web_;
    fs::path root_;
    fs::path program_;
    std::vector<std::string> environment_;
    std::string keywordsBefore_;
};

TEST_F(SelfUpdate, NewVersionIsDownloadedInstalledAndStartedByTheUpdater) {
    const std::string updateZip = ProgramPackage();
    Publish(updateZip, Crc(updateZip), UpdaterPackage());

    auto program = StartProgram();
    ASSERT_TRUE(WaitUntil([&] { return program->Ended(); })) << "the program did not hand over\n" << ProgramOutput();
    // The hand-over ends the program's other processes and this one through its exit path: an ordinary end.
    const int status = program->Status();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << DescribeStatus(status) << "\n"
        << ProgramOutput();

    // Each file was fetched once, through the proxy under the configured host name.
    const std::vector<sim::TSimRequest> configRequests = web_.RequestsTo(kConfigHost, "/soft/pelq/config.txt");
    ASSERT_EQ(configRequests.size(), 1U);
    EXPECT_TRUE(configRequests[0].viaProxy);
    EXPECT_EQ(RequestsFor("/soft/pelq/update.zip"), 1U);
    EXPECT_EQ(RequestsFor("/soft/pelq/up.zip"), 1U);

    // The updater package was unpacked (and removed); the hand-over named the program for the updater.
    EXPECT_TRUE(SameBytes(InProgram("update.exe"), VEXO_UPDATER_PATH));
    EXPECT_EQ(::access(InProgram("update.exe").c_str(), X_OK), 0);
    EXPECT_FALSE(fs::exists(InProgram("up.zip")));
    EXPECT_EQ(ReadBytes(InProgram("uplog.txt")), "vexo\r\n");

    // The updater installs the stand-in over the program, deletes the package and starts it.
    ASSERT_TRUE(WaitUntil([&] {
        return ReadBytes(InProgram("started.txt")) == kMarkerText &&
               ReadBytes(InProgram("update.log")).find("started vexo") != std::string::npos;
    })) << "update.log:\n"
        << ReadBytes(InProgram("update.log")) << "\noutput:\n"
        << ProgramOutput();
    const std::string log = ReadBytes(InProgram("update.log"));
    EXPECT_NE(log.find("vexo has ended"), std::string::npos) << log;
    EXPECT_NE(log.find("installed vexo"), std::string::npos) << log;
    EXPECT_NE(log.find("deleted update.zip"), std::string::npos) << log;
    EXPECT_EQ(ReadBytes(ProgramFile()), StandInProgram());
    EXPECT_EQ(::access(ProgramFile().c_str(), X_OK), 0);
    EXPECT_FALSE(fs::exists(InProgram("update.zip")));
    EXPECT_EQ(ReadBytes(InProgram("qzclient.cfg")),
              std::string("[config]\nfirst=1\n\n[hosts]\nconfig=") + kConfigHost + "\n");
    ExpectDatabaseKept();
}

// A program package whose checksum is not the announced one is never installed: the download counts as failed,
// the updater is neither fetched nor started, and the program keeps running. The bad file stays where it was
// written (the next download replaces it).
TEST_F(SelfUpdate, ProgramPackageWithWrongChecksumLeavesTheProgramRunning) {
    const std::string updateZip = ProgramPackage();
    Publish(updateZip, Crc(updateZip) ^ 0x1U, UpdaterPackage());

    auto program = StartProgram();
    ASSERT_TRUE(WaitUntil([&] { return ReadBytes(InProgram("update.zip")) == updateZip || program->Ended(); }))
        << ProgramOutput();
    std::this_thread::sleep_for(kKeepsRunning);
    EXPECT_FALSE(program->Ended()) << DescribeStatus(program->Status()) << "\n" << ProgramOutput();

    EXPECT_EQ(RequestsFor("/soft/pelq/update.zip"), 1U);
    EXPECT_EQ(RequestsFor("/soft/pelq/up.zip"), 0U);
    EXPECT_EQ(ReadBytes(InProgram("update.zip")), updateZip);
    EXPECT_FALSE(fs::exists(InProgram("update.zip.part")));
    EXPECT_FALSE(fs::exists(InProgram("update.exe")));
    EXPECT_FALSE(fs::exists(InProgram("uplog.txt")));
    EXPECT_FALSE(fs::exists(InProgram("update.log")));
    EXPECT_FALSE(fs::exists(InProgram("started.txt")));
    EXPECT_TRUE(SameBytes(ProgramFile(), VEXO_GUI_PATH)) << "the program file was replaced";

    program.reset();  // killed: the test is over
    ExpectDatabaseKept();
}

// An updater package without update.exe unpacks fine but leaves nothing to hand over to: the hand-over refuses,
// writes no uplog.txt, and the program keeps running with the program package left in place.
TEST_F(SelfUpdate, UpdaterPackageWithoutTheUpdaterLeavesTheProgramRunning) {
    const std::string updateZip = ProgramPackage();
    const std::string upZip = ZipBytes(root_ / "packages" / "up.zip", {File("readme.txt", "updater notes\n")});
    Publish(updateZip, Crc(updateZip), upZip);

    auto program = StartProgram();
    ASSERT_TRUE(WaitUntil([&] {
        return (ReadBytes(InProgram("readme.txt")) == "updater notes\n" && !fs::exists(InProgram("up.zip"))) ||
               program->Ended();
    })) << ProgramOutput();
    std::this_thread::sleep_for(kKeepsRunning);
    EXPECT_FALSE(program->Ended()) << DescribeStatus(program->Status()) << "\n" << ProgramOutput();

    EXPECT_EQ(RequestsFor("/soft/pelq/update.zip"), 1U);
    EXPECT_EQ(RequestsFor("/soft/pelq/up.zip"), 1U);
    EXPECT_EQ(ReadBytes(InProgram("update.zip")), updateZip);
    EXPECT_FALSE(fs::exists(InProgram("update.exe")));
    EXPECT_FALSE(fs::exists(InProgram("uplog.txt")));
    EXPECT_FALSE(fs::exists(InProgram("update.log")));
    EXPECT_FALSE(fs::exists(InProgram("started.txt")));
    EXPECT_TRUE(SameBytes(ProgramFile(), VEXO_GUI_PATH)) << "the program file was replaced";

    program.reset();
    ExpectDatabaseKept();
}

}  // namespace
}  // namespace vexo::test
