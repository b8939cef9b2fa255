// The end of the desktop session (or a kill by the user or the system) as an ordinary exit: SIGTERM, SIGHUP and
// SIGINT are turned into a call on the UI thread, so the program closes its database and ends the way "退出" does
// instead of dying in the middle of a write.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace vexo {

class TSessionEnd final : public QObject {
    Q_OBJECT
  public:
    // Installs the signal handlers; `onEnd` runs on the UI thread at the first of these signals. One per process.
    explicit TSessionEnd(std::function<void()> onEnd, QObject* parent = nullptr);
    ~TSessionEnd() override;
    TSessionEnd(const TSessionEnd&) = delete;
    TSessionEnd& operator=(const TSessionEnd&) = delete;

  private:
    std::function<void()> onEnd_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vexo
