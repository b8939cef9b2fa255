// The exit procedure, run in a child process: workers are terminated and released, buffered output reaches
// its stream, and the process ends with the given status even when a worker does not end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "platform/EventLoop.h"
#include "platform/Shutdown.h"
#include "platform/WorkerThread.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kStatus = 7;
// Room for slow sanitizer builds; the procedure itself waits at most 2 s.
constexpr std::chrono::milliseconds kExitWait{5000};

class TFunctionWorker final : public TWorkerThread {
  public:
    explicit TFunctionWorker(std::function<void(TFunctionWorker&)> body) : body_(std::move(body)) {}
    using TWorkerThread::Sleep;

  protected:
    void Execute() override { body_(*this); }

  private:
    std::function<void(TFunctionWorker&)> body_;
};

void StartWorker(std::function<void(TFunctionWorker&)> body, const char* onEnd) {
    auto worker = std::make_unique<TFunctionWorker>(std::move(body));
    worker->SetOnTerminate([onEnd] { std::fputs(onEnd, stderr); });
    TWorkerThread::Start(std::move(worker));
}

class ShutdownDeathTest : public ::testing::Test {
  protected:
    // The child is a fresh run of this program, so threads of other tests do not follow it through fork.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Child: one worker sleeps until terminated, one is blocked in a Send the loop never runs, and stderr holds
// unflushed text; none of the termination callbacks may run, since the dispatcher is closed first.
void ExitWithBusyWorkers() {
    auto loop = std::make_shared<TEventLoop>();
    SetCurrentDispatcher(loop);
    static char buffer[BUFSIZ];
    std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
    StartWorker(
        [](TFunctionWorker& self) {
            while (self.Sleep(1h)) {
            }
            std::fputs("sleeper ended;", stderr);
        },
        "callback;");
    StartWorker(
        [](TFunctionWorker& self) {
            self.Dispatcher()->Send([] {});
            std::fputs("sender released;", stderr);
        },
        "callback;");
    while (loop->QueuedCount() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    std::fputs("buffered text;", stderr);
    ExitProgram(kStatus, kExitWait);
}

TEST_F(ShutdownDeathTest, TerminatesAndReleasesWorkersFlushesOutputAndExitsWithTheStatus) {
    EXPECT_EXIT(ExitWithBusyWorkers(), ::testing::ExitedWithCode(kStatus),
                AllOf(HasSubstr("buffered text;"), HasSubstr("sleeper ended;"), HasSubstr("sender released;"),
                      Not(HasSubstr("callback;"))));
}

// Child: a worker that never looks at its termination flag does not keep the process alive.
void ExitWithStuckWorker() {
    SetCurrentDispatcher(std::make_shared<TEventLoop>());
    std::atomic<bool> started{false};
    StartWorker(
        [&started](TFunctionWorker&) {
            started = true;
            for (;;) {
                std::this_thread::sleep_for(1h);
            }
        },
        "callback;");
    while (!started) {
        std::this_thread::sleep_for(1ms);
    }
    ExitProgram(kStatus + 1, 50ms);
}

TEST_F(ShutdownDeathTest, EndsTheProcessWhenAWorkerDoesNotEndInTime) {
    EXPECT_EXIT(ExitWithStuckWorker(), ::testing::ExitedWithCode(kStatus + 1), Not(HasSubstr("callback;")));
}

}  // namespace
}  // namespace vexo
