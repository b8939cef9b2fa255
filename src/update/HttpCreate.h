// The remote configuration download: one GET on its own thread, the body handed to a handler on the UI thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/WorkerThread.h"

namespace vexo {

class THttpCreate : public TWorkerThread {
  public:
    // Runs on the UI thread with the body (empty when the download failed) while the thread waits.
    using TResultHandler = std::function<void(const std::string& body)>;

    // Starts the download at once; the thread frees itself (and its body) when it ends. Returns the thread for
    // the UI thread (see TWorkerThread::Start), nullptr when no thread could be made.
    static THttpCreate* Create(std::string address, TResultHandler handler);

    THttpCreate(std::string address, TResultHandler handler);

  protected:
    void Execute() override;

  private:
    const std::string address_;
    const TResultHandler handler_;
    std::string body_;
};

}  // namespace vexo
