// Contact extraction rules: company name from the title, numbers, e-mail, QQ and address from the page text.
#include "engine/ContactRules.h"

#include <utility>

#include "text/Gbk.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kTitleTextStart = ">";
constexpr std::string_view kTitleTextEnd = "<";
constexpr std::string_view kQQStart = "uin=";
constexpr std::string_view kQQEnd = "&";
constexpr std::string_view kCompanyWord = "公司";
constexpr std::string_view kEnterpriseWord = "企业";
// Searched from the end of a title head, in this order, for the start of the company's own name.
constexpr std::string_view kTitleSeparators = "_ -|";

std::string TitleInnerText(std::string_view titleMatch) {
    return TextBetween(kTitleTextStart, kTitleTextEnd, titleMatch);
}

// Splits the title text after each occurrence of word and appends, for every head, its part after the last
// separator (or the whole head when it has none).
void CollectCandidates(std::string_view text, std::string_view word, std::vector<std::string>& candidates) {
    for (std::size_t pos = text.find(word); pos != std::string_view::npos; pos = text.find(word)) {
        std::string_view head = text.substr(0, pos + word.size());
        std::string_view candidate;
        for (char separator : kTitleSeparators) {
            std::size_t last = head.rfind(separator);
            if (last != std::string_view::npos)
                candidate = head.substr(last + 1);
            if (!candidate.empty())
                break;
        }
        if (candidate.empty())
            candidate = head;
        candidates.emplace_back(candidate);
        text.remove_prefix(head.size());
    }
}

// The text after the first separator, or the whole text when it has none.
std::string_view AfterFirst(std::string_view text, std::string_view separator) {
    std::size_t pos = text.find(separator);
    return pos == std::string_view::npos ? text : text.substr(pos + separator.size());
}

std::string_view BeforeFirst(std::string_view text, std::string_view separator) {
    return text.substr(0, text.find(separator));
}

// The five transforms of the address rule, in order.
std::string_view TransformAddress(std::string_view match) {
    std::string_view text = AfterFirst(match, ">");
    text = AfterFirst(text, ":");
    text = AfterFirst(text, "：");
    text = AfterFirst(text, "址");
    return BeforeFirst(text, "<");
}

}  // namespace

bool IsNameBlank(const TComPanyInfo& record) {
    return Trim(record.GetComName()).empty();
}

std::string AddressFromMatch(std::string_view match) {
    std::string_view address = TransformAddress(match);
    if (GbkLength(address) < kMinAddressLength) {
        // "\S*" takes trailing markup such as "<br/>" into the match, whose ">" then leaves nothing; retry on the
        // match cut before its first tag. A table layout ("<td>地址</td><td>...") still yields nothing.
        address = TransformAddress(BeforeFirst(match, "<"));
    }
    return GbkLength(address) >= kMinAddressLength ? std::string(address) : std::string();
}

void TContactRules::Apply(std::string_view pattern, std::string_view pageText) {
    matches_ = regExp_.AllMatches(pattern, pageText);
}

void TContactRules::TakeNameFromTitle(std::string_view pageText, TComPanyInfo& record, TTitleRule rule) {
    if (!IsNameBlank(record))
        return;
    Apply(kTitlePattern, pageText);
    if (rule == TTitleRule::FirstTitle) {
        if (!matches_.empty())
            record.SetComName(TitleInnerText(matches_.front()));
        return;
    }

    std::vector<std::string> candidates;
    std::string result;
    for (const std::string& match : matches_) {
        std::string text = TitleInnerText(match);
        if (text.empty())
            continue;
        result = text;
        CollectCandidates(text, kCompanyWord, candidates);
        if (candidates.empty())
            CollectCandidates(text, kEnterpriseWord, candidates);
    }
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        if (GbkLength(*it) >= kMinNameCandidateLength) {
            result = *it;
            break;
        }
    }
    // Without any title this stores an empty name, which is as blank as before.
    record.SetComName(result);
    if (IsNameBlank(record) && !matches_.empty())
        record.SetComName(TitleInnerText(matches_.front()));
}

bool TContactRules::ExtractContacts(std::string_view pageText, TComPanyInfo& record) {
    // The fallback landline pattern is tried only when the first finds nothing at all, even if every match of the
    // first is too short to keep.
    // Values are added in bulk (AddAllUnique, the same as AddTel and its siblings one by one) so that a page with
    // very many numbers does not cost a comparison of every value with every other.
    std::vector<std::string> kept;
    Apply(kLandlinePattern, pageText);
    if (matches_.empty())
        Apply(kLandlineFallbackPattern, pageText);
    for (std::string& match : matches_) {
        if (GbkLength(match) >= kMinLandlineLength)
            kept.push_back(std::move(match));
    }
    AddAllUnique(record.Tel, kept);

    kept.clear();
    Apply(kMobilePattern, pageText);
    for (std::string& match : matches_) {
        if (GbkLength(match) == kMobileLength)
            kept.push_back(std::move(match));
    }
    AddAllUnique(record.Mob, kept);

    Apply(kEmailPattern, pageText);
    AddAllUnique(record.EMail, matches_);

    kept.clear();
    Apply(kQQPattern, pageText);
    for (const std::string& match : matches_) {
        std::string number = TextBetween(kQQStart, kQQEnd, match);
        if (!number.empty())
            kept.push_back(std::move(number));
    }
    AddAllUnique(record.qq, kept);

    if (IsNameBlank(record) || (record.Tel.empty() && record.Mob.empty())) {
        record.ClearData();
        return false;
    }

    Apply(kAddressPattern, pageText);
    if (!matches_.empty()) {
        std::string address = AddressFromMatch(matches_.front());
        if (!address.empty())
            record.Addr = address;
    }
    return true;
}

}  // namespace vexo
