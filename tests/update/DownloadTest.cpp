// Package downloads, the update run and the hand-over, and the version check, against the loopback simulated
// web: status values, checksums, refused addresses, progress, the order of the two packages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Notify.h"
#include "net/HttpClient.h"
#include "platform/EventLoop.h"
#include "platform/WorkerThread.h"
#include "sim/SimWeb.h"
#include "text/Global.h"
#include "update/DownIdHttp.h"
#include "update/UpdateService.h"
#include "update/UpdateTestSupport.h"
#include "update/UpdateThread.h"
#include "update/autoUpdate.h"
#include "update/desutil.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kHost[] = "download.vexo.test";
const std::string kBase = std::string("http://") + kHost;

std::uint32_t ZlibCrc(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// A zip archive in memory holding the named files.
std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& files, const fs::path& scratch) {
    std::vector<test::TZipEntry> entries;
    for (const auto& [name, data] : files)
        entries.push_back(test::File(name, data));
    test::MakeZip(scratch, entries);
    std::string bytes = test::ReadBytes(scratch);
    fs::remove(scratch);
    return bytes;
}

class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitNetwork();
        SetCurrentDispatcher(loop_);
        window_ = std::make_shared<TNotifyWindow>(loop_, [this](const TNotification& n) {
            ASSERT_EQ(n.Message, kMsgUpdate);
            const auto* lParam = std::get_if<std::intptr_t>(&n.LParam);
            if (n.WParam == kUpdateShowWindow) {
                shown_ = web_.Requests().size();
            } else if (n.WParam == kUpdateProgress) {
                ASSERT_NE(lParam, nullptr);
                progress_.push_back(static_cast<int>(*lParam));
            } else {
                ends_.push_back(n.WParam);
            }
        });
    }
    void TearDown() override {
        loop_->RunUntil([] { return LiveWorkerCount() == 0; }, 10s);
        SetCurrentDispatcher(nullptr);
    }

    std::string ProgramDir() const { return dir_.Slashed(); }

    // Runs one download to its end and returns its status.
    std::uint8_t Download(const std::string& address, const std::string& file, TDownKind kind, std::uint32_t crc) {
        auto download = std::make_unique<TDownIdHttp>(window_, address, ProgramDir() + file, kind, crc, kMsgUpdate,
                                                      ProgramFolderRules("vexo"));
        TDownIdHttp* raw = download.get();
        bool ended = false;
        std::uint8_t status = 77;
        download->SetOnTerminate([&] {
            ended = true;
            status = raw->Status();
        });
        TWorkerThread::Start(std::move(download));
        EXPECT_TRUE(loop_->RunUntil([&] { return ended; }, 20s));
        loop_->ProcessPending();  // progress posted before the end
        return status;
    }

    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    sim::TSimWeb web_;
    sim::TProxyEnvironment proxy_{web_.BaseUrl()};
    test::TTempDir dir_;
    std::shared_ptr<TNotifyWindow> window_;
    std::vector<int> progress_;
    std::vector<std::intptr_t> ends_;
    std::optional<std::size_t> shown_;  // requests made when the update window was asked for
};

TEST_F(DownloadTest, PlainDownloadWithItsChecksumAndProgress) {
    std::string package(300000, '\0');
    for (std::size_t i = 0; i < package.size(); ++i)
        package[i] = static_cast<char>(i * 7 + i / 251);
    sim::TSimResponse response;
    response.body = package;
    response.chunkSize = 0;
    web_.Serve(kHost, "/u.zip", response);
    EXPECT_EQ(Download(kBase + "/u.zip", "update.zip", TDownKind::Plain, ZlibCrc(package)), kDownDone);
    EXPECT_EQ(test::ReadBytes(dir_.Path() / "update.zip"), package);
    ASSERT_FALSE(progress_.empty());
    EXPECT_EQ(progress_.back(), 100);
    for (std::size_t i = 1; i < progress_.size(); ++i)
        EXPECT_LE(progress_[i - 1], progress_[i]);
    EXPECT_TRUE(ends_.empty());  // a download reports its end through its callback only
    // The address is compared in lower case.
    EXPECT_EQ(Download("HTTP://" + std::string(kHost) + "/u.zip", "update.zip", TDownKind::Plain, 0), kDownDone);
}

TEST_F(DownloadTest, WrongChecksumKeepsTheFileAndZeroSkipsTheCheck) {
    web_.Serve(kHost, "/u.zip", sim::TSimResponse::Status(200, "package bytes"));
    EXPECT_EQ(Download(kBase + "/u.zip", "update.zip", TDownKind::Plain, ZlibCrc("other bytes")), kDownBadChecksum);
    EXPECT_EQ(test::ReadBytes(dir_.Path() / "update.zip"), "package bytes");
    EXPECT_EQ(Download(kBase + "/u.zip", "update.zip", TDownKind::Plain, 0), kDownDone);
}

TEST_F(DownloadTest, HttpsAndOtherSchemesAreRefusedWithoutARequest) {
    web_.Serve(sim::kAnyHost, sim::kAnyPath, sim::TSimResponse::Status(200, "x"));
    web_.Serve(kHost, "/missing.zip", sim::TSimResponse::Status(404, "not here"));
    web_.Serve(kHost, "/moved.zip", sim::TSimResponse::Redirect("https://" + std::string(kHost) + "/u.zip"));
    EXPECT_EQ(Download(kBase + "/missing.zip", "update.zip", TDownKind::Plain, 0), kDownFailed);
    EXPECT_EQ(Download(kBase + "/moved.zip", "update.zip", TDownKind::Plain, 0), kDownFailed);
    web_.ClearRequests();
    EXPECT_EQ(Download("https://" + std::string(kHost) + "/u.zip", "update.zip", TDownKind::Plain, 0), kDownFailed);
    EXPECT_EQ(Download("ftp://" + std::string(kHost) + "/u.zip", "update.zip", TDownKind::Plain, 0), kDownFailed);
    EXPECT_EQ(Download(std::string(kHost) + "/u.zip", "update.zip", TDownKind::Plain, 0), kDownFailed);
    EXPECT_TRUE(web_.Requests().empty());
    EXPECT_FALSE(fs::exists(dir_.Path() / "update.zip"));
}

TEST_F(DownloadTest, BodyWithoutAnnouncedLengthStillDownloads) {
    sim::TSimResponse response = sim::TSimResponse::Status(200, std::string(100000, 'q'));
    response.framing = sim::TBodyFraming::CloseDelimited;
    web_.Serve(kHost, "/u.zip", response);
    EXPECT_EQ(Download(kBase + "/u.zip", "update.zip", TDownKind::Plain, 0), kDownDone);
    EXPECT_EQ(fs::file_size(dir_.Path() / "update.zip"), 100000U);
    for (const int percent : progress_) {
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
}

class AutoUpdateTest : public DownloadTest {
  protected:
    // Runs an update with the record until the run posts its end.
    void RunUpdate(const TUpDateInfo& info) {
        TAutoUpdate run(window_, std::make_unique<TUpDateInfo>(info), ProgramDir(), "vexo");
        run.Start();
        EXPECT_TRUE(loop_->RunUntil([&] { return !ends_.empty(); }, 20s));
        EXPECT_FALSE(run.Downloading());
    }

    TUpDateInfo Record(bool needUpdater) const {
        TUpDateInfo info;
        info.HasUpdate = true;
        info.UpdateUrl = kBase + "/update.zip";
        info.UpdateCrc = ZlibCrc(kPackage);
        info.NeedUpdater = needUpdater;
        info.UpdaterUrl = kBase + "/up.zip";
        return info;
    }

    const std::string kPackage = "the program package";
};

TEST_F(AutoUpdateTest, ProgramPackageFirstThenTheUpdaterPackageThenHandOver) {
    web_.Serve(kHost, "/update.zip", sim::TSimResponse::Status(200, kPackage));
    const std::string updater = ZipOf({{"update.exe", "#!/bin/sh\n"}}, dir_.Path() / "s.zip");
    bool packageReadyFirst = false;
    web_.Handle(kHost, "/up.zip", [&](const sim::TSimRequest&) {
        // The program package has been written and checked by the time the updater package is asked for.
        packageReadyFirst = test::ReadBytes(dir_.Path() / "update.zip") == kPackage;
        return sim::TSimResponse::Status(200, updater);
    });
    RunUpdate(Record(true));
    EXPECT_EQ(ends_, (std::vector<std::intptr_t>{kUpdateHandOver}));
    EXPECT_TRUE(packageReadyFirst);
    EXPECT_EQ(::access((dir_.Path() / "update.exe").c_str(), X_OK), 0);  // unpacked with u+x
    EXPECT_FALSE(fs::exists(dir_.Path() / "up.zip"));
    EXPECT_EQ(web_.RequestsTo(kHost, "/update.zip").size(), 1U);
    EXPECT_EQ(web_.RequestsTo(kHost, "/up.zip").size(), 1U);
}

TEST_F(AutoUpdateTest, UpdaterPackageWithoutUpdaterStillHandsOverButTheHandOverRefuses) {
    web_.Serve(kHost, "/update.zip", sim::TSimResponse::Status(200, kPackage));
    web_.Serve(kHost, "/up.zip",
               sim::TSimResponse::Status(200, ZipOf({{"readme.txt", "no updater"}}, dir_.Path() / "s")));
    RunUpdate(Record(true));
    EXPECT_EQ(ends_, (std::vector<std::intptr_t>{kUpdateHandOver}));
    EXPECT_FALSE(fs::exists(dir_.Path() / "update.exe"));
    bool ended = false;
    EXPECT_FALSE(HandOver(ProgramDir(), "vexo", {nullptr, [&](const std::string&) { ended = true; }}));
    EXPECT_FALSE(ended);  // the program keeps running
    EXPECT_FALSE(fs::exists(dir_.Path() / "uplog.txt"));
}

TEST_F(AutoUpdateTest, FailedProgramPackageStopsTheRun) {
    web_.Serve(kHost, "/update.zip", sim::TSimResponse::Status(200, "damaged package"));
    RunUpdate(Record(true));
    EXPECT_EQ(ends_, (std::vector<std::intptr_t>{-1}));  // status 255 as a signed byte
    EXPECT_TRUE(web_.RequestsTo(kHost, "/up.zip").empty());

    ends_.clear();
    web_.Serve(kHost, "/update.zip", sim::TSimResponse::Status(503, "busy"));
    RunUpdate(Record(false));
    EXPECT_EQ(ends_, (std::vector<std::intptr_t>{0}));

    ends_.clear();
    TUpDateInfo https = Record(false);
    https.UpdateUrl = "https://" + std::string(kHost) + "/update.zip";
    web_.ClearRequests();
    RunUpdate(https);
    EXPECT_EQ(ends_, (std::vector<std::intptr_t>{0}));
    EXPECT_TRUE(web_.Requests().empty());
}

TEST_F(DownloadTest, HandOverWritesTheLogAndStartsTheUpdaterDirectly) {
    const fs::path updater = dir_.Path() / "update.exe";
    test::WriteBytes(updater, "#!/bin/sh\npwd > started.txt\n");
    fs::permissions(updater, fs::perms::owner_all);
    std::string endedWith;
    bool trayHidden = false;
    pid_t pid = -1;
    ASSERT_TRUE(HandOver(ProgramDir(), "vexo",
                         {[&] { trayHidden = true; }, [&](const std::string& p) { endedWith = p; }}, &pid));
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(test::ReadBytes(dir_.Path() / "uplog.txt"), "vexo\r\n");
    EXPECT_EQ(fs::path(std::string(Trim(test::ReadBytes(dir_.Path() / "started.txt")))), fs::canonical(dir_.Path()));
    EXPECT_TRUE(trayHidden);
    EXPECT_EQ(endedWith, ProgramDir() + "vexo");

    // Not executable, or not a regular file: nothing starts.
    fs::permissions(updater, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(HandOver(ProgramDir(), "vexo", {nullptr, [](const std::string&) { FAIL(); }}));
    fs::remove(updater);
    fs::create_directory(updater);
    EXPECT_FALSE(HandOver(ProgramDir(), "vexo", {nullptr, [](const std::string&) { FAIL(); }}));
}

TEST_F(DownloadTest, ServiceFetchesNothingWithoutHostsAndRunsAWholeUpdateWithThem) {
    web_.Serve(sim::kAnyHost, sim::kAnyPath, sim::TSimResponse::Status(200, "anything"));
    THosts none;
    TUpdateService idle(none, window_, {}, ProgramDir(), ProgramDir());
    idle.StartRemoteConfig();
    idle.StartVersionCheck("2.0");
    loop_->RunUntil([] { return false; }, 300ms);
    EXPECT_TRUE(web_.Requests().empty());

    THosts hosts;
    hosts.Config = "config.vexo.test";
    const std::string xml = "<c><version><vexo ver=\"2.5\">" + kBase + "/update.zip</vexo></version></c>";
    sim::TSimResponse envelope;
    envelope.body = DesEncodeStream(xml, kConfigKey);
    web_.Serve("config.vexo.test", "/soft/pelq/config.txt", envelope);
    bool versionCheckStopped = false;
    TUpdateWindowHooks hooks;
    hooks.StopVersionCheck = [&] { versionCheckStopped = true; };
    TUpdateService service(hosts, window_, hooks, ProgramDir(), ProgramDir());
    ASSERT_TRUE(service.SelfUpdate());
    service.StartRemoteConfig();
    ASSERT_TRUE(loop_->RunUntil([&] { return !ends_.empty(); }, 20s));
    EXPECT_TRUE(versionCheckStopped);
    EXPECT_EQ(shown_, 1U);  // after the configuration, before the package
    EXPECT_EQ(ends_, (std::vector<std::intptr_t>{kUpdateHandOver}));
    EXPECT_EQ(test::ReadBytes(dir_.Path() / "update.zip"), "anything");
    EXPECT_FALSE(service.HandOver());  // no update.exe: the program keeps running
}

TEST(VersionAnswerTest, ItemsAndAddresses) {
    EXPECT_EQ(SplitAnswerItems("a`b c\t\"d e\"``f`"), (std::vector<std::string>{"a", "b", "c", "d e", "", "f", ""}));
    EXPECT_EQ(SplitAnswerItems("\"say \"\"hi\"\"\""), (std::vector<std::string>{"say \"hi\""}));
    const auto info = ParseVersionAnswer("  url=http://h/a.zip`down=http://h/b.zip \r\n");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->FirstAddress, "http://h/a.zip");
    EXPECT_EQ(info->SecondAddress, "http://h/b.zip");
    const auto onlyFirst = ParseVersionAnswer("url=http://h/a.zip=x`none");
    ASSERT_TRUE(onlyFirst);
    EXPECT_EQ(onlyFirst->FirstAddress, "http://h/a.zip=x");
    EXPECT_EQ(onlyFirst->SecondAddress, "");
    EXPECT_FALSE(ParseVersionAnswer("url=http://h/a.zip"));  // one item
    EXPECT_FALSE(ParseVersionAnswer("nothing`here"));
    EXPECT_FALSE(ParseVersionAnswer("   "));
}

TEST_F(DownloadTest, VersionCheckAsksWithTheUpdaterVersion) {
    web_.Serve("update.vexo.test", "/version.aspx",
               sim::TSimResponse::Status(200, "u=http://h/new.zip`v=http://h/up.zip"));
    std::vector<TGetUpInfo> answers;
    const auto check = [&] {
        auto thread = std::make_unique<TUpdateThread>("update.vexo.test", "2.0", ProgramDir(),
                                                      [&](const TGetUpInfo& info) { answers.push_back(info); });
        const std::size_t before = answers.size();
        TUpdateThread* raw = TWorkerThread::Start(std::move(thread));
        EXPECT_TRUE(loop_->RunUntil([&] { return answers.size() > before; }, 10s));
        raw->Terminate();  // before its callback: the owner may still touch it
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, 10s));
    };
    check();
    test::WriteBytes(dir_.Path() / "update.exe", std::string("bin\0VEXO_FILE_VERSION=3.4.5.6\0", 31));
    check();
    const auto requests = web_.RequestsTo("update.vexo.test", "/version.aspx");
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].pathAndQuery, "/version.aspx?sign=vexo,2.0|eupdate,");
    EXPECT_EQ(requests[1].pathAndQuery, "/version.aspx?sign=vexo,2.0|eupdate,3.4");
    ASSERT_EQ(answers.size(), 2U);
    EXPECT_EQ(answers[0].FirstAddress, "http://h/new.zip");
    EXPECT_EQ(UpdaterVersionText(ProgramDir()), "3.4");
    test::WriteBytes(dir_.Path() / "update.exe", "no version");
    EXPECT_EQ(UpdaterVersionText(ProgramDir()), "1.0");
}

}  // namespace
}  // namespace vexo
