// Contact extraction rules: company name from the title, numbers, e-mail, QQ and address from the page text.
#include "engine/ContactRules.h"

#include <optional>
#include <unordered_set>
#include <utility>

#include "text/CaseFold.h"
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

// Splits the title text after each occurrence of word and hands over, for every head, its part after the last
// separator (or the whole head when it has none).
template <typename OnCandidate>
void ForEachCandidate(std::string_view text, std::string_view word, OnCandidate onCandidate) {
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
        onCandidate(candidate);
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

void TContactRules::TakeNameFromTitle(std::string_view pageText, TComPanyInfo& record, TTitleRule rule) {
    if (!IsNameBlank(record))
        return;
    // Titles are taken one at a time, and of the candidates only the last one long enough can win, so a page of
    // countless titles costs no list of them.
    bool anyTitle = false;
    std::string firstText;  // inner text of the first title
    std::string result;     // inner text of the last non-empty title
    bool anyCandidate = false;
    std::optional<std::string> lastLongCandidate;
    regExp_.ForEachMatch(kTitlePattern, pageText, [&](std::string_view match) {
        std::string text = TitleInnerText(match);
        if (!anyTitle) {
            anyTitle = true;
            firstText = text;
            if (rule == TTitleRule::FirstTitle)
                return false;
        }
        if (text.empty())
            return true;
        auto take = [&](std::string_view candidate) {
            anyCandidate = true;
            if (GbkLength(candidate) >= kMinNameCandidateLength)
                lastLongCandidate = std::string(candidate);
        };
        ForEachCandidate(text, kCompanyWord, take);
        // The other word only while no title so far gave a candidate.
        if (!anyCandidate)
            ForEachCandidate(text, kEnterpriseWord, take);
        result = std::move(text);
        return true;
    });
    if (rule == TTitleRule::FirstTitle) {
        if (anyTitle)
            record.SetComName(firstText);
        return;
    }
    // Without any title this stores an empty name, which is as blank as before.
    record.SetComName(lastLongCandidate ? *lastLongCandidate : result);
    if (IsNameBlank(record) && anyTitle)
        record.SetComName(firstText);
}

std::size_t TContactRules::AddMatches(std::string_view pattern, std::string_view pageText,
                                      std::vector<std::string>& list,
                                      const std::function<std::string(std::string_view)>& value) {
    // Equal ignoring letter case means equal case foldings (as AddTel and its siblings compare), so the foldings
    // seen so far decide; matches are taken one at a time, so a page with millions of them costs no list of them.
    std::unordered_set<std::string> folded;
    for (const std::string& entry : list)
        folded.insert(CaseFold(entry));
    std::size_t matches = 0;
    std::size_t added = 0;
    regExp_.ForEachMatch(pattern, pageText, [&](std::string_view match) {
        ++matches;
        std::string kept = value(match);
        if (!kept.empty() && folded.insert(CaseFold(kept)).second) {
            list.push_back(std::move(kept));
            ++added;
        }
        return added < kMaxValuesPerPage;
    });
    return matches;
}

bool TContactRules::ExtractContacts(std::string_view pageText, TComPanyInfo& record) {
    // The fallback landline pattern is tried only when the first finds nothing at all, even if every match of the
    // first is too short to keep.
    auto landline = [](std::string_view match) {
        return GbkLength(match) >= kMinLandlineLength ? std::string(match) : std::string();
    };
    if (AddMatches(kLandlinePattern, pageText, record.Tel, landline) == 0)
        AddMatches(kLandlineFallbackPattern, pageText, record.Tel, landline);
    AddMatches(kMobilePattern, pageText, record.Mob, [](std::string_view match) {
        return GbkLength(match) == kMobileLength ? std::string(match) : std::string();
    });
    AddMatches(kEmailPattern, pageText, record.EMail, [](std::string_view match) { return std::string(match); });
    AddMatches(kQQPattern, pageText, record.qq,
               [](std::string_view match) { return TextBetween(kQQStart, kQQEnd, match); });

    if (IsNameBlank(record) || (record.Tel.empty() && record.Mob.empty())) {
        record.ClearData();
        return false;
    }

    // Only the first match counts.
    regExp_.ForEachMatch(kAddressPattern, pageText, [&record](std::string_view match) {
        std::string address = AddressFromMatch(match);
        if (!address.empty())
            record.Addr = std::move(address);
        return false;
    });
    return true;
}

}  // namespace vexo
