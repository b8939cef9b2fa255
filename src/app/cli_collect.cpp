// vexo-cli collect: collects one keyword from the chosen engines into the store, as the main window's start command
// does. The event loop of the main thread is the UI thread: it runs the notification handlers, the store and the
// task controller. The run ends when every collector has ended, after the task was stopped by the idle-page rule,
// the time limit or an interrupt (or when every collector ended by an error).
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

namespace vexo::cli {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kUsage = "usage: vexo-cli collect KEYWORD [--engines baidu,sogou,360] [--timeout SECONDS]";
// For the test suite only: every gate's interval and poll interval are multiplied by this factor (0 < f <= 1).
constexpr const char* kGateScaleVariable = "VEXO_TEST_GATE_SCALE";
constexpr auto kInterruptPoll = 100ms;
// How long the end waits for the site threads of the ended collectors.
constexpr auto kSiteThreadWait = 3000ms;

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

// The options, or nothing after an error line.
std::optional<TCollectOptions> ParseOptions(TCommandArgs args) {
    TCollectOptions options;
    bool haveKeyword = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--engines" || arg == "--timeout") {
            if (i + 1 == args.size()) {
                Fail(std::string(arg) + " needs a value; " + std::string(kUsage));
                return std::nullopt;
            }
            const std::string_view value = args[++i];
            if (arg == "--timeout") {
                long long seconds = 0;
                const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
                if (error != std::errc() || end != value.data() + value.size() || seconds <= 0 ||
                    seconds > 366LL * 24 * 3600) {
                    Fail("--timeout takes a whole number of seconds from 1 up, not '" + std::string(value) + "'");
                    return std::nullopt;
                }
                options.Timeout = std::chrono::seconds(seconds);
                continue;
            }
            options.Baidu = options.Sogou = options.So360 = false;
            std::string_view rest = value;
            while (true) {
                const std::string_view name = rest.substr(0, rest.find(','));
                if (name == "baidu") {
                    options.Baidu = true;
                } else if (name == "sogou") {
                    options.Sogou = true;
                } else if (name == "360") {
                    options.So360 = true;
                } else {
                    Fail("unknown engine '" + std::string(name) + "' (engines: baidu, sogou, 360)");
                    return std::nullopt;
                }
                if (name.size() == rest.size())
                    break;
                rest.remove_prefix(name.size() + 1);
            }
        } else if (arg.starts_with("--")) {
            Fail("unknown option '" + std::string(arg) + "'; " + std::string(kUsage));
            return std::nullopt;
        } else if (haveKeyword) {
            Fail(std::string(kUsage));
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
    if (options.Keyword.empty() || !IsValidUtf8(options.Keyword)) {
        Fail("the keyword is empty or not valid UTF-8");
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
    TCollectRun(TCollectOptions options, std::shared_ptr<TEventLoop> loop, TKeyListInfo& store)
        : options_(std::move(options)), loop_(std::move(loop)), store_(store) {}

    int Run() {
        store_.OnKeyLoaded = [this](TKeyListInfo&, const std::string&) { loaded_ = true; };
        store_.OnCompanyStored = [this](TKeyListInfo&, const std::string&,
                                        const std::shared_ptr<TComPanyInfo>& record) {
            ++stored_;
            std::fprintf(stderr, "stored: %s\n", record->GetComName().c_str());
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
        if (!interrupted.load())
            StartTask(*entry);

        if (controller_ && controller_->LiveCollectorCount() > 0)
            loop_->Run();
        loop_->StopTimer(interruptTimer);
        // The ended collectors have told their site threads to stop; give those a moment to finish.
        loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kSiteThreadWait);
        PrintSummary();
        return kExitOk;
    }

  private:
    void StartTask(const TKeyData& entry) {
        const THosts hosts = LoadHosts(ClientConfigPath());
        auto window = std::make_shared<TNotifyWindow>(loop_, [this](const TNotification& n) { OnNotification(n); });
        controller_ = std::make_unique<TTaskCtl>(options_.Baidu, keyword_, window, options_.So360, options_.Sogou);
        controller_->BaiduStartPage = entry.LastPage;
        controller_->SogouStartPage = entry.SgLastPage;
        controller_->So360StartPage = entry.S360LastPage;
        controller_->BaiduSettings = {hosts.Baidu, hosts.Icp};
        controller_->SogouSettings = {hosts.Sogou, hosts.Icp};
        controller_->So360Settings = {hosts.So360, hosts.Icp};
        controller_->OnTaskEnd = [this](TTaskCtl& controller, int engine, std::int32_t page,
                                        const std::string& keyword) {
            store_.SaveEngineCursor(keyword, page, engine);
            std::fprintf(stderr, "%s: ended at page %d\n", EngineName(engine), page);
            if (controller.LiveCollectorCount() == 0)
                loop_->Quit();
        };
        for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
            const bool chosen = engine == kEngineBaidu   ? options_.Baidu
                                : engine == kEngineSogou ? options_.Sogou
                                                         : options_.So360;
            if (chosen)
                pages_[engine] = 0;
        }
        if (options_.Timeout) {
            loop_->StartSingleShot(*options_.Timeout, [this] { StopTask("time limit"); });
        }
        std::fprintf(stderr, "collecting '%s' from page baidu %d, sogou %d, 360 %d\n", keyword_.c_str(), entry.LastPage,
                     entry.SgLastPage, entry.S360LastPage);
        controller_->Start();
    }

    // What the main window does with a worker notification.
    void OnNotification(const TNotification& notification) {
        if (notification.Message != kMsgCaiji)
            return;
        switch (notification.WParam) {
            case kCaijiRecord: {
                const TComPanyInfo& record = **std::get_if<const TComPanyInfo*>(&notification.LParam);
                std::fprintf(stderr, "获取[%s]获取成功！\n", record.GetComName().c_str());
                store_.AddCompany(record.Keyword, record);
                break;
            }
            case kCaijiStatus: {
                const TCaiJiInfo& info = **std::get_if<const TCaiJiInfo*>(&notification.LParam);
                std::fprintf(stderr, "[%s] %s\n", info.source.c_str(), info.message.c_str());
                break;
            }
            case kCaijiPageDone: {
                const TCaiJiInfo& info = **std::get_if<const TCaiJiInfo*>(&notification.LParam);
                const int engine = EngineOfSource(info.source);
                if (engine < 0)
                    break;
                ++pages_[engine];
                if (store_.SavePageCursor(info.keyword, info.PageCount, engine)) {
                    std::fprintf(stderr, "[%s] page %d done\n", info.source.c_str(), info.PageCount);
                } else {
                    StopTask("no new company in the last pages");
                }
                break;
            }
            case kCaijiStatusLine:
                std::fprintf(stderr, "  %s\n", (*std::get_if<const std::string*>(&notification.LParam))->c_str());
                break;
            default:
                break;
        }
    }

    void StopTask(const char* reason) {
        if (!controller_ || !stopReason_.empty())
            return;
        stopReason_ = reason;
        std::fprintf(stderr, "stopping: %s\n", reason);
        controller_->Stop();
    }

    void PrintSummary() const {
        std::string line = keyword_ + ": " + std::to_string(stored_) + " companies stored; pages";
        const char* separator = " ";
        for (const auto& [engine, pages] : pages_) {
            line += separator + std::string(EngineName(engine)) + " " + std::to_string(pages);
            separator = ", ";
        }
        line += "; " + (stopReason_.empty() ? std::string("every collector ended") : "stopped: " + stopReason_);
        std::printf("%s\n", line.c_str());
    }

    const TCollectOptions options_;
    const std::shared_ptr<TEventLoop> loop_;
    TKeyListInfo& store_;
    std::string keyword_;
    std::unique_ptr<TTaskCtl> controller_;
    bool loaded_ = false;
    int stored_ = 0;
    std::map<int, int> pages_;  // result pages done this run, by engine
    std::string stopReason_;
};

}  // namespace

int RunCollect(TCommandArgs args) {
    std::optional<TCollectOptions> options = ParseOptions(args);
    if (!options || !ApplyTestGateScale())
        return kExitUsage;

    InitNetwork();
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
        status = TCollectRun(std::move(*options), loop, *store).Run();
    } catch (const std::exception& error) {
        status = Fail(error.what());
    }
    // Workers still running end with the process; every statement has committed already.
    ExitProgram(status);
}

}  // namespace vexo::cli
