// Page-text decoding: response bodies of any encoding and line-break style become one UTF-8 text with CR LF breaks.
#include "net/PageText.h"

#include <cstring>

#include "text/Gbk.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

// A NUL byte ends the text: everything after it is ignored.
std::string_view UpToFirstNul(std::string_view body) {
    const void* nul = std::memchr(body.data(), '\0', body.size());
    if (nul == nullptr)
        return body;
    return body.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - body.data()));
}

// Calls onLine for every line of text; a break at the very end does not start another line.
template <typename OnLine>
void ForEachLine(std::string_view text, OnLine onLine) {
    std::size_t start = 0;
    const std::size_t size = text.size();
    while (start < size) {
        std::size_t pos = start;
        while (pos < size && text[pos] != '\r' && text[pos] != '\n')
            ++pos;
        onLine(text.substr(start, pos - start));
        if (pos < size && text[pos] == '\r' && pos + 1 < size && text[pos + 1] == '\n')
            ++pos;
        start = pos + 1;
    }
}

}  // namespace

std::vector<std::string> SplitBodyLines(std::string_view body) {
    std::vector<std::string> lines;
    ForEachLine(UpToFirstNul(body), [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::string DecodePageText(std::string_view body, bool lenient) {
    // Joining the lines with CR LF after each and then trimming both ends equals trimming first and then writing
    // every inner break as CR LF: the trailing break always falls to the trim, and line breaks are trimmed bytes.
    std::string_view trimmed = Trim(UpToFirstNul(body));
    std::string text;
    text.reserve(trimmed.size() + trimmed.size() / 16);
    bool first = true;
    ForEachLine(trimmed, [&](std::string_view line) {
        if (!first)
            text.append(kLineBreak);
        first = false;
        text.append(line);
    });
    if (IsValidUtf8(text))
        return text;
    // A GBK byte pair never contains CR or LF (trail bytes are 0x40-0xFE), so the breaks survive the conversion.
    return lenient ? GbkToUtf8(text) : std::string();
}

}  // namespace vexo
