// The contact rules and the contact-link search on any page: a record is either kept complete or cleared, every
// value is a UTF-8 piece of the page that meets its length rule, no list holds a value twice, and a second pass
// over the same page adds nothing. Input: one flag byte, then the page body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "engine/CaijiPageCon.h"
#include "engine/ContactRules.h"
#include "net/PageText.h"
#include "store/UntObject.h"
#include "text/RegExp.h"

using namespace vexo;
using namespace vexo::fuzz;

namespace {

constexpr std::string_view kHost = "www.shop-a.cn";

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool AllPiecesOf(const std::vector<std::string>& values, std::string_view page) {
    for (const std::string& value : values) {
        if (!Contains(page, value))
            return false;
    }
    return true;
}

bool IsCleared(const TComPanyInfo& record) {
    return record.Tel.empty() && record.Mob.empty() && record.EMail.empty() && record.qq.empty() &&
           record.ComName.empty() && record.Addr.empty() && record.weburl.empty() && record.source.empty() &&
           record.ispay == 0;
}

void CheckRecord(const TComPanyInfo& record, std::string_view page) {
    Check(IsValidUtf8(record.ComName), "the name is not UTF-8");
    Check(record.ComName.find_first_of(".?-_,") == std::string::npos, "the name keeps punctuation it drops");
    for (const auto* list : {&record.Tel, &record.Mob, &record.EMail, &record.qq}) {
        Check(AllValidUtf8(*list), "a contact value is not UTF-8");
        Check(AllDistinctIgnoringCase(*list), "a contact list holds a value twice");
        Check(AllPiecesOf(*list, page), "a contact value is not taken from the page");
    }
    for (const std::string& tel : record.Tel)
        Check(GbkLength(tel) >= kMinLandlineLength, "a landline is too short");
    for (const std::string& mobile : record.Mob)
        Check(mobile.size() == kMobileLength && AllDigits(mobile), "a mobile is not eleven digits");
    for (const std::string& email : record.EMail)
        Check(Contains(email, "@"), "an e-mail address without @");
    for (const std::string& qq : record.qq)
        Check(AllDigits(qq), "a QQ number that is not digits");
    Check(record.Addr.empty() ||
              (GbkLength(record.Addr) >= kMinAddressLength && Contains(page, record.Addr) && IsValidUtf8(record.Addr)),
          "the address breaks its rule");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t flags = data[0];
    const std::string page = DecodePageText(AsText(data + 1, size - 1), true);
    const TTitleRule rule = (flags & 1) != 0 ? TTitleRule::CompanyWord : TTitleRule::FirstTitle;

    // One set of rules and one adapter for the whole run, as a site thread keeps them for all its pages.
    static TContactRules rules;
    static TRegExp regExp;
    TComPanyInfo record;
    record.weburl = "http://www.shop-a.cn/";
    record.source = kSourceBaidu;
    record.ispay = 1;
    if ((flags & 2) != 0)
        record.SetComName("广州市某某电子科技有限公司");
    rules.TakeNameFromTitle(page, record, rule);
    Check(IsValidUtf8(record.ComName), "the title gives a name that is not UTF-8");

    const bool kept = rules.ExtractContacts(page, record);
    CheckRecord(record, page);
    if (!kept) {
        Check(IsCleared(record), "a refused record is not cleared");
    } else {
        Check(!IsNameBlank(record), "a kept record has no name");
        Check(!record.Tel.empty() || !record.Mob.empty(), "a kept record has no number");
        const TComPanyInfo first = record;
        Check(rules.ExtractContacts(page, record), "a second pass refuses a kept record");
        Check(record.Tel == first.Tel && record.Mob == first.Mob && record.EMail == first.EMail &&
                  record.qq == first.qq && record.Addr == first.Addr,
              "a second pass over the same page changes the record");
    }

    static constexpr TSiteVariant kVariants[] = {TSiteVariant::Baidu, TSiteVariant::So360, TSiteVariant::Sogou};
    const std::string link = FindContactLink(kVariants[(flags >> 2) % 3], page, kHost, regExp);
    if (!link.empty()) {
        Check(link.starts_with("http://"), "a contact link that is not absolute http");
        Check(IsValidUtf8(link), "a contact link that is not UTF-8");
        Check(link.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos, "a contact link not lower-cased");
    }
    return 0;
}
