// The regular-expression adapter: any pattern either compiles or is refused with ERegExpError; matches are
// non-overlapping pieces of the subject in order, whole characters of a UTF-8 subject; a subject piece written as
// an escaped literal pattern is found. Input: one flag byte, the pattern, NUL, the subject.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "text/RegExp.h"

using namespace vexo;
using namespace vexo::fuzz;

namespace {

// The matches occur in the subject one after the other without overlapping. Searching each from the end of the
// previous one finds it no later than where it matched, so the search never fails for true matches.
bool InOrderInSubject(const std::vector<std::string>& matches, std::string_view subject) {
    std::size_t from = 0;
    for (const std::string& match : matches) {
        const std::size_t at = subject.find(match, from);
        if (at == std::string_view::npos)
            return false;
        from = at + match.size();
    }
    return true;
}

// The pattern that matches the text literally: ASCII punctuation and control characters escaped, the rest as is
// (an escaped letter or digit would be a class or a back-reference).
std::string LiteralPattern(std::string_view text) {
    std::string pattern;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (byte < 0x80 && !alnum)
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

// Up to maxCharacters whole characters of UTF-8 text from its first character at or after `from`.
std::string_view CharacterPiece(std::string_view text, std::size_t from, std::size_t maxCharacters) {
    from = std::min(from, text.size());
    while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80)
        ++from;
    std::size_t end = from;
    for (std::size_t n = 0; n < maxCharacters && end < text.size(); ++n)
        end += Utf8SequenceLength(static_cast<unsigned char>(text[end]));
    return text.substr(from, std::min(end, text.size()) - from);
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t flags = data[0];
    const std::vector<std::string_view> parts = SplitAtNul(AsText(data + 1, size - 1), 2);
    const std::string_view pattern = parts[0];
    const std::string_view subject = parts[1];
    const bool ignoreCase = (flags & 1) != 0;
    const bool validSubject = IsValidUtf8(subject);

    TRegExp regExp;
    regExp.SetPattern(pattern);
    regExp.SetIgnoreCase(ignoreCase);
    regExp.SetGlobal(true);
    try {
        const std::vector<std::string> all = regExp.Execute(subject);
        Check(all.size() <= subject.size() + 1, "more matches than positions");
        Check(InOrderInSubject(all, subject), "matches are not successive pieces of the subject");
        if (validSubject)
            Check(AllValidUtf8(all), "a match splits a character");
        regExp.SetGlobal(false);
        const std::vector<std::string> first = regExp.Execute(subject);
        Check(first.size() == (all.empty() ? 0u : 1u) && (first.empty() || first[0] == all[0]),
              "the first match differs from the first of all");
    } catch (const ERegExpError&) {
        // A pattern the adapter refuses: refusing is the promised outcome.
    }

    // A piece of a valid subject, written as a literal pattern, matches itself.
    if (validSubject && !subject.empty()) {
        const std::string_view piece = CharacterPiece(subject, (flags >> 1) % subject.size(), 1 + (flags >> 5));
        TRegExp literal;
        literal.SetPattern(LiteralPattern(piece));
        literal.SetIgnoreCase(ignoreCase);
        literal.SetGlobal(true);
        const std::vector<std::string> found = literal.Execute(subject);
        Check(!found.empty(), "a literal piece of the subject is not found");
        for (const std::string& match : found) {
            Check(ignoreCase ? AsciiLower(match) == AsciiLower(piece) : match == piece,
                  "a literal pattern matches other text");
        }
    }
    return 0;
}
