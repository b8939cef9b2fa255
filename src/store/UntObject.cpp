// TComPanyInfo: name normalisation and duplicate-free contact lists.
#include "store/UntObject.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "text/CaseFold.h"
#include "text/Gbk.h"

namespace vexo {

namespace {

// Returned for an empty name, so that every reader sees a non-empty text.
constexpr std::string_view kEmptyNameText = " ";

struct TNameEdit {
    std::string_view from;
    std::string_view to;
};

// Applied in this order. The captions are the link texts by which contact pages are found, so a name taken
// from such a page's title carries them; the longer captions go before "联系" so that no "方式" is left behind.
// None of these texts has a case form, so an exact search is the same as one ignoring letter case, and on UTF-8
// it matches whole characters only.
constexpr std::array<TNameEdit, 9> kNameEdits{{
    {"联系方式", ""},
    {"联系我们", ""},
    {"关于我们", ""},
    {"联系", ""},
    {".", ""},
    {"?", ""},
    {"-", ""},
    {"_", ""},
    {",", " "},
}};

// One left-to-right pass replacing every non-overlapping occurrence; the output is not searched again.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t pos = text.find(from); pos != std::string_view::npos; pos = text.find(from, start)) {
        out.append(text.substr(start, pos - start));
        out.append(to);
        start = pos + from.size();
    }
    out.append(text.substr(start));
    return out;
}

void AddUnique(std::vector<std::string>& list, std::string_view value) {
    bool present =
        std::any_of(list.begin(), list.end(), [&](const std::string& entry) { return SameIgnoringCase(entry, value); });
    if (!present)
        list.emplace_back(value);
}

std::string NormaliseComName(std::string_view name) {
    // Characters without a GBK form become "?" first, which the "?" edit then removes: names stay the same
    // duplicate keys whatever encoding the page came in.
    std::string text = ToGbkRepertoire(name);
    for (const TNameEdit& edit : kNameEdits)
        text = ReplaceAll(text, edit.from, edit.to);
    return text;
}

}  // namespace

std::string TComPanyInfo::GetComName() const {
    return ComName.empty() ? std::string(kEmptyNameText) : ComName;
}

void TComPanyInfo::SetComName(std::string_view name) {
    ComName = NormaliseComName(name);
}

void TComPanyInfo::AddTel(std::string_view value) {
    AddUnique(Tel, value);
}
void TComPanyInfo::AddMobile(std::string_view value) {
    AddUnique(Mob, value);
}
void TComPanyInfo::AddEmail(std::string_view value) {
    AddUnique(EMail, value);
}
void TComPanyInfo::AddQQ(std::string_view value) {
    AddUnique(qq, value);
}

void AddAllUnique(std::vector<std::string>& list, const std::vector<std::string>& values) {
    // Equal ignoring letter case means equal case foldings, so the foldings seen so far decide.
    std::unordered_set<std::string> folded;
    folded.reserve(list.size() + values.size());
    for (const std::string& entry : list)
        folded.insert(CaseFold(entry));
    for (const std::string& value : values) {
        if (folded.insert(CaseFold(value)).second)
            list.push_back(value);
    }
}

void TComPanyInfo::ClearData() {
    Tel.clear();
    Mob.clear();
    EMail.clear();
    qq.clear();
    SetComName("");
    Addr.clear();
    weburl.clear();
    source.clear();
    ispay = 0;
}

void TComPanyInfo::AssignFrom(const TComPanyInfo& other) {
    SetComName(other.GetComName());
    Addr = other.Addr;
    weburl = other.weburl;
    source = other.source;
    ispay = other.ispay;
    renzheng = other.renzheng;
    Tel = other.Tel;
    Mob = other.Mob;
    EMail = other.EMail;
    qq = other.qq;
}

}  // namespace vexo
