// The protocol by which workers report to the main window: message numbers, wParam values, the collector
// status record, and the "window" that receives them on the UI thread.
//
// A worker delivers a notification with its own SendToUi, so nothing is sent once its termination was
// requested and the worker waits while the handler runs; the objects a notification points to stay the
// sender's and are valid only during the call:
//     SendToUi([&] { window->Deliver({kMsgCaiji, kCaijiStatus, &info}); });
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "platform/Dispatcher.h"
#include "store/UntObject.h"

namespace vexo {

inline constexpr unsigned kWmUser = 1024;
inline constexpr unsigned kWmApp = 32768;

// Collection notifications, sent synchronously by result collectors and company-site threads.
inline constexpr unsigned kMsgCaiji = kWmUser + 3011;  // 4035
// Update progress, posted by the update downloads.
inline constexpr unsigned kMsgUpdate = kWmUser + 2019;  // 3043
// Sent by a second instance of the program: bring the main window to the front.
inline constexpr unsigned kMsgShowInstance = kWmApp + 2015;  // 34783
// The periodic version check's answer; the main window has no handler for it.
inline constexpr unsigned kMsgVersionAnswer = kWmUser + 3452;  // 4476

// wParam values of kMsgCaiji.
inline constexpr std::intptr_t kCaijiRecord = 0;      // lParam: the site thread's TComPanyInfo
inline constexpr std::intptr_t kCaijiStatus = 1;      // lParam: the collector's TCaiJiInfo, new status text
inline constexpr std::intptr_t kCaijiPageDone = 2;    // lParam: the collector's TCaiJiInfo, page count updated
inline constexpr std::intptr_t kCaijiStatusLine = 3;  // lParam: the site thread's status text

// wParam values of kMsgUpdate handled by the main window (other values are ignored).
inline constexpr std::intptr_t kUpdateShowWindow = 1;
inline constexpr std::intptr_t kUpdateProgress = 2;  // lParam: percent, 0 to 100
inline constexpr std::intptr_t kUpdateHandOver = 5;

// Source names of the engines as stored in a company's `source`, and their engine numbers.
inline constexpr const char* kSourceBaidu = "百度";
inline constexpr const char* kSourceSogou = "搜狗";
inline constexpr const char* kSource360 = "360";
inline constexpr int kEngineBaidu = 0;
inline constexpr int kEngineSogou = 1;
inline constexpr int kEngine360 = 2;

// Engine number of a source name; -1 for an unknown one.
int EngineOfSource(const std::string& source);
// Source name of an engine number (0 Baidu, 1 Sogou, anything else 360).
const char* SourceOfEngine(int engine);

// Status record of one result collector; travels with every notification of its collector.
struct TCaiJiInfo {
    std::string keyword;
    std::string message;
    std::int32_t PageCount = 0;
    std::string source;
};

// What a notification carries in lParam: nothing, a number (kMsgUpdate progress, kMsgShowInstance), or the
// address of the sender's object.
using TLParam = std::variant<std::monostate, std::intptr_t, const TComPanyInfo*, const TCaiJiInfo*, const std::string*>;

struct TNotification {
    unsigned Message = 0;
    std::intptr_t WParam = 0;
    TLParam LParam;
};

// The main window as the workers see it: one handler on the UI thread for every notification. Create it
// with std::make_shared (posted notifications hold it weakly).
class TNotifyWindow : public std::enable_shared_from_this<TNotifyWindow> {
  public:
    using THandler = std::function<void(const TNotification&)>;

    TNotifyWindow(std::shared_ptr<TDispatcher> dispatcher, THandler handler);

    // Runs the handler; only on the UI thread (inside a worker's SendToUi, or by the UI thread itself).
    // An error of the handler is swallowed: the sender goes on normally.
    void Deliver(const TNotification& notification) const;
    // Queues a notification for the UI thread (kMsgUpdate); any thread. False when the dispatcher is closed or
    // the window is not owned by a shared_ptr.
    // Only a numeric or empty lParam may be posted: nothing the sender owns may outlive the call.
    bool Post(unsigned message, std::intptr_t wParam, std::intptr_t lParam = 0) const;

    const std::shared_ptr<TDispatcher>& Dispatcher() const { return dispatcher_; }

  private:
    std::shared_ptr<TDispatcher> dispatcher_;
    THandler handler_;
};

using TWindowHandle = std::shared_ptr<const TNotifyWindow>;

}  // namespace vexo
