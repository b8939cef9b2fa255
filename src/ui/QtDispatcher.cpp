#include "ui/QtDispatcher.h"

#include <QMetaObject>
#include <memory>
#include <utility>

namespace vexo {

TQtDispatcher::TQtDispatcher() : uiThread_(std::this_thread::get_id()) {}

// The timers are children of the receiver and go with it.
TQtDispatcher::~TQtDispatcher() {
    Close();
}

bool TQtDispatcher::IsUiThread() const {
    return std::this_thread::get_id() == uiThread_;
}

void TQtDispatcher::Enqueue(TUiCall call) {
    QMetaObject::invokeMethod(
        &receiver_, [call = std::move(call)] { RunGuarded(call); }, Qt::QueuedConnection);
}

TTimerId TQtDispatcher::AddTimer(std::chrono::milliseconds interval, TUiCall onTimeout, bool singleShot) {
    TTimerId id;
    {
        std::lock_guard lock(timersMutex_);
        id = ++lastTimer_;
    }
    auto create = [this, id, interval, singleShot, onTimeout = std::move(onTimeout)] {
        if (IsClosed())
            return;
        auto* timer = new QTimer(&receiver_);
        timer->setSingleShot(singleShot);
        timer->setInterval(interval);
        QObject::connect(timer, &QTimer::timeout, timer, [this, id, singleShot, onTimeout] {
            if (IsClosed())
                return;
            if (singleShot)
                StopTimer(id);
            RunGuarded(onTimeout);
        });
        {
            std::lock_guard lock(timersMutex_);
            timers_[id] = timer;
        }
        timer->start();
    };
    if (IsUiThread())
        create();
    else
        QMetaObject::invokeMethod(&receiver_, std::move(create), Qt::QueuedConnection);
    return id;
}

TTimerId TQtDispatcher::StartTimer(std::chrono::milliseconds interval, TUiCall onTimeout) {
    return AddTimer(interval, std::move(onTimeout), false);
}

TTimerId TQtDispatcher::StartSingleShot(std::chrono::milliseconds delay, TUiCall onTimeout) {
    return AddTimer(delay, std::move(onTimeout), true);
}

void TQtDispatcher::StopTimer(TTimerId timer) {
    auto stop = [this, timer] {
        QPointer<QTimer> found;
        {
            std::lock_guard lock(timersMutex_);
            auto it = timers_.find(timer);
            if (it == timers_.end())
                return;
            found = it->second;
            timers_.erase(it);
        }
        if (found) {
            found->stop();
            found->deleteLater();  // may be stopping itself from its own timeout
        }
    };
    if (IsUiThread())
        stop();
    else
        QMetaObject::invokeMethod(&receiver_, std::move(stop), Qt::QueuedConnection);
}

}  // namespace vexo
