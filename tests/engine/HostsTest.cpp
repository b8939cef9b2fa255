// Hosts of the outside services: defaults, overrides from [hosts], and where the client configuration lies.
#include "engine/Hosts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vexo {
namespace {

namespace fs = std::filesystem;

class HostsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vexo-hosts-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "qzclient.cfg").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Put(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }

    fs::path dir_;
    std::string path_;
};

TEST_F(HostsTest, WithoutHostsSectionTheSearchEnginesAreTheRealOnesAndTheOtherServicesUnused) {
    Put("[config]\nfirst=1\n");
    for (const THosts& hosts : {LoadHosts(path_), LoadHosts((dir_ / "missing.cfg").string())}) {
        EXPECT_EQ(hosts.Baidu, "www.baidu.com");
        EXPECT_EQ(hosts.So360, "www.so.com");
        EXPECT_EQ(hosts.Sogou, "www.sogou.com");
        EXPECT_EQ(hosts.Icp, "");
        EXPECT_EQ(hosts.Config, "");
        EXPECT_EQ(hosts.Update, "");
    }
}

TEST_F(HostsTest, ConfiguredHostsReplaceTheDefaultsAndBlankOnesKeepThem) {
    Put("[HOSTS]\n"
        "Baidu = baidu.sim.test:8080\n"
        "so360 =\n"
        "sogou =   \n"
        "icp=icp.example.cn\n"
        "config=cfg.example.cn\n"
        "update=up.example.cn\n");
    const THosts hosts = LoadHosts(path_);
    EXPECT_EQ(hosts.Baidu, "baidu.sim.test:8080");
    EXPECT_EQ(hosts.So360, "www.so.com");
    EXPECT_EQ(hosts.Sogou, "www.sogou.com");
    EXPECT_EQ(hosts.Icp, "icp.example.cn");
    EXPECT_EQ(hosts.Config, "cfg.example.cn");
    EXPECT_EQ(hosts.Update, "up.example.cn");
}

TEST_F(HostsTest, OnlyANameOrAddressWithAnOptionalPortIsAHost) {
    for (const char* host : {"www.baidu.com", "baidu.sim.test:8080", "127.0.0.1:1", "localhost:65535", "[::1]",
                             "[::1]:8080", "[::ffff:127.0.0.1]:80", "icp_sim.local", "例子.中国"}) {
        EXPECT_TRUE(IsHostEntry(host)) << host;
    }
    for (const char* text : {"",
                             "http://www.baidu.com",
                             "www.baidu.com/s",
                             "/tmp/x",
                             "www.baidu.com:0",
                             "www.baidu.com:65536",
                             "www.baidu.com:",
                             "www.baidu.com:80a",
                             "www.baidu.com:+80",
                             "user@www.baidu.com",
                             "www.baidu.com?x",
                             "www.baidu.com#x",
                             "www baidu.com",
                             "www.baidu.com\x01:80",
                             "www.baidu.com\x7f",
                             ".baidu.com",
                             "-baidu.com",
                             "www..baidu.com",
                             "::1",
                             "[::1",
                             "[]",
                             "[::g]",
                             "[::1]x",
                             "\xff\xfe"}) {
        EXPECT_FALSE(IsHostEntry(text)) << text;
    }

    Put("[hosts]\nbaidu=http://www.baidu.com/\nsogou=www.sogou.com:8080\nicp=icp local\nupdate=up.example.cn\n");
    const std::vector<THostEntry> refused = RefusedHosts(LoadHosts(path_));
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].Key, "baidu");
    EXPECT_EQ(refused[0].Value, "http://www.baidu.com/");
    EXPECT_EQ(refused[1].Key, "icp");
    EXPECT_EQ(refused[1].Value, "icp local");
    // Services left empty are not used, and so not refused.
    EXPECT_TRUE(RefusedHosts(LoadHosts((dir_ / "missing.cfg").string())).empty());
}

TEST_F(HostsTest, ClientConfigurationLiesInTheProgramDirectory) {
    const char* old = std::getenv("VEXO_HOME");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("VEXO_HOME", dir_.c_str(), 1);
    const std::string configPath = ClientConfigPath();
    if (saved)
        ::setenv("VEXO_HOME", saved->c_str(), 1);
    else
        ::unsetenv("VEXO_HOME");
    EXPECT_EQ(fs::path(configPath), dir_ / "qzclient.cfg");
}

}  // namespace
}  // namespace vexo
