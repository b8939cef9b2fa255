// The periodic version check.
#include "update/UpdateThread.h"

#include <filesystem>
#include <system_error>

#include "net/HttpClient.h"
#include "text/Global.h"
#include "update/UpdateFiles.h"

namespace vexo {

namespace {

constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kNoVersionInfo = "1.0";
constexpr char kItemDelimiter = '`';
constexpr char kQuote = '"';

bool IsBlank(char c) {
    return c != '\0' && static_cast<unsigned char>(c) <= ' ';
}

std::string AfterFirstEquals(const std::string& item) {
    const std::size_t pos = item.find('=');
    return pos == std::string::npos ? std::string() : item.substr(pos + 1);
}

}  // namespace

std::string VersionCheckAddress(std::string_view host, std::string_view version) {
    std::string address(kHttpScheme);
    address += host;
    address += kVersionCheckPath;
    address += version;
    return address;
}

std::string UpdaterVersionText(const std::string& programDir) {
    const std::string path = programDir + std::string(kUpdaterFile);
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return {};
    const std::string version = FileVersionText(path);  // "a.b.c.d"
    const std::size_t first = version.find('.');
    const std::size_t second = first == std::string::npos ? first : version.find('.', first + 1);
    return second == std::string::npos ? std::string(kNoVersionInfo) : version.substr(0, second);
}

std::vector<std::string> SplitAnswerItems(std::string_view answer) {
    std::vector<std::string> items;
    std::size_t pos = 0;
    const auto skipBlanks = [&] {
        while (pos < answer.size() && IsBlank(answer[pos]))
            ++pos;
    };
    skipBlanks();
    while (pos < answer.size() && answer[pos] != '\0') {
        std::string item;
        if (answer[pos] == kQuote) {
            ++pos;
            for (; pos < answer.size(); ++pos) {
                if (answer[pos] == kQuote) {
                    if (pos + 1 < answer.size() && answer[pos + 1] == kQuote) {
                        item += kQuote;
                        ++pos;
                        continue;
                    }
                    ++pos;
                    break;
                }
                item += answer[pos];
            }
        } else {
            const std::size_t start = pos;
            while (pos < answer.size() && static_cast<unsigned char>(answer[pos]) > ' ' &&
                   answer[pos] != kItemDelimiter)
                ++pos;
            item = answer.substr(start, pos - start);
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (pos < answer.size() && answer[pos] == kItemDelimiter) {
            if (pos + 1 == answer.size())
                items.emplace_back();  // a delimiter at the very end ends an empty item
            ++pos;
            skipBlanks();
        }
    }
    return items;
}

std::optional<TGetUpInfo> ParseVersionAnswer(std::string_view answer) {
    answer = Trim(answer);
    if (answer.empty())
        return std::nullopt;
    const std::vector<std::string> items = SplitAnswerItems(answer);
    if (items.size() < 2)
        return std::nullopt;
    TGetUpInfo info;
    if (items[0].find(kHttpScheme) != std::string::npos)
        info.FirstAddress = AfterFirstEquals(items[0]);
    if (items[1].find(kHttpScheme) != std::string::npos)
        info.SecondAddress = AfterFirstEquals(items[1]);
    if (info.FirstAddress.empty())
        return std::nullopt;
    return info;
}

TUpdateThread::TUpdateThread(std::string host, std::string version, std::string programDir, TAnswerHandler handler,
                             std::chrono::milliseconds interval)
    : baseAddress_(VersionCheckAddress(host, version)),
      programDir_(std::move(programDir)),
      handler_(std::move(handler)),
      interval_(interval) {}

void TUpdateThread::Execute() {
    while (!Terminated()) {
        try {
            THttpClient client(HttpPreset::UpdateThread());
            const std::string answer =
                client.Get(baseAddress_ + std::string(kUpdaterVersionKey) + UpdaterVersionText(programDir_));
            if (const std::optional<TGetUpInfo> info = ParseVersionAnswer(answer); info && handler_)
                SendToUi([this, &info] { handler_(*info); });
            client.Disconnect();
        } catch (const std::exception&) {
            // Every failure of a check is silent; the next one follows after the interval.
        }
        if (!Sleep(interval_))
            return;
    }
}

}  // namespace vexo
