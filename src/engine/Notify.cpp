#include "engine/Notify.h"

#include <utility>

namespace vexo {

int EngineOfSource(const std::string& source) {
    if (source == kSourceBaidu)
        return kEngineBaidu;
    if (source == kSourceSogou)
        return kEngineSogou;
    if (source == kSource360)
        return kEngine360;
    return -1;
}

const char* SourceOfEngine(int engine) {
    switch (engine) {
        case kEngineBaidu:
            return kSourceBaidu;
        case kEngineSogou:
            return kSourceSogou;
        default:
            return kSource360;
    }
}

TNotifyWindow::TNotifyWindow(std::shared_ptr<TDispatcher> dispatcher, THandler handler)
    : dispatcher_(std::move(dispatcher)), handler_(std::move(handler)) {}

void TNotifyWindow::Deliver(const TNotification& notification) const {
    if (!handler_)
        return;
    try {
        handler_(notification);
    } catch (...) {
        // A failed handling of one notification never reaches the sender.
    }
}

bool TNotifyWindow::Post(unsigned message, std::intptr_t wParam, std::intptr_t lParam) const {
    // A window freed before the queued call runs drops it. One not owned by a shared_ptr can never be reached
    // by the queued call, so the post fails at once instead of reporting a delivery that cannot happen.
    std::weak_ptr<const TNotifyWindow> weak = weak_from_this();
    if (!dispatcher_ || weak.expired())
        return false;
    return dispatcher_->Post([weak, message, wParam, lParam] {
        if (auto window = weak.lock())
            window->Deliver({message, wParam, lParam});
    });
}

}  // namespace vexo
