// Simple case folding over UTF-8 with a generated table of the folding pairs, searched by binary search.
#include "text/CaseFold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "text/Gbk.h"

namespace vexo {

namespace {

struct FoldPair {
    char32_t from;
    char32_t to;
};

constexpr FoldPair kFoldTable[] = {
#include "text/CaseFoldTable.inc"
};

// No character below this one changes except A-Z, which the ASCII path handles.
constexpr char32_t kFirstNonAsciiFolded = 0xB5;

char32_t FoldCodePoint(char32_t cp) {
    if (cp < kFirstNonAsciiFolded) {
        return (cp >= U'A' && cp <= U'Z') ? cp + (U'a' - U'A') : cp;
    }
    const auto* end = std::end(kFoldTable);
    const auto* it = std::lower_bound(std::begin(kFoldTable), end, cp,
                                      [](const FoldPair& pair, char32_t value) { return pair.from < value; });
    return (it != end && it->from == cp) ? it->to : cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string CaseFold(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char c = utf8[pos];
        if (static_cast<unsigned char>(c) < 0x80) {
            out.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
            ++pos;
            continue;
        }
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(utf8.substr(pos), cp);
        if (length == 0) {
            out.push_back(c);  // malformed: keep the byte, go on with the next one
            ++pos;
            continue;
        }
        const char32_t folded = FoldCodePoint(cp);
        if (folded == cp) {
            out.append(utf8.substr(pos, length));
        } else {
            AppendUtf8(out, folded);
        }
        pos += length;
    }
    return out;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a == b)
        return true;
    return CaseFold(a) == CaseFold(b);
}

}  // namespace vexo
