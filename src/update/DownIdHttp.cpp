// The package download thread.
#include "update/DownIdHttp.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "net/HttpClient.h"
#include "text/Crc32.h"

namespace vexo {

namespace {

constexpr std::string_view kHttpScheme = "http://";

bool StartsWithHttpIgnoringCase(std::string_view address) {
    if (address.size() < kHttpScheme.size())
        return false;
    for (std::size_t i = 0; i < kHttpScheme.size(); ++i) {
        char c = address[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kHttpScheme[i])
            return false;
    }
    return true;
}

// Writes the bytes to the file, replacing it: a temporary file next to it renamed over it.
bool WriteFileReplacing(const std::string& path, const std::string& bytes, std::string& error) {
    const std::string temp = path + ".part";
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create " + temp;
        return false;
    }
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!wrote || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

int DownloadPercent(std::int64_t received, std::int64_t total) {
    if (total <= 0 || received <= 0)
        return 0;
    const double percent = std::round(static_cast<double>(received) / static_cast<double>(total) * 100.0);
    return percent >= 100.0 ? 100 : static_cast<int>(percent);
}

TDownIdHttp::TDownIdHttp(TWindowHandle window, std::string address, std::string targetFile, TDownKind kind,
                         std::uint32_t expectedCrc, unsigned message, TUnpackRules rules)
    : window_(std::move(window)),
      address_(std::move(address)),
      targetFile_(std::move(targetFile)),
      kind_(kind),
      expectedCrc_(expectedCrc),
      message_(message),
      rules_(std::move(rules)) {}

void TDownIdHttp::PostProgress(std::int64_t received) {
    if (Terminated() || !window_)
        return;
    const int percent = DownloadPercent(received, totalLength_.load());
    if (percent == lastPercent_)
        return;  // the bar would not move; spare the UI thread
    lastPercent_ = percent;
    window_->Post(message_, kUpdateProgress, percent);
}

void TDownIdHttp::Execute() {
    THttpSettings settings = HttpPreset::DownIdHttp();
    settings.maxBodyBytes = static_cast<std::size_t>(kMaxPackageBytes);
    THttpClient client(settings);
    client.SetProgress({[this](std::int64_t total) { totalLength_.store(total); },
                        [this](std::int64_t received) { PostProgress(received); }, nullptr});
    if (!StartsWithHttpIgnoringCase(address_)) {
        error_ = "not an http:// address: " + address_;
        return;
    }
    std::string body;
    try {
        client.Get(address_, body);
    } catch (const std::exception& e) {
        error_ = e.what();
        return;
    }
    if (Terminated())
        return;
    if (!WriteFileReplacing(targetFile_, body, error_))
        return;
    body = std::string();
    if (expectedCrc_ != 0 && FileCrc32(targetFile_) != expectedCrc_) {
        error_ = "checksum mismatch";
        status_.store(kDownBadChecksum);
        return;  // the file stays; the next attempt overwrites it
    }
    if (Terminated())
        return;
    if (kind_ == TDownKind::Zip) {
        const std::string folder = std::filesystem::path(targetFile_).parent_path().string();
        const TUnpackResult unpacked = UnpackArchive(targetFile_, folder, rules_);
        if (!unpacked.Ok) {
            error_ = unpacked.Error;
            return;
        }
        std::error_code ignored;  // a leftover archive is overwritten by the next download
        std::filesystem::remove(targetFile_, ignored);
    }
    if (Terminated())
        return;
    status_.store(kDownDone);
    client.Disconnect();
}

}  // namespace vexo
