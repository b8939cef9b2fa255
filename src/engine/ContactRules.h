// Contact extraction rules: turn the decoded text of one company page into the fields of a company record.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/UntObject.h"
#include "text/RegExp.h"

namespace vexo {

// How a blank company name is taken from the page title.
enum class TTitleRule {
    FirstTitle,   // the inner text of the first title element (Baidu site threads)
    CompanyWord,  // the part of a title naming a company ("公司", else "企业"); 360 and Sogou site threads
};

// Patterns applied to the whole page text, markup included.
inline constexpr std::string_view kTitlePattern = "<title[^>]*>[^>]*</title>";
inline constexpr std::string_view kLandlinePattern = R"((\d{3,4}-)?\d{7,8})";
inline constexpr std::string_view kLandlineFallbackPattern = R"((\d{3}-)(\d{3,4}-)(\d{3,4}))";
inline constexpr std::string_view kMobilePattern =
    R"((134|135|136|137|138|139|147|150|151|152|157|158|159|178|182|183|184|187|188|130|131|132|145|155|156|176|185|186|133|153|177|180|181|189)\d{8})";
inline constexpr std::string_view kEmailPattern = R"([A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,4})";
inline constexpr std::string_view kQQPattern = R"(uin=[\d]*&)";
inline constexpr std::string_view kAddressPattern = R"(地.*址\S*)";

// Values one page may add to one list of a record (the first ones found). A page with thousands of phone-like
// numbers is a catalogue, not a contact page, and its values would stay in memory and in the store for good.
inline constexpr std::size_t kMaxValuesPerPage = 100;

// Length limits, in GBK bytes.
inline constexpr std::size_t kMinLandlineLength = 11;
inline constexpr std::size_t kMobileLength = 11;
inline constexpr std::size_t kMinNameCandidateLength = 6;
inline constexpr std::size_t kMinAddressLength = 6;

// True when the record's name (GetComName) trimmed of bytes 0x00-0x20 is empty.
bool IsNameBlank(const TComPanyInfo& record);

// The rules with the regular-expression adapter they work with. One per calling thread; not shared.
class TContactRules {
  public:
    // If the record's name is blank, sets it from the page's title element by the given rule.
    void TakeNameFromTitle(std::string_view pageText, TComPanyInfo& record, TTitleRule rule);

    // Appends landlines, mobiles, e-mail addresses and QQ numbers to the record, at most kMaxValuesPerPage new ones
    // per list. When the record then has a name and a landline or mobile number, takes the address and returns
    // true; otherwise clears the record (ClearData) and returns false.
    bool ExtractContacts(std::string_view pageText, TComPanyInfo& record);

  private:
    // Appends to the list, in page order, the values (non-empty results of `value`) of the pattern's matches that
    // it does not hold yet ignoring letter case, until kMaxValuesPerPage were added. Returns the matches seen.
    std::size_t AddMatches(std::string_view pattern, std::string_view pageText, std::vector<std::string>& list,
                           const std::function<std::string(std::string_view)>& value);

    TRegExp regExp_;
};

// The address the address rule takes from a match of kAddressPattern; empty when it yields none long enough.
std::string AddressFromMatch(std::string_view match);

}  // namespace vexo
