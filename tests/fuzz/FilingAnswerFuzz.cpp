// Reading an ICP filing answer and building the domain that is asked for: a name is trimmed UTF-8 from one cell of
// the answer and long enough; a domain is one lower-case segment without blanks. Input: the answer body, NUL, a
// site address.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "engine/GetBeiAn.h"
#include "net/PageText.h"
#include "text/RegExp.h"

using namespace vexo;
using namespace vexo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> parts = SplitAtNul(AsText(data, size), 2);
    const std::string_view answer = parts[0];
    const std::string address(parts[1]);

    static TRegExp regExp;
    const std::string name = ReadFilingAnswer(answer, regExp);
    if (!name.empty()) {
        const std::string text = DecodePageText(answer, false);
        Check(IsValidUtf8(name), "a filing name is not UTF-8");
        Check(IsTrimmed(name), "a filing name is not trimmed");
        Check(GbkLength(name) > kMinFilingNameLength, "a filing name is too short");
        Check(Contains(text, name), "a filing name is not a piece of the answer");
        Check(!Contains(name, "</td>"), "a filing name runs past its cell");
        Check(Contains(text, kSponsorLabel) || Contains(text, kSiteNameLabel), "a filing name without a label");
    }

    const std::string domain = TBeiAn::DomainOf(address);
    for (const char c : domain) {
        Check(static_cast<unsigned char>(c) > ' ' && c != '/', "a domain with a blank or a slash");
        Check(c < 'A' || c > 'Z', "a domain that is not lower-cased");
    }
    return 0;
}
