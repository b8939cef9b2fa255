// GBK conversion through glibc iconv ("CP936", so 0x80 is the euro sign as on Windows).
#include "text/Gbk.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace vexo {

namespace {

// One iconv descriptor per thread and direction: descriptors are not thread-safe, and opening one per call
// would dominate the cost of the short texts most callers convert.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as possible; returns the number of input bytes consumed. Output is appended.
    std::size_t Convert(std::string_view in, std::string& out) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char buffer[4096];
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            std::size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                break;  // EILSEQ or EINVAL: the caller handles the offending bytes
            }
        }
        // Flush any shift state (none for these encodings, but cheap).
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        return in.size() - inLeft;
    }

  private:
    iconv_t cd_;
};

Converter& ToGbk() {
    thread_local Converter converter("CP936", "UTF-8");
    return converter;
}

Converter& FromGbk() {
    thread_local Converter converter("UTF-8", "CP936");
    return converter;
}

// Bytes of UTF-8 handed to iconv at once: the most, and the least after a character without a GBK form.
constexpr std::size_t kMaxConvertWindow = std::size_t{1} << 16;
constexpr std::size_t kMinConvertWindow = 16;

// Length of the well-formed UTF-8 sequence at the start of text, or 0 when it is malformed.
std::size_t ValidSequenceAt(std::string_view text) {
    char32_t unused = 0;
    return DecodeUtf8(text, unused);
}

}  // namespace

std::size_t DecodeUtf8(std::string_view text, char32_t& cp) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    if (n == 0)
        return 0;
    const unsigned char lead = s[0];
    auto cont = [&](std::size_t i) { return i < n && (s[i] & 0xC0) == 0x80; };
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (!cont(1))
            return 0;
        cp = (char32_t(lead & 0x1F) << 6) | (s[1] & 0x3F);
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if (lead == 0xE0 && s[1] < 0xA0)
            return 0;  // overlong
        if (lead == 0xED && s[1] >= 0xA0)
            return 0;  // surrogate
        cp = (char32_t(lead & 0x0F) << 12) | (char32_t(s[1] & 0x3F) << 6) | (s[2] & 0x3F);
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if (lead == 0xF0 && s[1] < 0x90)
            return 0;  // overlong
        if (lead == 0xF4 && s[1] >= 0x90)
            return 0;  // above U+10FFFF
        cp = (char32_t(lead & 0x07) << 18) | (char32_t(s[1] & 0x3F) << 12) | (char32_t(s[2] & 0x3F) << 6) |
             (s[3] & 0x3F);
        return 4;
    }
    return 0;
}

std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    return 1;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        // Fast path over ASCII runs.
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = ValidSequenceAt(text.substr(i));
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

namespace {

// UTF-8 of the tag characters U+E0000-U+E007F: F3 A0 80 80 to F3 A0 81 BF. glibc's CP936 converter skips them
// without reporting an error, so they are taken out before the text reaches it.
constexpr std::string_view kTagLead = "\xF3\xA0";
constexpr std::size_t kTagBytes = 4;

bool IsTagCharacterAt(std::string_view text, std::size_t pos) {
    if (text.size() - pos < kTagBytes || text.compare(pos, kTagLead.size(), kTagLead) != 0)
        return false;
    const auto third = static_cast<unsigned char>(text[pos + 2]);
    const auto fourth = static_cast<unsigned char>(text[pos + 3]);
    return (third == 0x80 || third == 0x81) && (fourth & 0xC0) == 0x80;
}

// Position of the first tag character at or after pos, or npos.
std::size_t FindTagCharacter(std::string_view text, std::size_t pos) {
    for (pos = text.find(kTagLead, pos); pos != std::string_view::npos; pos = text.find(kTagLead, pos + 1)) {
        if (IsTagCharacterAt(text, pos))
            return pos;
    }
    return std::string_view::npos;
}

// Converts text without tag characters, appending to out.
void AppendAsGbk(std::string_view utf8, std::string& out) {
    Converter& converter = ToGbk();
    // iconv converts ahead internally and pays for a failure in proportion to the input it was handed, so text
    // dense with characters outside GBK took seconds per megabyte. After a failure the input goes in small pieces,
    // which grow again while they convert cleanly.
    std::size_t window = kMaxConvertWindow;
    while (!utf8.empty()) {
        std::size_t take = std::min(window, utf8.size());
        // A piece ends between characters where it can (a character has at most three continuation bytes).
        for (int back = 0; back < 3 && take < utf8.size() && (static_cast<unsigned char>(utf8[take]) & 0xC0) == 0x80;
             ++back) {
            --take;
        }
        const std::size_t used = converter.Convert(utf8.substr(0, take), out);
        utf8.remove_prefix(used);
        if (used == take) {
            window = std::min(window * 2, kMaxConvertWindow);
            continue;
        }
        std::size_t len = ValidSequenceAt(utf8);
        if (len > take - used)
            continue;  // the piece ended inside this character; the next one holds it whole
        // The character at the front has no GBK form, or is malformed: one "?" for it.
        out.push_back('?');
        utf8.remove_prefix(len == 0 ? 1 : len);
        window = kMinConvertWindow;
    }
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    // A tag character is a whole, well-formed sequence, so the pieces around it split the text between characters.
    for (std::size_t tag = FindTagCharacter(utf8, 0); tag != std::string_view::npos; tag = FindTagCharacter(utf8, 0)) {
        AppendAsGbk(utf8.substr(0, tag), out);
        out.push_back('?');
        utf8.remove_prefix(tag + kTagBytes);
    }
    AppendAsGbk(utf8, out);
    return out;
}

std::string GbkToUtf8(std::string_view gbk) {
    std::string out;
    out.reserve(gbk.size() + gbk.size() / 2);
    Converter& converter = FromGbk();
    while (!gbk.empty()) {
        std::size_t used = converter.Convert(gbk, out);
        gbk.remove_prefix(used);
        if (gbk.empty())
            break;
        // An invalid lead byte, or a lead byte whose trail is not valid: drop just the lead byte, so that an ASCII
        // byte following it is kept.
        out.push_back('?');
        gbk.remove_prefix(1);
    }
    return out;
}

std::size_t GbkLength(std::string_view utf8) {
    std::size_t length = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t ascii = i;
        while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80)
            ++ascii;
        length += ascii - i;
        i = ascii;
        if (i >= utf8.size())
            break;
        std::size_t end = i;
        while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) >= 0x80)
            ++end;
        length += Utf8ToGbk(utf8.substr(i, end - i)).size();
        i = end;
    }
    return length;
}

std::string ToGbkRepertoire(std::string_view utf8) {
    return GbkToUtf8(Utf8ToGbk(utf8));
}

}  // namespace vexo
