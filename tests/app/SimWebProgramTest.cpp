// vexo-simweb as a program: it writes its port and a client configuration, serves the demonstration web as a proxy
// on 127.0.0.1, ends by itself after its idle limit (not before), ends at once on SIGTERM, and refuses bad
// arguments.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/Hosts.h"
#include "sim/DemoWeb.h"
#include "sim/SimEngines.h"
#include "support/ChildProcess.h"
#include "support/ProxyFetch.h"
#include "support/TempHome.h"
#include "text/IniFile.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kKeyword[] = "广州 电子公司";

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SimWebProgramTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (pid_ > 0 && !WaitForChildOnce(0ms))
            test::KillChildGroup(pid_);
    }

    void Start(const std::vector<std::string>& extra) {
        std::vector<std::string> argv{VEXO_SIMWEB_PATH, "--port-file", PortFile().string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        pid_ = test::SpawnChild(argv, test::EnvironmentWithout({}), (dir_ / "out").string(), (dir_ / "err").string());
        ASSERT_GT(pid_, 0);
    }

    // The port once the file holds one; 0 after 10 s or when the program ended first.
    std::uint16_t WaitForPort() {
        for (int i = 0; i < 1000; ++i) {
            const std::string text = ReadAll(PortFile());
            if (!text.empty() && text.back() == '\n')
                return static_cast<std::uint16_t>(std::stoi(text));
            if (WaitForChildOnce(10ms))
                return 0;
        }
        return 0;
    }

    // True when the program has ended (its status kept in exit_).
    bool WaitForChildOnce(std::chrono::milliseconds limit) {
        if (exit_)
            return true;
        exit_ = test::WaitForChild(pid_, limit);
        return exit_.has_value();
    }

    fs::path PortFile() const { return dir_ / "simweb.port"; }

    test::TTempHome home_;
    const fs::path& dir_ = home_.Dir();
    pid_t pid_ = -1;
    std::optional<int> exit_;
};

TEST_F(SimWebProgramTest, WritesItsPortServesAResultPageThroughTheProxyAndEndsAfterItsIdleLimit) {
    const fs::path config = dir_ / "qzclient.cfg";
    Start({"--idle-exit", "2", "--client-config", config.string()});
    const std::uint16_t port = WaitForPort();
    ASSERT_NE(port, 0) << ReadAll(dir_ / "err");

    // The client configuration names the simulated services.
    const THosts hosts = LoadHosts(TIniFile(config.string()));
    EXPECT_EQ(hosts.Icp, sim::kSimIcpHost);
    EXPECT_EQ(hosts.Config, sim::kDemoConfigHost);
    EXPECT_TRUE(RefusedHosts(hosts).empty());

    // The first result page lists the first sites of the keyword that the demonstration web lists in this process.
    sim::TSimWeb local;
    sim::TDemoWeb expected(local);
    const test::THttpReply page =
        test::ProxyGet(port, "http://www.baidu.com/s?wd=" + test::GbkQueryValue(kKeyword) + "&pn=0");
    ASSERT_EQ(page.status, 200) << page.head;
    int listed = 0;
    int ofTheKeyword = 0;
    for (const sim::TDemoSite& site : expected.Sites()) {
        const std::string link = "http://" + expected.Engines().Company(site.Company).Host + "/";
        listed += page.body.find(link) != std::string::npos ? 1 : 0;
        ofTheKeyword += site.Keyword == kKeyword ? 1 : 0;
    }
    ASSERT_GT(ofTheKeyword, 0);
    EXPECT_EQ(listed, ofTheKeyword / sim::kDemoPagesPerEngine) << page.body;

    // Bound to the loopback interface only: the same port on no other address of this machine.
    const std::string listening = ReadAll("/proc/net/tcp");
    char local4[16];
    std::snprintf(local4, sizeof local4, "0100007F:%04X", port);
    EXPECT_NE(listening.find(local4), std::string::npos);
    char anyAddress[16];
    std::snprintf(anyAddress, sizeof anyAddress, "00000000:%04X", port);
    EXPECT_EQ(listening.find(anyAddress), std::string::npos);

    // A request restarts the idle time: still running a little over a second later, ended within the limit
    // (plus a margin) after the last one.
    const auto lastRequest = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitForChildOnce(1200ms)) << "ended before its idle limit";
    EXPECT_EQ(test::ProxyGet(port, "http://" + std::string(sim::kDemoConfigHost) + "/soft/pelq/config.txt").status,
              200);
    const auto secondRequest = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForChildOnce(6s)) << "still running 6 s after the last request";
    const auto ended = std::chrono::steady_clock::now();
    EXPECT_EQ(*exit_, 0) << ReadAll(dir_ / "err");
    EXPECT_GE(ended - secondRequest, 1800ms);
    EXPECT_GE(ended - lastRequest, 3000ms);
    EXPECT_NE(ReadAll(dir_ / "err").find("no request for 2 s"), std::string::npos) << ReadAll(dir_ / "err");
}

TEST_F(SimWebProgramTest, EndsAtOnceOnSigterm) {
    Start({});
    ASSERT_NE(WaitForPort(), 0) << ReadAll(dir_ / "err");
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(pid_, SIGTERM), 0);
    ASSERT_TRUE(WaitForChildOnce(3s));
    EXPECT_EQ(*exit_, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
}

TEST_F(SimWebProgramTest, RefusesBadArgumentsWithStatus2AndWritesNoPort) {
    const std::string portFile = PortFile().string();
    const std::vector<std::vector<std::string>> refused{
        {},
        {"--port-file"},
        {"--port-file", ""},
        {"--idle-exit", "0", "--port-file", portFile},
        {"--idle-exit", "-3", "--port-file", portFile},
        {"--idle-exit", "1.5", "--port-file", portFile},
        {"--idle-exit", "86401", "--port-file", portFile},
        {"--port-file", portFile, "--verbose"},
    };
    for (const auto& args : refused) {
        std::vector<std::string> argv{VEXO_SIMWEB_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid =
            test::SpawnChild(argv, test::EnvironmentWithout({}), (dir_ / "out").string(), (dir_ / "err").string());
        const std::optional<int> status = test::WaitForChild(pid, 5s);
        if (!status)
            test::KillChildGroup(pid);
        std::string shown;
        for (const std::string& arg : args)
            shown += "[" + arg + "]";
        ASSERT_TRUE(status.has_value()) << shown;
        EXPECT_EQ(*status, 2) << shown;
        EXPECT_TRUE(ReadAll(dir_ / "err").starts_with("vexo-simweb: ")) << shown << ReadAll(dir_ / "err");
    }
    EXPECT_FALSE(fs::exists(PortFile()));
}

}  // namespace
}  // namespace vexo
