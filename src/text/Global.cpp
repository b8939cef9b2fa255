// Small shared helpers: text extraction, links, URL encoding, paths, processes, file version, time stamps.
#include "text/Global.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "text/Gbk.h"

namespace vexo {

namespace {

// Registered domains of the three search engines' web sites.
constexpr std::array<std::string_view, 3> kEngineDomains = {"baidu.com", "so.com", "sogou.com"};

constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kHrefAttribute = "href=";
constexpr std::string_view kEllipsis = "...";
constexpr std::string_view kUrlUnreservedPunctuation = "-./:_";
constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";
constexpr std::string_view kHomeVariable = "VEXO_HOME";
constexpr const char* kOwnExeLink = "/proc/self/exe";
constexpr std::string_view kProcRoot = "/proc/";
// readlink on /proc/<pid>/exe appends this when the program file was replaced or removed while running.
constexpr std::string_view kDeletedSuffix = " (deleted)";

constexpr TDateTime kUnixEpochDateTime = 25569.0;  // 1970-01-01 00:00 in days since 1899-12-30
constexpr double kSecondsPerDay = 86400.0;

// Version text behind the marker: four decimal parts, each at most 5 digits and 65535.
constexpr int kVersionParts = 4;
constexpr std::size_t kMaxVersionPartDigits = 5;
constexpr unsigned kMaxVersionPartValue = 65535;
constexpr std::size_t kMaxVersionTextLength = kVersionParts * kMaxVersionPartDigits + (kVersionParts - 1);
constexpr std::size_t kVersionReadChunk = 64 * 1024;

bool IsTrimmedByte(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLowerCopy(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = AsciiLower(c);
    return lower;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

std::string_view BaseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Target of a symbolic link such as /proc/self/exe; empty when it cannot be read.
std::string ReadLink(const std::string& link) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);  // possibly truncated: try again with more room
    }
}

std::string OwnExePath() {
    std::string path = ReadLink(kOwnExeLink);
    if (path.ends_with(kDeletedSuffix))
        path.resize(path.size() - kDeletedSuffix.size());
    return path;
}

// Length of the UTF-8 character at text[pos] (1 for a malformed byte) and its GBK byte count.
std::size_t CharacterAt(std::string_view text, std::size_t pos, std::size_t& gbkBytes) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        gbkBytes = 1;
        return 1;
    }
    std::size_t length = Utf8SequenceLength(lead);
    if (length > text.size() - pos || !IsValidUtf8(text.substr(pos, length)))
        length = 1;
    gbkBytes = GbkLength(text.substr(pos, length));
    return length;
}

// Parses "a.b.c.d" at the start of text; false when it is not four valid parts.
bool ParseVersion(std::string_view text, std::string& version) {
    unsigned parts[kVersionParts] = {};
    std::size_t pos = 0;
    for (int part = 0; part < kVersionParts; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (++digits > kMaxVersionPartDigits)
                return false;
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        if (digits == 0 || value > kMaxVersionPartValue)
            return false;
        parts[part] = value;
    }
    char formatted[kMaxVersionTextLength + 1];
    std::snprintf(formatted, sizeof formatted, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    version = formatted;
    return true;
}

struct ProcessIdentity {
    std::string exePath;       // empty when the link cannot be read
    std::string fallbackPath;  // first command-line word, else the kernel's short name
};

bool OwnedByCurrentUser(const std::string& procDir) {
    std::ifstream status(procDir + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            // "Uid:\treal\teffective\tsaved\tfs"
            char* end = nullptr;
            const unsigned long realUid = std::strtoul(line.c_str() + 4, &end, 10);
            return end != line.c_str() + 4 && realUid == static_cast<unsigned long>(::getuid());
        }
    }
    return false;
}

ProcessIdentity IdentifyProcess(const std::string& procDir) {
    ProcessIdentity identity;
    identity.exePath = ReadLink(procDir + "/exe");
    if (identity.exePath.ends_with(kDeletedSuffix)) {
        identity.exePath.resize(identity.exePath.size() - kDeletedSuffix.size());
    }
    if (identity.exePath.empty()) {
        std::ifstream cmdline(procDir + "/cmdline", std::ios::binary);
        std::getline(cmdline, identity.fallbackPath, '\0');
        if (identity.fallbackPath.empty()) {
            std::ifstream comm(procDir + "/comm");
            std::getline(comm, identity.fallbackPath);
        }
    }
    return identity;
}

bool MatchesName(const ProcessIdentity& identity, std::string_view name) {
    const std::string& path = identity.exePath.empty() ? identity.fallbackPath : identity.exePath;
    if (path.empty())
        return false;
    return EqualsIgnoringAsciiCase(BaseName(path), name) || EqualsIgnoringAsciiCase(path, name);
}

// Ids of the running processes, from the numeric entries of /proc.
std::vector<pid_t> ProcessIds() {
    std::vector<pid_t> ids;
    DIR* dir = ::opendir(std::string(kProcRoot).c_str());
    if (dir == nullptr)
        return ids;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long id = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && id > 0)
            ids.push_back(static_cast<pid_t>(id));
    }
    ::closedir(dir);
    return ids;
}

std::string ProcDir(pid_t id) {
    return std::string(kProcRoot) + std::to_string(id);
}

bool KillNow(pid_t id) {
    return ::kill(id, SIGKILL) == 0;
}

}  // namespace

std::string_view Trim(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsTrimmedByte(text[begin]))
        ++begin;
    std::size_t end = text.size();
    while (end > begin && IsTrimmedByte(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string TextBetween(std::string_view start, std::string_view end, std::string_view text) {
    if (start.empty())
        return {};
    const std::size_t startPos = text.find(start);
    if (startPos == std::string_view::npos)
        return {};
    std::string_view rest = text.substr(startPos + start.size());
    if (!end.empty()) {
        const std::size_t endPos = rest.find(end);
        if (endPos != std::string_view::npos)
            rest = rest.substr(0, endPos);
    }
    return std::string(rest);
}

bool IsEngineDomain(std::string_view address) {
    const std::string lower = AsciiLowerCopy(address);
    for (std::string_view domain : kEngineDomains) {
        // Only at a label boundary, so that e.g. "espresso.com" is not taken for "so.com".
        for (std::string_view boundary : {std::string_view("//"), std::string_view(".")}) {
            std::string needle(boundary);
            needle += domain;
            if (lower.find(needle) != std::string::npos)
                return true;
        }
    }
    return false;
}

std::string ExtractHref(std::string_view anchor) {
    const std::string lower = AsciiLowerCopy(anchor);
    const std::size_t hrefPos = lower.find(kHrefAttribute);
    if (hrefPos == std::string::npos)
        return {};
    std::string_view rest = std::string_view(lower).substr(hrefPos + kHrefAttribute.size());
    if (rest.empty())
        return {};
    if (rest.front() == '"' || rest.front() == '\'') {
        const char quote = rest.front();
        rest.remove_prefix(1);
        return std::string(rest.substr(0, rest.find(quote)));
    }
    // An unquoted value ends at white space or at the tag's ">", whichever comes first.
    std::size_t endPos = 0;
    while (endPos < rest.size() && !IsAsciiSpace(rest[endPos]) && rest[endPos] != '>')
        ++endPos;
    return std::string(rest.substr(0, endPos));
}

std::string ResolveLink(std::string_view host, std::string_view link) {
    std::string lower = AsciiLowerCopy(link);
    if (lower.starts_with(kHttpScheme))
        return lower;
    // Relative to the site root: leading "." and "/" (as in "../") are dropped.
    const std::size_t first = lower.find_first_not_of("./");
    std::string result(kHttpScheme);
    result += host;
    result += '/';
    if (first != std::string::npos)
        result += std::string_view(lower).substr(first);
    return result;
}

std::string UrlEncode(std::string_view text, bool spaceAsPlus) {
    const std::string gbk = Utf8ToGbk(text);
    std::string encoded;
    encoded.reserve(gbk.size() * 3);
    for (const char c : gbk) {
        const auto byte = static_cast<unsigned char>(c);
        const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (letterOrDigit || kUrlUnreservedPunctuation.find(c) != std::string_view::npos) {
            encoded += c;
        } else if (c == ' ' && spaceAsPlus) {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kUpperHexDigits[byte >> 4];
            encoded += kUpperHexDigits[byte & 0x0F];
        }
    }
    return encoded;
}

std::string TruncateWithEllipsis(std::string_view text, std::size_t limit) {
    if (GbkLength(text) <= limit)
        return std::string(text);
    std::size_t kept = 0;  // GBK bytes
    std::size_t pos = 0;   // UTF-8 bytes
    while (pos < text.size()) {
        std::size_t gbkBytes = 0;
        const std::size_t length = CharacterAt(text, pos, gbkBytes);
        if (kept + gbkBytes > limit)
            break;  // a double-byte character across the limit stays out whole
        kept += gbkBytes;
        pos += length;
    }
    std::string result(text.substr(0, pos));
    result += kEllipsis;
    return result;
}

std::pair<std::string, std::string> SplitAt(std::string_view text, std::string_view separator) {
    if (text.empty())
        return {};
    const std::size_t pos = text.find(separator);
    if (pos == std::string_view::npos)
        return {std::string(), std::string(text)};
    return {std::string(text.substr(0, pos)), std::string(text.substr(pos + separator.size()))};
}

std::string& AppendWithSeparator(std::string& accumulated, std::string_view item, std::string_view separator) {
    if (accumulated.empty()) {
        accumulated = item;
    } else {
        accumulated += separator;
        accumulated += item;
    }
    return accumulated;
}

std::string TextAfterLast(std::string_view text, char c, std::string_view defaultText) {
    const std::size_t pos = text.rfind(c);
    if (pos == std::string_view::npos)
        return std::string(defaultText);
    return std::string(text.substr(pos + 1));
}

std::string TextBeforeLast(std::string_view text, char c) {
    const std::size_t pos = text.rfind(c);
    if (pos == std::string_view::npos)
        return std::string(text);
    return std::string(text.substr(0, pos));
}

std::string IncludeBackslash(std::string_view path) {
    std::string result(path);
    if (Trim(path).empty() || path.back() == '/')
        return result;
    result += '/';
    return result;
}

std::string DataFolderOfProgram(const std::string& programDir) {
    if (programDir.empty())
        return {};
    // An installed copy is marked as such (root may write to any folder, so being writable alone does not say
    // the folder is the user's), and a program folder the user cannot write keeps no data either.
    std::error_code error;
    const bool installed = std::filesystem::exists(programDir + std::string(kInstalledMarker), error);
    if (!installed && ::access(programDir.c_str(), W_OK) == 0)
        return programDir;
    std::string xdg;
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome != nullptr && dataHome[0] == '/')
        xdg = dataHome;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        xdg = std::string(home) + "/.local/share";
    else
        return programDir;
    const std::string folder = IncludeBackslash(xdg) + "vexo/";
    std::filesystem::create_directories(folder, error);  // the first start makes it; an error shows on first use
    return folder;
}

std::string AppDir() {
    const char* home = std::getenv(std::string(kHomeVariable).c_str());
    if (home != nullptr && *home != '\0')
        return IncludeBackslash(home);
    const std::string exe = OwnExePath();
    const std::size_t slash = exe.rfind('/');
    if (slash == std::string::npos)
        return {};
    return DataFolderOfProgram(exe.substr(0, slash + 1));
}

std::string ExeFileName() {
    return std::string(BaseName(OwnExePath()));
}

bool KillProcessByName(std::string_view name, bool includeSelf) {
    if (name.empty())
        return false;
    const pid_t self = ::getpid();
    bool selfMatches = false;
    bool attempted = false;
    bool lastResult = false;
    for (const pid_t id : ProcessIds()) {
        const std::string dir = ProcDir(id);
        if (!OwnedByCurrentUser(dir) || !MatchesName(IdentifyProcess(dir), name))
            continue;
        if (id == self) {
            selfMatches = includeSelf;  // killed after all others, since nothing runs after that
            continue;
        }
        attempted = true;
        lastResult = KillNow(id);
    }
    if (selfMatches)
        lastResult = KillNow(self);
    return attempted || selfMatches ? lastResult : false;
}

bool KillProcessById(pid_t id) {
    // kill() treats 0 and negative ids as process groups; those are never a single process to end.
    if (id <= 0)
        return false;
    if (!OwnedByCurrentUser(ProcDir(id)))
        return false;
    return KillNow(id);
}

std::string FileVersionText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::string(kDefaultFileVersion);
    std::string buffer;
    std::vector<char> chunk(kVersionReadChunk);
    for (;;) {
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(file.gcount());
        buffer.append(chunk.data(), got);
        const bool atEnd = got < chunk.size();
        // Bytes from here on may hold the start of a marker whose version text is not read yet.
        std::size_t keepFrom = buffer.size() >= kVersionMarker.size() ? buffer.size() - (kVersionMarker.size() - 1) : 0;
        std::size_t searchFrom = 0;
        for (;;) {
            const std::size_t markerPos = buffer.find(kVersionMarker, searchFrom);
            if (markerPos == std::string::npos)
                break;
            const std::size_t textPos = markerPos + kVersionMarker.size();
            // One byte beyond the longest version text shows where the last part ends.
            if (!atEnd && buffer.size() - textPos <= kMaxVersionTextLength) {
                keepFrom = markerPos;
                break;
            }
            std::string version;
            if (ParseVersion(std::string_view(buffer).substr(textPos), version))
                return version;
            searchFrom = markerPos + 1;
        }
        if (atEnd)
            break;
        buffer.erase(0, keepFrom);
    }
    return std::string(kDefaultFileVersion);
}

std::int64_t DateTimeToUnixSeconds(TDateTime t) {
    // Rounded to the nearest second, halves away from zero. Values beyond the 64-bit range saturate and NaN
    // gives 0, so that a damaged stored value cannot produce undefined results.
    const double seconds = std::round((t - kUnixEpochDateTime) * kSecondsPerDay);
    if (std::isnan(seconds))
        return 0;
    constexpr double kLimit = 9.2233720368547758e18;  // 2^63
    if (seconds >= kLimit)
        return std::numeric_limits<std::int64_t>::max();
    if (seconds < -kLimit)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(seconds);
}

TDateTime UnixSecondsToDateTime(std::int64_t seconds) {
    return static_cast<double>(seconds) / kSecondsPerDay + kUnixEpochDateTime;
}

}  // namespace vexo
