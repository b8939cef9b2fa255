// vexo-cli collect: collects one keyword from the chosen engines into the store, as the main window's start command
// does. The event loop of the main thread is the UI thread: it runs the notification handlers, the store and the
// task controller. The run ends when every collector has ended, after the task was stopped by the idle-page rule,
// the time limit, an interrupt or a company the database failed to store (or when every collector ended by an
// error).
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli_commands.h"
#include "engine/CollectionEvents.h"
#include "engine/Hosts.h"
#include "engine/Notify.h"
#include "engine/StartGate.h"
#include "engine/TaskCtl.h"
#include "net/HttpClient.h"
#include "platform/EventLoop.h"
#include "platform/Shutdown.h"
#include "platform/WorkerThread.h"
#include "store/KeyListInfo.h"
#include "text/Gbk.h"
#include "text/Global.h"

namespace vexo::cli {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kUsage = "usage: vexo-cli collect KEYWORD [--engines baidu,sogou,360] [--timeout SECONDS]";
// For the test suite only: every gate's interval and poll interval are multiplied by this factor (0 < f <= 1).
constexpr const char* kGateScaleVariable = "VEXO_TEST_GATE_SCALE";
constexpr auto kInterruptPoll = 100ms;
// How long the end waits for the site threads of the ended collectors.
constexpr auto kSiteThreadWait = 3000ms;
// Stop reason of a company the database failed to store; the summary gives their number instead.
constexpr const char* kStopNotStored = "not stored";

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) {
    interrupted.store(true);
}

struct TCollectOptions {
    std::string Keyword;
    bool Baidu = true;
    bool Sogou = true;
    bool So360 = true;
    std::optional<std::chrono::seconds> Timeout;
};

constexpr long long kMaxTimeoutSeconds = 366LL * 24 * 3600;

// Switches on the engines of a comma-separated list; false (with an error line) for an unknown or repeated name.
bool ParseEngines(std::string_view list, TCollectOptions& options) {
    options.Baidu = options.Sogou = options.So360 = false;
    while (true) {
        const std::string_view name = list.substr(0, list.find(','));
        bool* chosen = name == "baidu"   ? &options.Baidu
                       : name == "sogou" ? &options.Sogou
                       : name == "360"   ? &options.So360
                                         : nullptr;
        if (chosen == nullptr) {
            Fail("unknown engine '" + std::string(name) + "' (engines: baidu, sogou, 360)");
            return false;
        }
        if (*chosen) {
            Fail("engine '" + std::string(name) + "' named twice in --engines");
            return false;
        }
        *chosen = true;
        if (name.size() == list.size())
            return true;
        list.remove_prefix(name.size() + 1);
    }
}

// The options, or nothing after an error line.
std::optional<TCollectOptions> ParseOptions(TCommandArgs args) {
    TCollectOptions options;
    bool haveKeyword = false;
    bool haveEngines = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--engines" || arg == "--timeout") {
            if (i + 1 == args.size()) {
                Fail(std::string(arg) + " needs a value; " + std::string(kUsage));
                return std::nullopt;
            }
            if (arg == "--timeout" ? options.Timeout.has_value() : haveEngines) {
                Fail(std::string(arg) + " given twice");
                return std::nullopt;
            }
            const std::string_view value = args[++i];
            if (arg == "--engines") {
                haveEngines = true;
                if (!ParseEngines(value, options))
                    return std::nullopt;
                continue;
            }
            long long seconds = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (error != std::errc() || end != value.data() + value.size() || seconds <= 0 ||
                seconds > kMaxTimeoutSeconds) {
                Fail("--timeout takes a whole number of seconds from 1 to " + std::to_string(kMaxTimeoutSeconds) +
                     ", not '" + std::string(value) + "'");
                return std::nullopt;
            }
            options.Timeout = std::chrono::seconds(seconds);
        } else if (arg.starts_with("--")) {
            Fail("unknown option '" + std::string(arg) + "'; " + std::string(kUsage));
            return std::nullopt;
        } else if (haveKeyword) {
            Fail("one keyword only, '" + std::string(arg) + "' is one too many; " + std::string(kUsage));
            return std::nullopt;
        } else {
            options.Keyword = arg;
            haveKeyword = true;
        }
    }
    if (!haveKeyword) {
        Fail(std::string(kUsage));
        return std::nullopt;
    }
    // The main window refuses a keyword that is blank once trimmed; the keyword itself is kept as typed, as the
    // add command keeps it.
    if (Trim(options.Keyword).empty()) {
        Fail("the keyword is empty");
        return std::nullopt;
    }
    if (!IsValidUtf8(options.Keyword)) {
        Fail("the keyword is not valid UTF-8");
        return std::nullopt;
    }
    return options;
}

// Shortens every gate by the factor of kGateScaleVariable; false (with an error line) for an unusable value.
bool ApplyTestGateScale() {
    const char* text = std::getenv(kGateScaleVariable);
    if (text == nullptr)
        return true;
    const std::string_view value = text;
    double scale = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), scale);
    if (error != std::errc() || end != value.data() + value.size() || !(scale > 0 && scale <= 1)) {
        Fail(std::string(kGateScaleVariable) + " must be a number above 0 and at most 1");
        return false;
    }
    auto scaled = [scale](TGateTiming timing) {
        auto times = [scale](std::chrono::milliseconds ms) {
            return std::max(
                std::chrono::milliseconds(1),
                std::chrono::milliseconds(static_cast<std::int64_t>(static_cast<double>(ms.count()) * scale)));
        };
        return TGateTiming{times(timing.Interval), times(timing.Poll)};
    };
    for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
        TEngineGates& gates = GatesOfEngine(engine);
        gates.ResultPage.SetTiming(scaled(gates.ResultPage.Timing()));
        gates.Site.SetTiming(scaled(gates.Site.Timing()));
    }
    return true;
}

const char* EngineName(int engine) {
    switch (engine) {
        case kEngineBaidu:
            return "baidu";
        case kEngineSogou:
            return "sogou";
        default:
            return "360";
    }
}

// One run of the command: the loop, the store, the controller and what the handlers count.
class TCollectRun {
  public:
    TCollectRun(TCollectOptions options, THosts hosts, std::shared_ptr<TEventLoop> loop, TKeyListInfo& store)
        : options_(std::move(options)), hosts_(std::move(hosts)), loop_(std::move(loop)), store_(store) {
        for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
            if (Chosen(engine))
                pages_[engine] = 0;
        }
    }

    int Run() {
        store_.OnKeyLoaded = [this](TKeyListInfo&, const std::string&) { loaded_ = true; };
        store_.OnCompanyStored = [this](TKeyListInfo&, const std::string&,
                                        const std::shared_ptr<TComPanyInfo>& record) {
            ++stored_;
            std::fprintf(stderr, "stored: %s\n", OneLine(record->GetComName()).c_str());
        };
        TKeyData* entry = store_.AddKey(options_.Keyword, true);
        if (entry == nullptr)
            return Fail("the keyword is empty or not valid UTF-8");
        if (entry->ID == "0")
            return Fail("cannot store the keyword '" + options_.Keyword + "': the database refused");
        // A keyword typed in another letter case is the stored one from here on.
        keyword_ = entry->KeyStr;

        const TTimerId interruptTimer = loop_->StartTimer(kInterruptPoll, [this] {
            if (interrupted.load())
                StopTask("interrupted");
        });
        if (store_.RequestKeyData(keyword_, PurposeStart) == nullptr) {
            loop_->RunUntil([this] { return loaded_ || interrupted.load(); }, std::chrono::hours(24 * 366));
        }
        store_.TakePendingPurpose(keyword_);
        entry = store_.FindKey(keyword_);
        if (entry == nullptr)
            return Fail("the keyword '" + keyword_ + "' is gone");
        if (!entry->LoadError.empty()) {
            return Fail("cannot load the companies of '" + keyword_ + "': " + entry->LoadError);
        }
        if (interrupted.load()) {
            StopTask("interrupted");
        } else {
            StartTask(*entry);
        }

        if (controller_ && controller_->LiveCollectorCount() > 0)
            loop_->Run();
        taskEnded_ = true;
        loop_->StopTimer(interruptTimer);
        loop_->StopTimer(timeLimitTimer_);
        // The ended collectors have told their site threads to stop; give those a moment to finish.
        loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kSiteThreadWait);
        PrintSummary();
        return ReportWriteFailures();
    }

  private:
    bool Chosen(int engine) const {
        return engine == kEngineBaidu ? options_.Baidu : engine == kEngineSogou ? options_.Sogou : options_.So360;
    }

    void StartTask(const TKeyData& entry) {
        const THosts& hosts = hosts_;
        auto window = std::make_shared<TNotifyWindow>(
            loop_, [this, events = CollectionEvents()](const TNotification& notification) {
                HandleCollectionNotification(store_, notification, events);
            });
        controller_ = std::make_unique<TTaskCtl>(options_.Baidu, keyword_, window, options_.So360, options_.Sogou);
        controller_->BaiduStartPage = startPages_[kEngineBaidu] = entry.LastPage;
        controller_->SogouStartPage = startPages_[kEngineSogou] = entry.SgLastPage;
        controller_->So360StartPage = startPages_[kEngine360] = entry.S360LastPage;
        controller_->BaiduSettings = {hosts.Baidu, hosts.Icp};
        controller_->SogouSettings = {hosts.Sogou, hosts.Icp};
        controller_->So360Settings = {hosts.So360, hosts.Icp};
        controller_->OnTaskEnd = [this](TTaskCtl& controller, int engine, std::int32_t page,
                                        const std::string& keyword) {
            // Before the save: a failing save must not keep the run from ending.
            if (controller.LiveCollectorCount() == 0)
                loop_->Quit();
            std::fprintf(stderr, "%s: ended at page %d\n", EngineName(engine), page);
            const TCursorSave saved = store_.SaveEngineCursor(keyword, page, engine);
            pages_[engine] = saved.Page - startPages_[engine];
            if (saved.Page != page)
                std::fprintf(stderr, "%s: cursor kept at page %d for the companies not stored\n", EngineName(engine),
                             saved.Page);
            if (!saved.Written)
                cursorsNotSaved_.push_back(EngineName(engine));
        };
        if (options_.Timeout) {
            timeLimitTimer_ = loop_->StartSingleShot(*options_.Timeout, [this] { StopTask("time limit"); });
        }
        std::fprintf(stderr, "collecting '%s' from page baidu %d, sogou %d, 360 %d\n", OneLine(keyword_).c_str(),
                     entry.LastPage, entry.SgLastPage, entry.S360LastPage);
        controller_->Start();
    }

    // What the main window does with its workers' notifications, shown on stderr.
    TCollectionEvents CollectionEvents() {
        TCollectionEvents events;
        events.CompanyTaken = [](const TComPanyInfo& record) {
            std::fprintf(stderr, "获取[%s]获取成功！\n", OneLine(record.GetComName()).c_str());
        };
        events.CompanyLost = [this](const TComPanyInfo& record, const std::string& error) {
            ++notStored_;
            storeError_ = error;
            std::fprintf(stderr, "not stored: %s (%s)\n", OneLine(record.GetComName()).c_str(), OneLine(error).c_str());
            StopTask(kStopNotStored);
        };
        events.Status = [](const TCaiJiInfo& info) {
            std::fprintf(stderr, "[%s] %s\n", info.source.c_str(), OneLine(info.message).c_str());
        };
        events.PageSaved = [](const TCaiJiInfo& info) {
            std::fprintf(stderr, "[%s] page %d done\n", info.source.c_str(), info.PageCount);
        };
        events.IdlePages = [this](const std::string&) { StopTask("no new company in the last pages"); };
        events.StatusLine = [](const std::string& text) { std::fprintf(stderr, "  %s\n", OneLine(text).c_str()); };
        return events;
    }

    // The first reason wins; once every collector has ended nothing is stopped any more.
    void StopTask(const char* reason) {
        if (taskEnded_ || !stopReason_.empty())
            return;
        stopReason_ = reason;
        std::fprintf(stderr, "stopping: %s\n", reason);
        if (controller_)
            controller_->Stop();
    }

    // Pages per engine are those its cursor advanced in this run, as saved when its collector ended: pages whose
    // done notification was dropped by the stop count too, since the next run starts after them.
    // The keyword is written with its control characters escaped, so the summary stays one line.
    void PrintSummary() const {
        std::string line = OneLine(keyword_) + ": " + std::to_string(stored_) + " companies stored; pages";
        const char* separator = " ";
        for (const auto& [engine, pages] : pages_) {
            line += separator + std::string(EngineName(engine)) + " " + std::to_string(pages);
            separator = ", ";
        }
        std::string reason = stopReason_;
        if (reason == kStopNotStored)
            reason = std::to_string(notStored_) + (notStored_ == 1 ? " company" : " companies") + " not stored";
        line += "; " + (reason.empty() ? std::string("every collector ended") : "stopped: " + reason);
        std::printf("%s\n", line.c_str());
    }

    // An error line for each kind of write the database failed; kExitNotStored when there was one.
    int ReportWriteFailures() const {
        if (notStored_ > 0) {
            Fail(std::to_string(notStored_) + (notStored_ == 1 ? " company" : " companies") + " could not be stored (" +
                 storeError_ + "); the next run collects " + (notStored_ == 1 ? "it" : "them") + " again");
        }
        for (const std::string& engine : cursorsNotSaved_)
            Fail("the " + engine + " page cursor could not be saved");
        return notStored_ > 0 || !cursorsNotSaved_.empty() ? kExitNotStored : kExitOk;
    }

    const TCollectOptions options_;
    const THosts hosts_;
    const std::shared_ptr<TEventLoop> loop_;
    TKeyListInfo& store_;
    std::string keyword_;
    std::unique_ptr<TTaskCtl> controller_;
    TTimerId timeLimitTimer_ = kNoTimer;
    bool loaded_ = false;
    bool taskEnded_ = false;
    int stored_ = 0;
    std::map<int, std::int32_t> startPages_;
    std::map<int, std::int32_t> pages_;  // by engine, for the chosen engines
    std::string stopReason_;
    int notStored_ = 0;                         // companies the database failed to store
    std::string storeError_;                    // the database's reason for the last of them
    std::vector<std::string> cursorsNotSaved_;  // engines whose final cursor the database failed to save
};

}  // namespace

int RunCollect(TCommandArgs args) {
    std::optional<TCollectOptions> options = ParseOptions(args);
    if (!options || !ApplyTestGateScale())
        return kExitUsage;

    // A configured host that is no host would only make every request fail: refuse the configuration instead.
    const THosts hosts = LoadHosts(ClientConfigPath());
    const std::vector<THostEntry> refused = RefusedHosts(hosts);
    for (const THostEntry& entry : refused)
        Fail("[hosts] " + std::string(entry.Key) + " = '" + entry.Value + "' in " + ClientConfigPath() +
             " is not a host (name or address, optionally :port)");
    if (!refused.empty())
        return kExitUsage;

    InitNetwork();
    // A file-size limit makes a write fail like a full disk, reported, instead of ending the program.
    signal(SIGXFSZ, SIG_IGN);
    auto loop = std::make_shared<TEventLoop>();
    SetCurrentDispatcher(loop);
    std::unique_ptr<TKeyListInfo> store;
    try {
        store = std::make_unique<TKeyListInfo>(TStoreAccess::ReadWrite);
        store->LoadKeys();
    } catch (const std::exception& error) {
        return Fail(error.what());
    }

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;  // a second interrupt ends the program at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int status = kExitOk;
    try {
        status = TCollectRun(std::move(*options), hosts, loop, *store).Run();
    } catch (const std::exception& error) {
        status = Fail(error.what());
    }
    // The summary is the command's result: an output that cannot be written is an error.
    if (std::fflush(stdout) != 0 && status == kExitOk)
        status = Fail("cannot write the output");
    // Workers still running end with the process; every statement has committed already.
    ExitProgram(status);
}

}  // namespace vexo::cli
