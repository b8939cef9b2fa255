// TDataThread: reads a keyword's stored companies into its entry on a worker thread, so that the window stays
// responsive while a keyword with many companies loads.
#pragma once

#include <memory>
#include <string>

#include "platform/WorkerThread.h"
#include "store/DataManager.h"
#include "store/KeyUnit.h"

namespace vexo {

class TDataThread final : public TWorkerThread {
  public:
    // Loads the companies of `keyword` into `entry` through the store's data manager; both stay alive while the
    // thread needs them. Started by the store, which sets the termination callback first.
    TDataThread(std::string keyword, std::shared_ptr<TKeyData> entry, std::shared_ptr<TDataManager> dataManager);

    const std::string& Keyword() const { return keyword_; }
    // Message of the error that ended the body early; empty when it read every row. Read it from the
    // termination callback.
    const std::string& Error() const { return error_; }

  protected:
    void Execute() override;

  private:
    void Load();

    const std::string keyword_;
    const std::shared_ptr<TKeyData> entry_;
    const std::shared_ptr<TDataManager> dataManager_;
    std::string error_;
};

}  // namespace vexo
