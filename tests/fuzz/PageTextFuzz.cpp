// Page decoding: any response body becomes trimmed UTF-8 with CR LF breaks, and the line splitting loses nothing
// before the first NUL byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "net/PageText.h"

using namespace vexo;
using namespace vexo::fuzz;

namespace {

// The body up to its first NUL with every line break written as LF and one break at the very end dropped: what
// the lines joined with LF must give.
std::string ExpectedJoinedLines(std::string_view body) {
    body = body.substr(0, body.find('\0'));
    std::string text;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\r') {
            text += '\n';
            if (i + 1 < body.size() && body[i + 1] == '\n')
                ++i;
        } else {
            text += body[i];
        }
    }
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Every CR is followed by LF and every LF preceded by CR.
bool OnlyCrLfBreaks(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))
            return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = AsText(data, size);

    std::string joined;
    for (const std::string& line : SplitBodyLines(body)) {
        Check(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos, "a line holds a break or NUL");
        joined += line;
        joined += '\n';
    }
    if (!joined.empty())
        joined.pop_back();
    Check(joined == ExpectedJoinedLines(body), "lines lose or add text");

    const std::string lenient = DecodePageText(body, true);
    Check(IsValidUtf8(lenient), "lenient decoding gives invalid UTF-8");
    Check(IsTrimmed(lenient), "decoded text is not trimmed");
    Check(!Contains(lenient, std::string_view("\0", 1)), "decoded text holds NUL");
    Check(OnlyCrLfBreaks(lenient), "decoded text holds a lone CR or LF");
    Check(DecodePageText(lenient, false) == lenient, "decoding is not idempotent");

    const std::string strict = DecodePageText(body, false);
    Check(strict.empty() || strict == lenient, "strict decoding differs from lenient on UTF-8");
    return 0;
}
