// TRegExp on RE2. The patterns are written in the ECMAScript dialect of the engine the parsers were made for; a
// small translator turns them into RE2 syntax with the same matches: `.` and `\s` narrowed to what that engine
// saw, IgnoreCase as explicit ASCII case pairs (RE2's own folding would also fold U+212A and U+017F), Annex B
// literals (`\z`, a stray `{`) kept literal. RE2 keeps every search linear in the subject.
#include "text/RegExp.h"

#include <re2/re2.h>

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "text/Gbk.h"

namespace vexo {

namespace {

// Large enough that the DFA does not give up (and fall back to the slow NFA) on pages of several hundred KB.
constexpr int64_t kMaxMemBytes = int64_t{64} << 20;
// A parser reuses a handful of patterns; more distinct ones than this empty the cache.
constexpr std::size_t kMaxCachedPatterns = 32;

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kIdeographicSpace = 0x3000;
constexpr char32_t kAsciiCaseOffset = 'a' - 'A';
constexpr int kMaxOctalDigits = 3;
constexpr char32_t kMaxOctalValue = 0377;

// `.`: any character but a line break (the engine never saw U+2028/U+2029, they had become "?").
constexpr std::string_view kAnyButLineBreak = "[^\\r\\n]";
// `\s` and `\S`: the white space of the GBK repertoire; U+00A0, U+FEFF, U+2028 ... are not white space.
constexpr std::string_view kWhiteSpace = "[\\t\\n\\v\\f\\r \\x{3000}]";
constexpr std::string_view kNonWhiteSpace = "[^\\t\\n\\v\\f\\r \\x{3000}]";

// Error texts worded as RE2's own, for the faults the translator finds before RE2 sees the pattern.
constexpr std::string_view kErrMissingBracket = "missing ]: ";
constexpr std::string_view kErrBadRange = "invalid character class range: ";
constexpr std::string_view kErrTrailingBackslash = "trailing \\";
constexpr std::string_view kErrBadUtf8 = "invalid UTF-8";
constexpr std::string_view kErrBadGroup = "invalid or unsupported Perl syntax: ";

using Range = std::pair<char32_t, char32_t>;
using RangeSet = std::vector<Range>;

bool IsAsciiLetter(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(char32_t c) {
    return c >= '0' && c <= '9';
}

// Characters RE2 reads as syntax, outside and inside a class; escaped when they stand for themselves.
constexpr std::string_view kMetaCharacters = "\\.+*?()|[]{}^$";
constexpr std::string_view kClassMetaCharacters = "\\[]^-";

// RE2 reads a class of exactly one ASCII letter in both cases as a case-folded literal, and when it merges such a
// literal into a class (alternatives such as `s|2` become one class) it adds the letter's Unicode fold partners:
// U+017F for s, U+212A for k. These two pairs are written as an alternation instead, which RE2 merges as it is.
constexpr std::string_view kLettersWithNonAsciiFolds = "ks";

bool IsMeta(char32_t c, std::string_view metaCharacters) {
    return metaCharacters.find(static_cast<char>(c)) != std::string_view::npos;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendHexEscape(std::string& out, char32_t c) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    do {
        hex.insert(hex.begin(), kDigits[c & 0xF]);
        c >>= 4;
    } while (c != 0);
    out += "\\x{";
    out += hex;
    out += '}';
}

RangeSet Normalized(RangeSet set) {
    std::sort(set.begin(), set.end());
    RangeSet merged;
    for (const Range& r : set) {
        if (!merged.empty() && r.first <= merged.back().second + 1) {
            merged.back().second = std::max(merged.back().second, r.second);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

RangeSet Complement(const RangeSet& set) {
    RangeSet result;
    char32_t next = 0;
    for (const Range& r : Normalized(set)) {
        if (r.first > next)
            result.emplace_back(next, r.first - 1);
        next = r.second + 1;
    }
    if (next <= kMaxCodePoint)
        result.emplace_back(next, kMaxCodePoint);
    return result;
}

// Adds the other case of every ASCII letter in the set (`[0-z]` gains a-z's and A-Z's partners, `[x]` gains X).
void AddAsciiCasePartners(RangeSet& set) {
    const std::size_t count = set.size();
    for (std::size_t i = 0; i < count; ++i) {
        const auto [lo, hi] = set[i];
        const char32_t upperLo = std::max<char32_t>(lo, 'A');
        const char32_t upperHi = std::min<char32_t>(hi, 'Z');
        if (upperLo <= upperHi)
            set.emplace_back(upperLo + kAsciiCaseOffset, upperHi + kAsciiCaseOffset);
        const char32_t lowerLo = std::max<char32_t>(lo, 'a');
        const char32_t lowerHi = std::min<char32_t>(hi, 'z');
        if (lowerLo <= lowerHi)
            set.emplace_back(lowerLo - kAsciiCaseOffset, lowerHi - kAsciiCaseOffset);
    }
}

const RangeSet& DigitSet() {
    static const RangeSet set{{'0', '9'}};
    return set;
}
const RangeSet& WordSet() {
    static const RangeSet set{{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}};
    return set;
}
const RangeSet& SpaceSet() {
    static const RangeSet set{{'\t', '\r'}, {' ', ' '}, {kIdeographicSpace, kIdeographicSpace}};
    return set;
}

// One pass over the ECMAScript pattern, writing the RE2 pattern.
class Translator {
  public:
    Translator(std::string_view pattern, bool ignoreCase) : pattern_(pattern), ignoreCase_(ignoreCase) {}

    std::string Run() {
        out_.reserve(pattern_.size() * 2);
        while (pos_ < pattern_.size()) {
            const char c = pattern_[pos_];
            switch (c) {
                case '\\':
                    TranslateEscape();
                    break;
                case '[':
                    TranslateClass();
                    break;
                case '.':
                    ++pos_;
                    out_ += kAnyButLineBreak;
                    break;
                case '(':
                    TranslateGroupOpening();
                    break;
                case '{':
                    TranslateBrace();
                    break;
                case '}':
                case ']':
                    // Outside a quantifier or a class these are plain characters.
                    ++pos_;
                    out_ += '\\';
                    out_ += c;
                    break;
                case ')':
                case '|':
                case '*':
                case '+':
                case '?':
                case '^':
                case '$':
                    ++pos_;
                    out_ += c;
                    break;
                default:
                    EmitLiteral(NextCodePoint());
                    break;
            }
        }
        return std::move(out_);
    }

  private:
    // What one escape sequence stands for: a single character or a set of characters.
    struct Escape {
        bool isSet = false;
        char32_t codePoint = 0;
        RangeSet set;
    };

    [[noreturn]] static void Fail(std::string_view message, std::string_view argument) {
        throw ERegExpError(std::string(message) + std::string(argument));
    }

    char32_t NextCodePoint() {
        char32_t c = 0;
        const std::size_t length = DecodeUtf8(pattern_.substr(pos_), c);
        if (length == 0) {
            Fail(kErrBadUtf8, "");
        }
        pos_ += length;
        return c;
    }

    // Reads `count` hex digits at pos_; returns -1 (and reads nothing) when they are not all there.
    long ReadHex(std::size_t count) {
        if (pos_ + count > pattern_.size())
            return -1;
        long value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const int digit = HexValue(pattern_[pos_ + i]);
            if (digit < 0)
                return -1;
            value = value * 16 + digit;
        }
        pos_ += count;
        return value;
    }

    // Parses the escape at pos_ (pos_ on the backslash). Assertions and back-references outside a class never get
    // here, so `\b` is the backspace it is inside a class and digits are octal codes.
    Escape ParseEscape(bool inClass) {
        ++pos_;
        if (pos_ >= pattern_.size())
            Fail(kErrTrailingBackslash, "");
        Escape e;
        const char c = pattern_[pos_];
        auto set = [&](const RangeSet& s) {
            ++pos_;
            e.isSet = true;
            e.set = s;
            return e;
        };
        auto single = [&](char32_t value) {
            e.codePoint = value;
            return e;
        };
        switch (c) {
            case 'd':
                return set(DigitSet());
            case 'D':
                return set(Complement(DigitSet()));
            case 'w':
                return set(WordSet());
            case 'W':
                return set(Complement(WordSet()));
            case 's':
                return set(SpaceSet());
            case 'S':
                return set(Complement(SpaceSet()));
            case 'n':
                ++pos_;
                return single('\n');
            case 'r':
                ++pos_;
                return single('\r');
            case 't':
                ++pos_;
                return single('\t');
            case 'f':
                ++pos_;
                return single('\f');
            case 'v':
                ++pos_;
                return single('\v');
            case 'b':
                ++pos_;
                return single('\b');
            case 'x': {
                ++pos_;
                const long value = ReadHex(2);
                return single(value < 0 ? U'x' : static_cast<char32_t>(value));
            }
            case 'u': {
                ++pos_;
                const long value = ReadHex(4);
                return single(value < 0 ? U'u' : static_cast<char32_t>(value));
            }
            case 'c':
                // A control letter; inside a class a digit or "_" works as one too (`[\c_]` is U+001F).
                if (pos_ + 1 < pattern_.size() &&
                    (IsAsciiLetter(static_cast<unsigned char>(pattern_[pos_ + 1])) ||
                     (inClass &&
                      (IsAsciiDigit(static_cast<unsigned char>(pattern_[pos_ + 1])) || pattern_[pos_ + 1] == '_')))) {
                    pos_ += 2;
                    return single(static_cast<unsigned char>(pattern_[pos_ - 1]) % 32);
                }
                // A `\c` without a control letter is a backslash followed by "c".
                return single('\\');
            default:
                break;
        }
        if (c >= '0' && c <= '7') {
            // `\0` and, inside a class, any digit escape are legacy octal codes.
            char32_t value = 0;
            for (int i = 0; i < kMaxOctalDigits && pos_ < pattern_.size() && pattern_[pos_] >= '0' &&
                            pattern_[pos_] <= '7' && value * 8 + (pattern_[pos_] - '0') <= kMaxOctalValue;
                 ++i, ++pos_) {
                value = value * 8 + (pattern_[pos_] - '0');
            }
            return single(value);
        }
        // Identity escape: `\.`, `\/`, `\-`, and (in this dialect) any other character, letters included.
        return single(NextCodePoint());
    }

    void TranslateEscape() {
        const char next = pos_ + 1 < pattern_.size() ? pattern_[pos_ + 1] : '\0';
        // Assertions, and back-references (which RE2 refuses with its own message), pass unchanged.
        if (next == 'b' || next == 'B' || (next >= '1' && next <= '9')) {
            out_ += '\\';
            out_ += next;
            pos_ += 2;
            return;
        }
        switch (next) {
            case 's':
                pos_ += 2;
                out_ += kWhiteSpace;
                return;
            case 'S':
                pos_ += 2;
                out_ += kNonWhiteSpace;
                return;
            case 'd':
            case 'D':
            case 'w':
            case 'W':
                // RE2's classes are ASCII, as this dialect's are.
                pos_ += 2;
                out_ += '\\';
                out_ += next;
                return;
            default:
                break;
        }
        const Escape e = ParseEscape(false);
        if (e.isSet) {
            EmitClass(e.set, false);
        } else {
            EmitLiteral(e.codePoint);
        }
    }

    void TranslateClass() {
        const std::size_t start = pos_;
        ++pos_;
        bool negated = false;
        if (pos_ < pattern_.size() && pattern_[pos_] == '^') {
            negated = true;
            ++pos_;
        }
        RangeSet set;
        // An atom of the class: a character (isSet false) or a class escape such as `\d`.
        auto nextAtom = [&]() {
            if (pattern_[pos_] == '\\')
                return ParseEscape(true);
            Escape e;
            e.codePoint = NextCodePoint();
            return e;
        };
        auto add = [&](const Escape& e) {
            if (e.isSet) {
                set.insert(set.end(), e.set.begin(), e.set.end());
            } else {
                set.emplace_back(e.codePoint, e.codePoint);
            }
        };
        for (;;) {
            if (pos_ >= pattern_.size())
                Fail(kErrMissingBracket, pattern_.substr(start));
            if (pattern_[pos_] == ']') {
                ++pos_;
                break;
            }
            const std::size_t atomStart = pos_;
            const Escape first = nextAtom();
            const bool rangeFollows = pos_ + 1 < pattern_.size() && pattern_[pos_] == '-' && pattern_[pos_ + 1] != ']';
            if (!rangeFollows) {
                add(first);
                continue;
            }
            ++pos_;  // the '-'
            const Escape last = nextAtom();
            if (first.isSet || last.isSet) {
                // `[\d-z]`: a class escape cannot bound a range, so the '-' is literal.
                add(first);
                set.emplace_back('-', '-');
                add(last);
                continue;
            }
            if (first.codePoint > last.codePoint)
                Fail(kErrBadRange, pattern_.substr(atomStart, pos_ - atomStart));
            set.emplace_back(first.codePoint, last.codePoint);
        }
        EmitClass(set, negated);
    }

    void TranslateGroupOpening() {
        ++pos_;
        out_ += '(';
        if (pos_ >= pattern_.size() || pattern_[pos_] != '?')
            return;
        const std::string_view rest = pattern_.substr(pos_);
        // Non-capturing groups pass; look-around passes too and RE2 refuses it with its own message.
        for (const std::string_view opener : {"?:", "?=", "?!", "?<=", "?<!"}) {
            if (rest.starts_with(opener)) {
                out_ += opener;
                pos_ += opener.size();
                return;
            }
        }
        if (rest.starts_with("?<")) {
            // A named group: captures are never read, so it becomes a plain group.
            const std::size_t close = rest.find('>');
            if (close != std::string_view::npos) {
                pos_ += close + 1;
                return;
            }
        }
        // `(?i)` and other inline flags are no part of this dialect.
        Fail(kErrBadGroup, pattern_.substr(pos_ - 1, std::min<std::size_t>(3, pattern_.size() - pos_ + 1)));
    }

    // `{n}`, `{n,}` and `{n,m}` are quantifiers; any other brace is a literal character.
    void TranslateBrace() {
        std::size_t i = pos_ + 1;
        auto digits = [&] {
            const std::size_t from = i;
            while (i < pattern_.size() && IsAsciiDigit(pattern_[i]))
                ++i;
            return i > from;
        };
        bool quantifier = digits();
        if (quantifier && i < pattern_.size() && pattern_[i] == ',') {
            ++i;
            digits();
        }
        quantifier = quantifier && i < pattern_.size() && pattern_[i] == '}';
        if (quantifier) {
            out_.append(pattern_.substr(pos_, i + 1 - pos_));
            pos_ = i + 1;
        } else {
            out_ += "\\{";
            ++pos_;
        }
    }

    // Either case of an ASCII letter.
    void EmitCasePair(char32_t lower) {
        const bool alternation = kLettersWithNonAsciiFolds.find(static_cast<char>(lower)) != std::string_view::npos;
        out_ += alternation ? "(?:" : "[";
        out_ += static_cast<char>(lower);
        if (alternation)
            out_ += '|';
        out_ += static_cast<char>(lower - kAsciiCaseOffset);
        out_ += alternation ? ")" : "]";
    }

    void EmitLiteral(char32_t c) {
        if (ignoreCase_ && IsAsciiLetter(c)) {
            EmitCasePair(c | 0x20);
            return;
        }
        if (c >= 0x80 || (c >= ' ' && c < 0x7F && !IsMeta(c, kMetaCharacters))) {
            AppendUtf8(out_, c);
        } else if (c > ' ' && c < 0x7F) {
            out_ += '\\';
            out_ += static_cast<char>(c);
        } else {
            AppendHexEscape(out_, c);
        }
    }

    void EmitClassMember(char32_t c) {
        if (c > ' ' && c < 0x7F && !IsMeta(c, kClassMetaCharacters)) {
            out_ += static_cast<char>(c);
        } else if (c > ' ' && c < 0x7F) {
            out_ += '\\';
            out_ += static_cast<char>(c);
        } else {
            AppendHexEscape(out_, c);
        }
    }

    void EmitClass(RangeSet set, bool negated) {
        if (ignoreCase_)
            AddAsciiCasePartners(set);
        set = Normalized(std::move(set));
        if (set.empty()) {
            // `[]` matches nothing and `[^]` any character.
            negated = !negated;
            set.emplace_back(0, kMaxCodePoint);
        }
        if (!negated && set.size() == 2 && set[0].first == set[0].second && set[1].first == set[1].second &&
            IsAsciiLetter(set[0].first) && set[1].first == set[0].first + kAsciiCaseOffset) {
            EmitCasePair(set[1].first);
            return;
        }
        out_ += negated ? "[^" : "[";
        for (const auto& [lo, hi] : set) {
            EmitClassMember(lo);
            if (hi != lo) {
                if (hi != lo + 1)
                    out_ += '-';
                EmitClassMember(hi);
            }
        }
        out_ += ']';
    }

    std::string_view pattern_;
    bool ignoreCase_;
    std::size_t pos_ = 0;
    std::string out_;
};

// True when pos lies after the first byte of a well-formed UTF-8 character.
bool InsideCharacter(std::string_view text, std::size_t pos) {
    for (std::size_t back = 1; back <= 3 && back <= pos && pos < text.size(); ++back) {
        if ((static_cast<unsigned char>(text[pos - back + 1]) & 0xC0) != 0x80)
            return false;
        const std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(text[pos - back]));
        if (length > 1)
            return length > back && IsValidUtf8(text.substr(pos - back, length));
    }
    return false;
}

}  // namespace

std::string TranslatePattern(std::string_view pattern, bool ignoreCase) {
    return Translator(pattern, ignoreCase).Run();
}

struct TRegExp::Impl {
    bool global = false;
    bool ignoreCase = false;
    std::string pattern;
    // Compiled expressions keyed by case mode and source pattern.
    std::unordered_map<std::string, std::unique_ptr<RE2>> cache;

    const RE2& Compiled() {
        std::string key = (ignoreCase ? "i:" : "c:") + pattern;
        if (auto found = cache.find(key); found != cache.end())
            return *found->second;
        RE2::Options options;
        options.set_encoding(RE2::Options::EncodingUTF8);
        options.set_case_sensitive(true);
        options.set_longest_match(false);
        options.set_never_capture(true);
        options.set_log_errors(false);
        options.set_max_mem(kMaxMemBytes);
        auto re = std::make_unique<RE2>(TranslatePattern(pattern, ignoreCase), options);
        if (!re->ok())
            throw ERegExpError(re->error());
        if (cache.size() >= kMaxCachedPatterns)
            cache.clear();
        return *cache.emplace(std::move(key), std::move(re)).first->second;
    }
};

TRegExp::TRegExp() : impl_(std::make_unique<Impl>()) {}
TRegExp::~TRegExp() = default;

void TRegExp::SetGlobal(bool global) {
    impl_->global = global;
}
void TRegExp::SetPattern(std::string_view pattern) {
    impl_->pattern = pattern;
}
void TRegExp::SetIgnoreCase(bool ignoreCase) {
    impl_->ignoreCase = ignoreCase;
}

void TRegExp::ForEachMatch(std::string_view subject, const std::function<bool(std::string_view)>& onMatch) {
    const RE2& re = impl_->Compiled();
    if (subject.empty())
        return;
    const re2::StringPiece text(subject.data(), subject.size());
    std::size_t pos = 0;
    while (pos <= subject.size()) {
        re2::StringPiece match;
        // One submatch (the whole match) lets RE2 stay on its DFAs; failing means no later match either.
        if (!re.Match(text, pos, subject.size(), RE2::UNANCHORED, &match, 1))
            break;
        const auto start = static_cast<std::size_t>(match.data() - subject.data());
        if (InsideCharacter(subject, start)) {
            // RE2 scans bytes, so an empty-width match (`\B`) can fall between the bytes of one character, where a
            // character-based engine never looks. Nothing matches before it: search on from the next character.
            pos = start + 1;
            while (InsideCharacter(subject, pos))
                ++pos;
            continue;
        }
        if (!onMatch(std::string_view(match.data(), match.size())) || !impl_->global)
            break;
        std::size_t end = start + match.size();
        if (match.empty()) {
            // Step over one whole character so that an empty match cannot repeat.
            if (end >= subject.size())
                break;
            end = std::min(subject.size(), end + Utf8SequenceLength(static_cast<unsigned char>(subject[end])));
        }
        pos = end;
    }
}

void TRegExp::ForEachMatch(std::string_view pattern, std::string_view subject,
                           const std::function<bool(std::string_view)>& onMatch) {
    SetGlobal(true);
    SetPattern(pattern);
    SetIgnoreCase(true);
    ForEachMatch(subject, onMatch);
}

std::vector<std::string> TRegExp::Execute(std::string_view subject) {
    std::vector<std::string> matches;
    ForEachMatch(subject, [&matches](std::string_view match) {
        matches.emplace_back(match);
        return true;
    });
    return matches;
}

std::vector<std::string> TRegExp::AllMatches(std::string_view pattern, std::string_view subject) {
    SetGlobal(true);
    SetPattern(pattern);
    SetIgnoreCase(true);
    return Execute(subject);
}

}  // namespace vexo
