// Reading a Baidu result page: every entry is UTF-8, certified entries carry cleaned texts, result-block links
// are pieces of the page, no more entries than the blocks' closing labels allow, and a second reading with the
// same adapter gives the same entries.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "engine/CaijiBaidu.h"
#include "net/PageText.h"
#include "text/RegExp.h"

using namespace vexo;
using namespace vexo::fuzz;

namespace {

bool IsCleaned(std::string_view text) {
    return IsTrimmed(text) && text.find_first_of("\"'") == std::string_view::npos && !Contains(text, "：");
}

bool SameEntries(const std::vector<TBaiduEntry>& a, const std::vector<TBaiduEntry>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].Link != b[i].Link || a[i].Title != b[i].Title || a[i].Certified != b[i].Certified)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = DecodePageText(AsText(data, size), true);
    static TRegExp regExp;  // one adapter for the whole run, as a collector keeps one for all its pages
    const std::string region = BaiduEntryRegion(text);
    Check(Contains(text, region), "the region is not a piece of the page");
    const std::vector<TBaiduEntry> certified = ReadBaiduCertifiedBlocks(region, regExp);
    const std::vector<TBaiduEntry> dataTools = ReadBaiduDataToolsBlocks(region, regExp);

    Check(certified.size() <= CountOf(text, "推广"), "more advertising entries than labels");
    for (const TBaiduEntry& entry : certified) {
        Check(entry.Certified == 1, "an advertising entry is not certified");
        Check(IsValidUtf8(entry.Link) && IsValidUtf8(entry.Title), "an advertising entry is not UTF-8");
        Check(IsCleaned(entry.Link) && IsCleaned(entry.Title), "an advertising entry is not cleaned");
    }
    Check(dataTools.size() <= CountOf(text, "快照"), "more result entries than snapshot links");
    for (const TBaiduEntry& entry : dataTools) {
        Check(entry.Certified <= 1, "a result entry's certification is neither 0 nor 1");
        Check(IsValidUtf8(entry.Link) && IsValidUtf8(entry.Title), "a result entry is not UTF-8");
        Check(!entry.Link.empty() && Contains(text, entry.Link), "a result link is not a piece of the page");
        Check(Contains(text, entry.Title), "a result title is not a piece of the page");
        // Either quoting ends a value at its quote, and single quoting is taken only when there is no double quote.
        Check(!Contains(entry.Link, "\"") && !Contains(entry.Title, "\""), "a result value runs past its quote");
    }

    Check(SameEntries(certified, ReadBaiduCertifiedBlocks(region, regExp)) &&
              SameEntries(dataTools, ReadBaiduDataToolsBlocks(region, regExp)),
          "reading the same page twice gives other entries");
    return 0;
}
