// GBK conversion: GBK bytes always give valid UTF-8 that survives a round trip, UTF-8 gives one GBK character
// (or "?") per character, of the length the length rules count, and the UTF-8 validator agrees with the sequence
// decoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "text/Gbk.h"

using namespace vexo;
using namespace vexo::fuzz;

namespace {

// Validity by walking the text with the sequence decoder, independently of IsValidUtf8's own loop.
bool DecodesWhole(std::string_view text) {
    while (!text.empty()) {
        char32_t codePoint = 0;
        const std::size_t length = DecodeUtf8(text, codePoint);
        if (length == 0)
            return false;
        Check(length == Utf8SequenceLength(static_cast<unsigned char>(text.front())), "sequence length disagrees");
        Check(codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF), "decoded an invalid code point");
        text.remove_prefix(length);
    }
    return true;
}

// Characters of GBK bytes: 0x81-0xFE lead a byte pair, every other byte is one character (0x80 the euro sign).
std::size_t GbkCharacterCount(std::string_view gbk) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < gbk.size(); ++count) {
        const auto byte = static_cast<unsigned char>(gbk[i]);
        i += byte >= 0x81 && byte <= 0xFE && i + 1 < gbk.size() ? 2 : 1;
    }
    return count;
}

std::size_t CodePointCount(std::string_view utf8) {
    std::size_t count = 0;
    char32_t unused = 0;
    for (std::size_t length = 0; !utf8.empty(); utf8.remove_prefix(length), ++count)
        length = DecodeUtf8(utf8, unused);
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);

    // The input as GBK.
    const std::string utf8 = GbkToUtf8(input);
    Check(IsValidUtf8(utf8), "GBK conversion gives invalid UTF-8");
    Check(GbkToUtf8(Utf8ToGbk(utf8)) == utf8, "text from GBK does not survive a round trip");
    Check(ToGbkRepertoire(utf8) == utf8, "text from GBK has characters outside GBK");

    // The input as UTF-8.
    const bool valid = IsValidUtf8(input);
    Check(valid == DecodesWhole(input), "IsValidUtf8 disagrees with DecodeUtf8");
    const std::string gbk = Utf8ToGbk(input);
    if (valid) {
        Check(gbk.size() == GbkLength(input), "GbkLength differs from the converted length");
        Check(GbkCharacterCount(gbk) == CodePointCount(input), "a character is lost or added on the way to GBK");
        const std::string repertoire = ToGbkRepertoire(input);
        Check(IsValidUtf8(repertoire), "ToGbkRepertoire gives invalid UTF-8");
        Check(GbkLength(repertoire) == GbkLength(input), "the repertoire changes the GBK length");
    }
    return 0;
}
