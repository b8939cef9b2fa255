// Conversions between the store's memory and the texts and numbers of its tables.
#include "store/KeyUnit.h"

#include <charconv>
#include <ctime>

#include "text/Gbk.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kStoredLineEnd = "\r\n";
constexpr char kOldListSeparator = '|';

constexpr TDateTime kUnixEpochDateTime = 25569.0;  // 1970-01-01 00:00 in days since 1899-12-30
constexpr double kSecondsPerDay = 86400.0;
constexpr double kNanosecondsPerSecond = 1e9;

template <class T>
T StoredInteger(const std::string& text) {
    std::string_view digits = text;
    // from_chars takes "-" but not "+"; both are valid signs of a stored decimal.
    if (digits.size() > 1 && digits.front() == '+' && digits[1] != '-')
        digits.remove_prefix(1);
    T value = 0;
    const char* end = digits.data() + digits.size();
    auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (error != std::errc() || stop != end)
        return 0;
    return value;
}

}  // namespace

std::string ToStoredText(const std::string& text) {
    return IsValidUtf8(text) ? text : std::string();
}

std::string FromStoredText(const std::string& stored) {
    return IsValidUtf8(stored) ? stored : std::string();
}

std::int32_t StoredInt32(const std::string& text) {
    return StoredInteger<std::int32_t>(text);
}

std::int64_t StoredInt64(const std::string& text) {
    return StoredInteger<std::int64_t>(text);
}

std::string StoredListText(const std::vector<std::string>& values) {
    std::string text;
    for (const std::string& value : values) {
        text += ToStoredText(value);
        text += kStoredLineEnd;
    }
    return text;
}

std::vector<std::string> SplitStoredList(const std::string& stored) {
    const std::string valid = FromStoredText(stored);
    const std::string_view text = Trim(valid);
    std::vector<std::string> values;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // "|" stands for a carriage return, so "|" followed by LF is one break as CR LF is.
        const char c = text[i] == kOldListSeparator ? '\r' : text[i];
        if (c != '\r' && c != '\n')
            continue;
        values.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        values.emplace_back(text.substr(start));
    return values;
}

const char* PageColumnOfEngine(int engine) {
    switch (engine) {
        case 0:
            return "lastpage";
        case 1:
            return "sglastpage";
        case 2:
            return "s360lastpage";
        default:
            return nullptr;
    }
}

std::int64_t LocalNowSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    // timegm reads the broken-down local time as universal time: the wall clock without its zone offset.
    const double wallSeconds = static_cast<double>(timegm(&local)) + now.tv_nsec / kNanosecondsPerSecond;
    return DateTimeToUnixSeconds(kUnixEpochDateTime + wallSeconds / kSecondsPerDay);
}

}  // namespace vexo
