// What a remote configuration announces (version rules, element rules, the updater), and the controller's
// download, retries, forced-update message and giving up, against the loopback simulated web.
#include "update/RemoteConfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "net/HttpClient.h"
#include "platform/EventLoop.h"
#include "platform/MessageBox.h"
#include "platform/WorkerThread.h"
#include "sim/SimWeb.h"
#include "support/TempHome.h"
#include "text/Gbk.h"
#include "update/UpdateTestSupport.h"
#include "update/desutil.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;

const TUpdaterState kNoUpdater{};

TRemoteConfigResult Read(const std::string& xml, const TUpdaterState& updater = kNoUpdater, bool allowed = true) {
    return ReadRemoteConfigXml(Utf8ToGbk(xml), updater, allowed);
}

TEST(IsVersionNewerTest, PartsComparedPairwiseOnlyWhenTheCountsAgree) {
    EXPECT_TRUE(IsVersionNewer("1.0.0.2", "1.0.0.1"));
    EXPECT_FALSE(IsVersionNewer("1.0.0.1", "1.0.0.2"));
    EXPECT_FALSE(IsVersionNewer("1.1", "1.0.0.0"));  // different numbers of parts
    EXPECT_FALSE(IsVersionNewer("1.0.0.2", "1.0.0.2"));
    EXPECT_TRUE(IsVersionNewer("2.10", "2.9"));            // numbers, not text
    EXPECT_TRUE(IsVersionNewer("1.0.", "0.9"));            // a trailing "." adds no part
    EXPECT_FALSE(IsVersionNewer("1.x", "1.0"));            // not a number reads as 0
    EXPECT_FALSE(IsVersionNewer("1.99999999999", "1.5"));  // beyond 32 bits reads as 0
}

TEST(RemoteConfigReadTest, ProgramVersionMustExceedTwoPointZero) {
    const auto same = Read(R"(<c><version><vexo ver="2.0" crc="5">http://h/u.zip</vexo></version></c>)");
    ASSERT_TRUE(same.Parsed);
    EXPECT_FALSE(same.Info.HasUpdate);
    EXPECT_TRUE(same.Info.UpdateUrl.empty());

    const auto newer = Read(R"(<c><version><vexo ver="2.01" crc="5">  http://h/u.zip  </vexo></version></c>)");
    EXPECT_TRUE(newer.Info.HasUpdate);
    EXPECT_FALSE(newer.Info.ForceUpdate);
    EXPECT_EQ(newer.Info.UpdateUrl, "http://h/u.zip");
    EXPECT_EQ(newer.Info.UpdateCrc, 5U);

    EXPECT_FALSE(Read(R"(<c><version><vexo ver="abc">http://h/u.zip</vexo></version></c>)").Info.HasUpdate);
    EXPECT_FALSE(Read(R"(<c><version><vexo>http://h/u.zip</vexo></version></c>)").Info.HasUpdate);
    EXPECT_FALSE(Read(R"(<c><version><vexo ver="1.9">x</vexo></version></c>)").Info.HasUpdate);
    EXPECT_TRUE(Read(R"(<c><version><vexo ver="10">x</vexo></version></c>)").Info.HasUpdate);
}

TEST(RemoteConfigReadTest, ForceAndCrcAttributes) {
    const auto forced = Read(R"(<c><version><vexo ver="3" force="1" crc="4294967295">u</vexo></version></c>)");
    EXPECT_TRUE(forced.Info.ForceUpdate);
    EXPECT_EQ(forced.Info.UpdateCrc, 0xFFFFFFFFU);
    EXPECT_FALSE(Read(R"(<c><version><vexo ver="3" force="true">u</vexo></version></c>)").Info.ForceUpdate);
    // Signed 64-bit, low 32 bits used; anything else reads as 0.
    EXPECT_EQ(Read(R"(<c><version><vexo ver="3" crc="-1">u</vexo></version></c>)").Info.UpdateCrc, 0xFFFFFFFFU);
    EXPECT_EQ(Read(R"(<c><version><vexo ver="3" crc="4294967297">u</vexo></version></c>)").Info.UpdateCrc, 1U);
    EXPECT_EQ(Read(R"(<c><version><vexo ver="3" crc="12ab">u</vexo></version></c>)").Info.UpdateCrc, 0U);
    EXPECT_EQ(Read(R"(<c><version><vexo ver="3" crc="99999999999999999999">u</vexo></version></c>)").Info.UpdateCrc,
              0U);
}

TEST(RemoteConfigReadTest, OnlyTheDocumentedPlacesAreRead) {
    EXPECT_FALSE(Read("<c><other/></c>").HasVersionInfo);
    EXPECT_TRUE(Read("<c><version/></c>").HasVersionInfo);
    // Only children of the root count; names are compared with their letter case.
    EXPECT_FALSE(Read("<c><x><version/></x></c>").HasVersionInfo);
    EXPECT_FALSE(Read("<c><Version/></c>").HasVersionInfo);
    // Deeper, differently cased or unknown elements change nothing.
    const auto ignored =
        Read(R"(<c><version><x><vexo ver="3">deep</vexo></x><VEXO ver="3">case</VEXO><note ver="9"/></version></c>)");
    EXPECT_FALSE(ignored.Info.HasUpdate);
    // A later element overrides an earlier one, across several version elements.
    const auto later =
        Read(R"(<c><version><vexo ver="3" crc="1">first</vexo></version><version><vexo ver="4" crc="2">second</vexo>)"
             R"(<vexo ver="1">old</vexo></version></c>)");
    EXPECT_EQ(later.Info.UpdateUrl, "second");
    EXPECT_EQ(later.Info.UpdateCrc, 2U);
    // The text is the first run of character data that is not blank.
    const auto text =
        Read("<c><version><vexo ver=\"3\">\r\n\t<!-- c --> \x01 <b/>http://h/a.zip\r\n</vexo></version></c>");
    EXPECT_EQ(text.Info.UpdateUrl, "http://h/a.zip");
    EXPECT_EQ(Read(R"(<c><version><vexo ver="3"><![CDATA[ http://h/c.zip ]]></vexo></version></c>)").Info.UpdateUrl,
              "http://h/c.zip");
    EXPECT_EQ(Read(R"(<c><version><vexo ver="3">http://h/a.zip?x=1&amp;y=2</vexo></version></c>)").Info.UpdateUrl,
              "http://h/a.zip?x=1&y=2");
}

TEST(RemoteConfigReadTest, RootIsTheFirstCompleteTopLevelElement) {
    EXPECT_FALSE(Read("").Parsed);
    EXPECT_FALSE(Read("just text").Parsed);
    EXPECT_FALSE(Read("<c><version>").Parsed);  // never completed
    // Later top-level elements are ignored, also when they are broken.
    const auto first = Read(R"(<c><version/></c><d><version><vexo ver="3">u</vexo></version></d>)");
    EXPECT_TRUE(first.Parsed);
    EXPECT_FALSE(first.Info.HasUpdate);
    EXPECT_TRUE(Read(R"(<?xml version="1.0"?><c><version/></c><broken)").Parsed);
    // Line breaks of any kind.
    EXPECT_TRUE(Read("<c>\r<version>\n<vexo ver=\"3\">u</vexo>\r\n</version></c>").Info.HasUpdate);
}

TEST(RemoteConfigReadTest, UpdaterElement) {
    const std::string element = R"(<c><version><vexoupdate ver="%" crc="7">http://h/up.zip</vexoupdate></version></c>)";
    const auto with = [&](std::string_view ver) {
        std::string xml = element;
        xml.replace(xml.find('%'), 1, ver);
        return xml;
    };
    // Absent: needed whatever its version.
    for (const std::string_view ver : {"", "0", "abc", "1.0.0.2"}) {
        const auto result = Read(with(ver));
        EXPECT_TRUE(result.Info.NeedUpdater) << ver;
        EXPECT_EQ(result.Info.UpdaterUrl, "http://h/up.zip");
        EXPECT_EQ(result.Info.UpdaterCrc, 7U);
        EXPECT_FALSE(result.ReplaceUpdater);
    }
    const TUpdaterState present{true, "1.0.0.1"};
    const auto newer = Read(with("1.0.0.2"), present);
    EXPECT_TRUE(newer.ReplaceUpdater);
    EXPECT_TRUE(newer.Info.NeedUpdater);
    for (const std::string_view ver : {"1.0.0.1", "1.0.0.0", "1.1", ""}) {
        const auto kept = Read(with(ver), present);
        EXPECT_FALSE(kept.ReplaceUpdater) << ver;
        EXPECT_FALSE(kept.Info.NeedUpdater) << ver;
    }
    // Once replaced, a later element finds it missing.
    const auto twice =
        Read(R"(<c><version><vexoupdate ver="1.0.0.2">a</vexoupdate><vexoupdate ver="0">b</vexoupdate></version></c>)",
             present);
    EXPECT_EQ(twice.Info.UpdaterUrl, "b");
}

TEST(RemoteConfigReadTest, NothingIsAnnouncedWhereTheProgramMayNotUpdateItself) {
    const auto result =
        Read(R"(<c><version><vexo ver="3">u</vexo><vexoupdate ver="9.0.0.0">p</vexoupdate></version></c>)",
             TUpdaterState{true, "1.0.0.0"}, false);
    EXPECT_TRUE(result.Parsed);
    EXPECT_TRUE(result.HasVersionInfo);
    EXPECT_FALSE(result.Info.HasUpdate);
    EXPECT_FALSE(result.ReplaceUpdater);
}

TEST(RemoteConfigCliTest, CheckPrintsTheDecisionOrOneErrorLine) {
    test::TTempDir dir;
    const auto envelope = dir.Path() / "config.txt";
    test::WriteBytes(envelope, DesEncodeStream(Utf8ToGbk(R"(<c><version><vexo ver="2.01" crc="4294967295" )"
                                                         R"(force="1">http://h/升级.zip</vexo></version></c>)"),
                                               kConfigKey));
    const test::TProgramRun run = test::RunProgram({VEXO_CLI_PATH, "config", "check", envelope.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"version_info\":true,\"update\":true,\"forced\":true,\"package\":\"http://h/升级.zip\","
              "\"package_crc\":4294967295,\"updater_needed\":false,\"updater_outdated\":false,\"updater\":\"\","
              "\"updater_crc\":0}\n");
    // Envelopes the program would count as failed downloads: one error line, status 2.
    for (const std::string& bytes :
         {std::string(), std::string("abc"), std::string(9, 'x'), DesEncodeStream("not xml", kConfigKey)}) {
        test::WriteBytes(envelope, bytes);
        const test::TProgramRun bad = test::RunProgram({VEXO_CLI_PATH, "config", "check", envelope.string()});
        EXPECT_EQ(bad.exitCode, 2);
        EXPECT_TRUE(bad.out.empty());
        EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
    }
}

// The controller on an event loop against the simulated configuration server.
class RemoteConfigControllerTest : public ::testing::Test {
  protected:
    static constexpr char kHost[] = "config.vexo.test";

    void SetUp() override {
        InitNetwork();
        SetCurrentDispatcher(loop_);
        previousBox_ = SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int kind) {
            messages_.push_back(text);
            EXPECT_EQ(caption, kMessageCaption);
            EXPECT_EQ(kind, kBoxInformation);
            events_.push_back("message");
            return 0;
        });
    }
    void TearDown() override {
        controller_.reset();
        loop_->RunUntil([] { return LiveWorkerCount() == 0; }, 10s);
        SetMessageBoxHandler(previousBox_);
        SetCurrentDispatcher(nullptr);
    }

    // Serves the answers in turn (the last one again when they run out).
    void ServeInTurn(std::vector<sim::TSimResponse> answers) {
        web_.Handle(kHost, kRemoteConfigPath, [this, answers](const sim::TSimRequest&) {
            const std::size_t i = std::min<std::size_t>(served_++, answers.size() - 1);
            return answers[i];
        });
    }

    void StartController(const std::string& programDir = "/nonexistent/") {
        TRemoteConfigHooks hooks;
        hooks.StopVersionCheck = [this] { events_.push_back("stop-check"); };
        hooks.StartUpdate = [this](std::unique_ptr<TUpDateInfo> info) {
            events_.push_back("start-update");
            started_ = std::move(info);
        };
        hooks.GiveUp = [this] { events_.push_back("give-up"); };
        controller_ = std::make_unique<TRemoteConfig>(RemoteConfigAddress(kHost), programDir, true, hooks);
        controller_->Start();
    }

    bool RunUntilEvent(std::string_view event, std::chrono::milliseconds limit = 15s) {
        return loop_->RunUntil([&] { return std::find(events_.begin(), events_.end(), event) != events_.end(); },
                               limit);
    }

    static sim::TSimResponse Envelope(const std::string& xml) {
        sim::TSimResponse response;
        response.body = DesEncodeStream(Utf8ToGbk(xml), kConfigKey);
        return response;
    }

    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    sim::TSimWeb web_;
    sim::TProxyEnvironment proxy_{web_.BaseUrl()};
    std::atomic<std::size_t> served_{0};
    std::vector<std::string> events_;
    std::vector<std::string> messages_;
    std::unique_ptr<TUpDateInfo> started_;
    std::unique_ptr<TRemoteConfig> controller_;
    TMessageBoxHandler previousBox_;
};

TEST_F(RemoteConfigControllerTest, FourFailedDownloadsShowTheMessageAndGiveUp) {
    // A refused answer with a body, an empty body, a broken envelope, text that is no XML.
    ServeInTurn({sim::TSimResponse::Status(404, "not found"), sim::TSimResponse::Status(200),
                 sim::TSimResponse::Status(200, "0123456789"), Envelope("no xml here")});
    StartController();
    ASSERT_TRUE(RunUntilEvent("give-up"));
    const auto requests = web_.RequestsTo(kHost, kRemoteConfigPath);
    ASSERT_EQ(requests.size(), 4U);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(requests[i].time - requests[i - 1].time),
                  kConfigRetryDelay);
    }
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_TRUE(messages_[0].starts_with("获取服务配置信息发生了错误,"));
    EXPECT_EQ(events_, (std::vector<std::string>{"message", "give-up"}));
    EXPECT_EQ(controller_->RetryCount(), kMaxConfigRetries);
    EXPECT_FALSE(controller_->Applied());
}

TEST_F(RemoteConfigControllerTest, ASuccessAtTheFourthAttemptIsApplied) {
    ServeInTurn({sim::TSimResponse::Status(500, "x"), sim::TSimResponse::Status(200), sim::TSimResponse::Status(200),
                 Envelope(R"(<c><version><vexo ver="2.01" crc="9">http://h/u.zip</vexo></version></c>)")});
    StartController();
    ASSERT_TRUE(RunUntilEvent("start-update"));
    EXPECT_EQ(events_, (std::vector<std::string>{"stop-check", "start-update"}));
    ASSERT_TRUE(started_);
    EXPECT_EQ(started_->UpdateUrl, "http://h/u.zip");
    EXPECT_EQ(started_->UpdateCrc, 9U);
    EXPECT_TRUE(messages_.empty());  // not forced: no question, no message
    EXPECT_EQ(controller_->RetryCount(), 3);
    EXPECT_EQ(web_.RequestsTo(kHost, kRemoteConfigPath).size(), 4U);
}

TEST_F(RemoteConfigControllerTest, ForcedUpdateTellsTheUserFirst) {
    ServeInTurn({Envelope(R"(<c><version><vexo ver="3" force="1">http://h/u.zip</vexo></version></c>)")});
    StartController();
    ASSERT_TRUE(RunUntilEvent("start-update"));
    EXPECT_EQ(events_, (std::vector<std::string>{"stop-check", "message", "start-update"}));
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0], kForcedUpdateText);
    EXPECT_TRUE(started_->ForceUpdate);
}

TEST_F(RemoteConfigControllerTest, AnOutdatedUpdaterIsDeleted) {
    test::TTempDir dir;
    test::WriteBytes(dir.Path() / "update.exe", "old updater VEXO_FILE_VERSION=1.0.0.1 end");
    test::WriteBytes(dir.Path() / "keep.txt", "x");
    ServeInTurn({Envelope(R"(<c><version><vexoupdate ver="1.0.0.2">http://h/up.zip</vexoupdate></version></c>)")});
    StartController(dir.Slashed());
    ASSERT_TRUE(loop_->RunUntil([this] { return controller_->Applied(); }, 10s));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "update.exe"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "keep.txt"));
    EXPECT_EQ(started_, nullptr);  // no program update: the updater is fetched with the next one
}

}  // namespace
}  // namespace vexo
