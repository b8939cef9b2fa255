// TIniFile: reading and writing INI files line by line, so that a write changes only the line it is about.
#include "text/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "text/CaseFold.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool IsComment(std::string_view trimmed) {
    return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

bool IsSectionHeader(std::string_view trimmed) {
    return !trimmed.empty() && trimmed.front() == '[';
}

// Name of a section header line: up to the first "]" (or the end of the line), trimmed.
std::string_view SectionName(std::string_view trimmed) {
    std::string_view name = trimmed.substr(1);
    return Trim(name.substr(0, name.find(']')));
}

// Key of a "key=value" line, trimmed; empty for any other line.
std::string_view KeyOf(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || IsComment(trimmed) || IsSectionHeader(trimmed))
        return {};
    const std::size_t equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view() : Trim(line.substr(0, equals));
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// The path a save has to replace: the target of a symbolic link, so that the link itself stays.
std::string ResolvedTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::optional<int> ParseInteger(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.starts_with("$")) {
        base = 16;
        text.remove_prefix(1);
    }
    unsigned long long magnitude = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    if (magnitude > static_cast<unsigned long long>(limit))
        return std::nullopt;
    const long long value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return static_cast<int>(value);
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
    std::ifstream file(path_, std::ios::binary);
    if (!file)
        return;
    std::string content;
    try {
        content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (...) {
        // An unreadable file (a directory, an I/O error) reads as empty.
        return;
    }
    if (file.bad())
        return;
    std::string_view rest(content);
    if (rest.starts_with(kByteOrderMark)) {
        byteOrderMark_ = true;
        rest.remove_prefix(kByteOrderMark.size());
    }
    const std::size_t firstBreak = rest.find('\n');
    crlf_ = firstBreak != std::string_view::npos && firstBreak > 0 && rest[firstBreak - 1] == '\r';
    while (!rest.empty()) {
        const std::size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines_.emplace_back(line);
        rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
    }
}

TIniFile::TSpan TIniFile::FindSection(std::string_view section) const {
    // Names are trimmed on both sides of the comparison, as a write trims them.
    section = Trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string_view trimmed = Trim(lines_[i]);
        if (!IsSectionHeader(trimmed) || !SameIgnoringCase(SectionName(trimmed), section))
            continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && !IsSectionHeader(Trim(lines_[end])))
            ++end;
        return {i, end};
    }
    return {kNone, kNone};
}

std::size_t TIniFile::FindKey(const TSpan& span, std::string_view key) const {
    if (span.header == kNone)
        return kNone;
    key = Trim(key);
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        const std::string_view lineKey = KeyOf(lines_[i]);
        if (!lineKey.empty() && SameIgnoringCase(lineKey, key))
            return i;
    }
    return kNone;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const {
    const std::size_t line = FindKey(FindSection(section), key);
    if (line == kNone)
        return std::string(defaultValue);
    const std::string_view text = lines_[line];
    return std::string(Trim(text.substr(text.find('=') + 1)));
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
    return ParseInteger(ReadString(section, key, "")).value_or(defaultValue);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    const std::string value = ReadString(section, key, "");
    if (const std::optional<int> number = ParseInteger(value))
        return *number != 0;
    for (std::string_view yes : {"true", "yes", "on"}) {
        if (SameIgnoringCase(value, yes))
            return true;
    }
    for (std::string_view no : {"false", "no", "off"}) {
        if (SameIgnoringCase(value, no))
            return false;
    }
    return defaultValue;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
    return FindKey(FindSection(section), key) != kNone;
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view trimmedSection = Trim(section);
    const std::string_view trimmedKey = Trim(key);
    if (trimmedSection.empty() || trimmedKey.empty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos ||
        IsComment(trimmedKey) || IsSectionHeader(trimmedKey)) {
        return false;
    }
    std::vector<std::string> lines = lines_;
    const TSpan span = FindSection(trimmedSection);
    const std::size_t keyLine = FindKey(span, trimmedKey);
    if (keyLine != kNone) {
        // The key part stays as written in the file; only the value changes.
        const std::string& old = lines[keyLine];
        lines[keyLine] = old.substr(0, old.find('=') + 1) + std::string(value);
    } else if (span.header != kNone) {
        // After the section's last non-blank line, so blank lines before the next section stay there.
        std::size_t at = span.end;
        while (at > span.header + 1 && Trim(lines[at - 1]).empty())
            --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                     std::string(trimmedKey) + "=" + std::string(value));
    } else {
        if (!lines.empty() && !Trim(lines.back()).empty())
            lines.emplace_back();
        lines.push_back("[" + std::string(trimmedSection) + "]");
        lines.push_back(std::string(trimmedKey) + "=" + std::string(value));
    }
    if (!Save(lines))
        return false;
    lines_ = std::move(lines);
    return true;
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::Save(const std::vector<std::string>& lines) const {
    const std::string_view lineBreak = crlf_ ? "\r\n" : "\n";
    std::string content(byteOrderMark_ ? kByteOrderMark : "");
    for (const std::string& line : lines) {
        content += line;
        content += lineBreak;
    }

    const std::string target = ResolvedTarget(path_);
    static std::atomic<unsigned> serial{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        // 0666 lets the umask decide a new file's permissions, as for any file the program creates.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    struct stat existing {};
    bool ok = true;
    if (::stat(target.c_str(), &existing) == 0)
        ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace vexo
