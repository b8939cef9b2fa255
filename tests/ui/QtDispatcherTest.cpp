// The GUI's dispatcher: workers' calls and timers run on the Qt event loop's thread, a blocked Send is released by
// Close, and nothing runs after it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui/QtDispatcher.h"
#include "ui/UiSupport.h"

namespace vexo::test {
namespace {

TEST(QtDispatcher, RunsWorkersCallsAndTimersOnTheUiThreadAndNothingAfterClose) {
    UiApp();
    TQtDispatcher dispatcher;
    const auto ui = std::this_thread::get_id();
    std::atomic<int> sent{0};
    std::atomic<bool> sendReturned{false};
    std::atomic<bool> onUi{true};
    std::vector<int> order;

    // A worker's Send blocks until the loop ran the call; posts run in order.
    std::thread worker([&] {
        dispatcher.Post([&] { order.push_back(1); });
        const bool ran = dispatcher.Send([&] {
            onUi = onUi && std::this_thread::get_id() == ui;
            order.push_back(2);
            ++sent;
        });
        EXPECT_TRUE(ran);
        sendReturned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return sendReturned.load(); }));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(onUi);
    // On the UI thread Send runs inline.
    EXPECT_TRUE(dispatcher.Send([&] { ++sent; }));
    EXPECT_EQ(sent, 2);

    // A periodic timer started from a worker fires on the UI thread until stopped; a single shot fires once.
    std::atomic<int> ticks{0};
    std::atomic<int> shots{0};
    TTimerId periodic = kNoTimer;
    std::thread([&] {
        periodic = dispatcher.StartTimer(std::chrono::milliseconds(1), [&] {
            onUi = onUi && std::this_thread::get_id() == ui;
            ++ticks;
        });
    }).join();
    dispatcher.StartSingleShot(std::chrono::milliseconds(1), [&] { ++shots; });
    ASSERT_TRUE(WaitFor([&] { return ticks >= 3 && shots == 1; }));
    dispatcher.StopTimer(periodic);
    QCoreApplication::processEvents();
    const int stoppedAt = ticks;
    QTest::qWait(50);
    EXPECT_EQ(ticks, stoppedAt);
    EXPECT_EQ(shots, 1);
    EXPECT_TRUE(onUi);

    // Close releases a worker's Send without running its call; later calls are dropped.
    std::atomic<bool> blockedReturned{false};
    std::atomic<bool> ranAfterClose{false};
    std::thread blocked([&] {
        EXPECT_FALSE(dispatcher.Send([&] { ranAfterClose = true; }));
        blockedReturned = true;
    });
    // No events are processed here, so the call cannot run before Close, whichever comes first.
    dispatcher.Close();
    blocked.join();
    EXPECT_TRUE(blockedReturned);
    EXPECT_FALSE(dispatcher.Post([&] { ranAfterClose = true; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(ranAfterClose);
}

}  // namespace
}  // namespace vexo::test
