// The window's side of the remote configuration and the update, against a simulated configuration server: nothing
// is fetched without hosts, the update window follows a download and may be closed only once it has failed, a
// package without the updater leaves the program running, and failed configuration downloads end the program after
// the message.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTimer>

#include "sim/SimWeb.h"
#include "text/Crc32.h"
#include "text/Gbk.h"
#include "ui/UiSupport.h"
#include "ui/fmzunta.h"
#include "ui/frmUpWin.h"
#include "update/RemoteConfig.h"
#include "update/UpdateTestSupport.h"
#include "update/desutil.h"

namespace vexo::test {
namespace {

using namespace std::chrono_literals;

constexpr char kConfigHost[] = "config.sim-vendor.cn";
constexpr char kUpdateHost[] = "update.sim-vendor.cn";

sim::TSimResponse Envelope(const std::string& xml) {
    sim::TSimResponse response;
    response.body = DesEncodeStream(Utf8ToGbk(xml), kConfigKey);
    return response;
}

std::string ZipBytes(const std::filesystem::path& folder, const std::string& name,
                     const std::vector<TZipEntry>& entries) {
    MakeZip(folder / name, entries);
    return ReadBytes(folder / name);
}

class UpdateWindowTest : public ::testing::Test {
  protected:
    // The program file sits in the data folder, so the program may update itself.
    void StartWindow(const std::string& hosts) {
        std::ofstream(home_.Dir() / "qzclient.cfg") << "[config]\nfirst=1\n\n[hosts]\n" << hosts;
        TShellOptions options;
        options.exePath = (home_.Dir() / "vexo").string();
        options.trayAvailable = [] { return true; };
        options.exitProgram = [this](int status) { exits_.push_back(status); };
        window_ = std::make_unique<Tfmzunta>(options);
        window_->show();
    }

    std::size_t ConfigRequests() const { return web_.RequestsTo(kConfigHost, kRemoteConfigPath).size(); }

    TUiHome home_;
    sim::TSimWeb web_;
    sim::TProxyEnvironment proxy_{web_.BaseUrl()};
    TScriptedAnswerer answers_;
    std::vector<int> exits_;
    std::unique_ptr<Tfmzunta> window_;
};

TEST_F(UpdateWindowTest, WithoutHostsNothingIsFetchedNotEvenByTheVersionCheckTimer) {
    web_.Serve(sim::kAnyHost, sim::kAnyPath, sim::TSimResponse::Status(500));
    StartWindow("");
    auto* tmrupdate = window_->findChild<QTimer*>("tmrupdate");
    ASSERT_NE(tmrupdate, nullptr);
    EXPECT_TRUE(tmrupdate->isActive());
    tmrupdate->setInterval(1);  // fire the version check now
    ASSERT_TRUE(WaitFor([&] { return !tmrupdate->isActive(); }));
    QTest::qWait(300);
    EXPECT_TRUE(web_.Requests().empty());
    EXPECT_TRUE(answers_.asked.empty());
    EXPECT_TRUE(exits_.empty());
    EXPECT_EQ(window_->UpWin(), nullptr);
}

// A forced update of a package with the wrong checksum: the user is told, the update window follows the slow
// download and refuses to close; the failed check leaves the program running and lets the window go.
TEST_F(UpdateWindowTest, TheUpdateWindowFollowsTheDownloadAndMayCloseOnlyAfterItFailed) {
    TTempDir packages;
    const std::string program = ZipBytes(packages.Path(), "update.zip", {File("vexo", std::string(4000, 'x'))});
    sim::TSimResponse slow;
    slow.body = program;
    slow.dripIntervalMs = 2;
    web_.Serve(kConfigHost, "/update.zip", slow);
    const std::uint32_t wrongCrc = Crc32Update(0, program.data(), program.size()) ^ 1u;
    web_.Serve(kConfigHost, kRemoteConfigPath,
               Envelope("<config><version><vexo ver=\"2.1\" force=\"1\" crc=\"" + std::to_string(wrongCrc) +
                        "\">http://" + kConfigHost + "/update.zip</vexo></version></config>"));
    StartWindow(std::string("config=") + kConfigHost + "\n");
    auto* tmrupdate = window_->findChild<QTimer*>("tmrupdate");

    ASSERT_TRUE(WaitFor([&] { return window_->UpWin() != nullptr; }));
    ASSERT_EQ(answers_.asked.size(), 1u);
    EXPECT_EQ(answers_.asked[0].text, "您的客户端版本太低，服务端已不支持，需升级到最新版本才能正常使用！");
    EXPECT_FALSE(tmrupdate->isActive());  // the configuration carried version information
    Tfmupwin* upwin = window_->UpWin();
    EXPECT_TRUE(upwin->isVisible());
    EXPECT_EQ(upwin->windowTitle(), QStringLiteral("程序正在升级..."));
    EXPECT_EQ(upwin->size(), QSize(kUpWinWidth, kUpWinHeight));
    EXPECT_TRUE(upwin->windowFlags() & Qt::WindowStaysOnTopHint);
    auto* bar = upwin->findChild<QProgressBar*>("pro1");
    EXPECT_EQ(bar->geometry(), QRect(32, 42, 361, 22));
    EXPECT_FALSE(upwin->close());
    EXPECT_TRUE(upwin->isVisible());

    ASSERT_TRUE(WaitFor([&] { return upwin->Failed(); }));
    EXPECT_EQ(bar->value(), 100);
    EXPECT_FALSE(upwin->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(web_.RequestsTo(kConfigHost, "/update.zip").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(home_.Dir() / "uplog.txt"));
    EXPECT_TRUE(exits_.empty());
    EXPECT_TRUE(upwin->close());
}

// The packages arrive, but the updater package holds no updater: the hand-over cannot start it, and the program
// goes on as after a failed download.
TEST_F(UpdateWindowTest, AnUpdaterPackageWithoutTheUpdaterLeavesTheProgramRunning) {
    TTempDir packages;
    const std::string program = ZipBytes(packages.Path(), "update.zip", {File("vexo", "new program")});
    const std::string updater = ZipBytes(packages.Path(), "up.zip", {File("readme.txt", "no updater here")});
    web_.Serve(kConfigHost, "/update.zip", sim::TSimResponse::Status(200, program));
    web_.Serve(kConfigHost, "/up.zip", sim::TSimResponse::Status(200, updater));
    const auto crc = [](const std::string& bytes) { return std::to_string(Crc32Update(0, bytes.data(), bytes.size())); };
    web_.Serve(kConfigHost, kRemoteConfigPath,
               Envelope("<config><version><vexo ver=\"2.1\" crc=\"" + crc(program) + "\">http://" + kConfigHost +
                        "/update.zip</vexo><vexoupdate ver=\"1.0.0.2\" crc=\"" + crc(updater) + "\">http://" +
                        kConfigHost + "/up.zip</vexoupdate></version></config>"));
    StartWindow(std::string("config=") + kConfigHost + "\n");

    ASSERT_TRUE(WaitFor([&] { return window_->UpWin() != nullptr && window_->UpWin()->Failed(); }));
    EXPECT_TRUE(answers_.asked.empty());  // not forced: no message
    EXPECT_EQ(web_.RequestsTo(kConfigHost, "/up.zip").size(), 1u);
    EXPECT_EQ(ReadBytes(home_.Dir() / "update.zip"), program);
    EXPECT_TRUE(std::filesystem::exists(home_.Dir() / "readme.txt"));
    EXPECT_FALSE(std::filesystem::exists(home_.Dir() / "update.exe"));
    EXPECT_TRUE(exits_.empty());
    EXPECT_TRUE(window_->isVisible());
}

// Four failed configuration downloads, a second apart: the message, then the end of the program.
TEST_F(UpdateWindowTest, FourFailedConfigurationDownloadsShowTheMessageThenEndTheProgram) {
    web_.Serve(kConfigHost, kRemoteConfigPath, sim::TSimResponse::Status(503));
    web_.Serve(kUpdateHost, sim::kAnyPath, sim::TSimResponse::Status(503));
    StartWindow(std::string("config=") + kConfigHost + "\nupdate=" + kUpdateHost + "\n");
    ASSERT_TRUE(WaitFor([&] { return !exits_.empty(); }));
    EXPECT_EQ(ConfigRequests(), 4u);
    ASSERT_EQ(answers_.asked.size(), 1u);
    EXPECT_EQ(answers_.asked[0].text, kConfigFailedText);
    EXPECT_EQ(answers_.asked[0].kind, kBoxInformation);
    EXPECT_EQ(exits_, std::vector<int>{1});
    EXPECT_EQ(window_->UpWin(), nullptr);
}

}  // namespace
}  // namespace vexo::test
