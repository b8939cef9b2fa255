// One package download on its own thread: fetch, write, check the CRC-32, and for an archive unpack it next to
// itself and delete it. Progress goes to the window as posted update notifications.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/Notify.h"
#include "platform/WorkerThread.h"
#include "update/ZipUnpack.h"

namespace vexo {

enum class TDownKind { Plain = 1, Zip = 2 };

// Status values readable in the termination callback.
inline constexpr std::uint8_t kDownFailed = 0;  // also while running
inline constexpr std::uint8_t kDownDone = 2;
inline constexpr std::uint8_t kDownBadChecksum = 255;

class TDownIdHttp : public TWorkerThread {
  public:
    // window may be null (no progress). rules apply to the unpacking of a Zip download.
    TDownIdHttp(TWindowHandle window, std::string address, std::string targetFile, TDownKind kind,
                std::uint32_t expectedCrc, unsigned message, TUnpackRules rules = {});

    std::uint8_t Status() const { return status_.load(); }
    std::int64_t TotalLength() const { return totalLength_.load(); }
    // Why the download failed, for the log of whoever wants one; empty when it did not.
    const std::string& Error() const { return error_; }

  protected:
    void Execute() override;

  private:
    void PostProgress(std::int64_t received);

    const TWindowHandle window_;
    const std::string address_;
    const std::string targetFile_;
    const TDownKind kind_;
    const std::uint32_t expectedCrc_;
    const unsigned message_;
    const TUnpackRules rules_;
    std::atomic<std::uint8_t> status_{kDownFailed};
    std::atomic<std::int64_t> totalLength_{0};
    int lastPercent_ = -1;
    std::string error_;
};

// Percent of the body received, rounded to the nearest whole number and kept within 0 to 100; 0 while the
// length is unknown (the server announced none).
int DownloadPercent(std::int64_t received, std::int64_t total);

}  // namespace vexo
