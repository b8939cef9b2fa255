// The dispatcher of the GUI: calls and timers run on the thread of the Qt event loop (the UI thread).
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <map>
#include <mutex>
#include <thread>

#include "platform/Dispatcher.h"

namespace vexo {

class TQtDispatcher final : public TDispatcher {
  public:
    // Construct on the UI thread, after the QApplication.
    TQtDispatcher();
    ~TQtDispatcher() override;

    bool IsUiThread() const override;
    TTimerId StartTimer(std::chrono::milliseconds interval, TUiCall onTimeout) override;
    TTimerId StartSingleShot(std::chrono::milliseconds delay, TUiCall onTimeout) override;
    void StopTimer(TTimerId timer) override;

  protected:
    void Enqueue(TUiCall call) override;

  private:
    TTimerId AddTimer(std::chrono::milliseconds interval, TUiCall onTimeout, bool singleShot);

    const std::thread::id uiThread_;
    // Receives the queued calls; lives on the UI thread.
    QObject receiver_;
    std::mutex timersMutex_;
    std::map<TTimerId, QPointer<QTimer>> timers_;
    TTimerId lastTimer_ = kNoTimer;
};

}  // namespace vexo
