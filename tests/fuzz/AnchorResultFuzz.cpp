// Reading a 360 or Sogou result page: every address is an http address taken from the page up to a double quote,
// no two are equal ignoring letter case, and there are no more than the page has "http://". Input: one byte that
// picks the engine, then the page body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "engine/Caiji360.h"
#include "engine/CaijiSouGou.h"
#include "engine/Hosts.h"
#include "net/PageText.h"
#include "text/RegExp.h"

using namespace vexo;
using namespace vexo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool sogou = (data[0] & 1) != 0;
    const TAnchorEngine& engine = sogou ? kSogouEngine : k360Engine;
    static const std::string kPatterns[] = {PromotedAnchorPattern(k360Engine, kDefault360SearchHost),
                                            PromotedAnchorPattern(kSogouEngine, kDefaultSogouSearchHost)};
    const std::string text = DecodePageText(AsText(data + 1, size - 1), true);

    static TRegExp regExp;  // one adapter for the whole run, as a collector keeps one for all its pages
    const std::vector<std::string> addresses =
        ReadAnchorResultPage(text, kPatterns[sogou ? 1 : 0], engine.OwnDomains, regExp);

    Check(addresses.size() <= CountOf(text, "http://"), "more addresses than http addresses on the page");
    Check(AllDistinctIgnoringCase(addresses), "an address is taken twice");
    Check(AllValidUtf8(addresses), "an address is not UTF-8");
    for (const std::string& address : addresses) {
        Check(address.starts_with("http://"), "an address that is not http");
        Check(!Contains(address, "\"") && Contains(text, address + "\""), "an address not ended by a double quote");
    }
    return 0;
}
