// The company-site thread of all three engines.
#include "engine/CaijiPageCon.h"

#include <chrono>
#include <span>
#include <utility>

#include "net/PageText.h"
#include "net/SimpleHttp.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kCookieHeader = "Cookie";

// What distinguishes the three variants.
struct TVariantRules {
    const char* source;
    std::string_view payDomain;
    std::string_view payPath;
    int attempts;
    // 360 and Sogou honour a termination request right after their single fetch.
    bool stopAfterFetch;
    TTitleRule titleRule;
    std::span<const std::string_view> contactPatterns;
    // Baidu examines the home page when the record has neither a landline nor a mobile, the others when it
    // lacks either.
    bool homeUnlessBoth;
    bool finalStatus;
};

const TVariantRules& RulesOf(TSiteVariant variant) {
    static const TVariantRules kBaidu{.source = kSourceBaidu,
                                      .payDomain = kBaiduWebDomain,
                                      .payPath = kBaiduPayPath,
                                      .attempts = kBaiduFirstFetchAttempts,
                                      .stopAfterFetch = false,
                                      .titleRule = TTitleRule::FirstTitle,
                                      .contactPatterns = kContactLinkPatterns,
                                      .homeUnlessBoth = false,
                                      .finalStatus = true};
    static const TVariantRules k360{.source = kSource360,
                                    .payDomain = k360ClickHost,
                                    .payPath = k360PayPath,
                                    .attempts = 1,
                                    .stopAfterFetch = true,
                                    .titleRule = TTitleRule::CompanyWord,
                                    .contactPatterns = kContactLinkPatterns,
                                    .homeUnlessBoth = true,
                                    .finalStatus = false};
    static const TVariantRules kSogou{.source = kSourceSogou,
                                      .payDomain = kSogouDomain,
                                      .payPath = kSogouPayPath,
                                      .attempts = 1,
                                      .stopAfterFetch = true,
                                      .titleRule = TTitleRule::CompanyWord,
                                      .contactPatterns = kSogouContactLinkPatterns,
                                      .homeUnlessBoth = true,
                                      .finalStatus = false};
    switch (variant) {
        case TSiteVariant::Baidu:
            return kBaidu;
        case TSiteVariant::So360:
            return k360;
        case TSiteVariant::Sogou:
            break;
    }
    return kSogou;
}

bool IsPaidLink(std::string_view link, const TVariantRules& rules) {
    std::string marker(rules.payDomain);
    marker += rules.payPath;
    return link.find(marker) != std::string_view::npos;
}

}  // namespace

std::string FindContactLink(TSiteVariant variant, std::string_view homeText, std::string_view host, TRegExp& regExp) {
    for (std::string_view pattern : RulesOf(variant).contactPatterns) {
        const std::vector<std::string> anchors = regExp.AllMatches(pattern, homeText);
        if (!anchors.empty()) {
            // An anchor without a usable href resolves to the site root, which is then examined.
            return ResolveLink(host, ExtractHref(anchors.front()));
        }
    }
    return {};
}

TCaijiPageCon::TCaijiPageCon(const TPagePara& para, std::string icpHost)
    : variant_(TSiteVariant::Baidu),
      window_(para.window),
      cookie_(para.cookie),
      link_(para.link),
      title_(para.title),
      certified_(para.certified != 0 ? 1 : 0),
      http_(HttpPreset::BaiduSiteThread()),
      beiAn_(std::move(icpHost)) {
    record_.Keyword = para.keyword;
}

TCaijiPageCon::TCaijiPageCon(TSiteVariant variant, TWindowHandle window, std::string keyword, std::string link,
                             std::string icpHost)
    : variant_(variant),
      window_(std::move(window)),
      link_(std::move(link)),
      certified_(0),
      http_(HttpPreset::OtherSiteThread()),
      beiAn_(std::move(icpHost)) {
    record_.Keyword = std::move(keyword);
}

void TCaijiPageCon::Execute() {
    const TVariantRules& rules = RulesOf(variant_);
    if (variant_ == TSiteVariant::Baidu) {
        http_.SetHeader(std::string(kCookieHeader), cookie_);
    }
    SendStatus(std::string(kStatusEnteringSite) + link_);
    if (!FetchFirstPage() || buffer_.empty()) {
        return;
    }
    // The body's share of the page budget stays with its text until the text is dropped.
    TPageLease homeLease = http_.TakePageLease();
    std::string homeText = DecodePageText(buffer_, true);
    std::string().swap(buffer_);  // a body may be tens of MiB; the decoded text is all that is needed

    record_.ClearData();
    const std::string weburl = http_.LastUrl();
    const std::string host = http_.LastHost();
    if (IsEngineDomain(weburl)) {
        return;  // the link never left the search engine
    }
    // 360 and Sogou have no entry title, and only Baidu entries can be certified.
    std::string name = title_;
    if (certified_ == 0) {
        std::string filingName = beiAn_.FindFilingName(weburl);
        if (!filingName.empty()) {
            name = std::move(filingName);
        }
    }
    record_.weburl = weburl;
    record_.renzheng = certified_;
    record_.source = rules.source;
    record_.SetComName(name);
    record_.ispay = IsPaidLink(link_, rules) ? 1 : 0;
    visit_ = {record_.ComName, record_.weburl, record_.source, record_.ispay};

    SendStatus(std::string(kStatusAnalysingSite) + weburl);
    if (Terminated()) {
        return;
    }
    const std::string contactAddress = FindContactLink(variant_, homeText, host, regExp_);
    std::string().swap(homeText);  // not needed any more, and the contact page may take minutes
    homeLease.Release();
    if (!contactAddress.empty()) {
        SendStatus(std::string(kStatusContactPage) + contactAddress);
        ExtractPage(contactAddress);
    }
    if (Terminated()) {
        return;
    }
    if (HomePageNeeded()) {
        ExtractPage(weburl);
    }
    if (rules.finalStatus) {
        SendStatus(std::string(kStatusSiteDone));
    }
}

bool TCaijiPageCon::FetchFirstPage() {
    const TVariantRules& rules = RulesOf(variant_);
    for (int attempt = 1;; ++attempt) {
        buffer_.clear();
        try {
            http_.Get(link_, buffer_);
            break;
        } catch (const EHttpError&) {
            // A failed request ends the step; only Baidu tries again.
            buffer_.clear();
            if (attempt >= rules.attempts) {
                return false;
            }
            http_.Disconnect();
            if (!Sleep(std::chrono::milliseconds(kBaiduRetryPauseMs))) {
                return false;
            }
        }
    }
    return !(rules.stopAfterFetch && Terminated());
}

void TCaijiPageCon::ExtractPage(const std::string& address) {
    SendStatus(std::string(kStatusFetchingPage));
    std::string pageText;
    TPageLease pageLease;  // held while the text is read
    if (!SimpleGetText(address, pageText, pageLease)) {
        return;
    }
    rules_.TakeNameFromTitle(pageText, record_, RulesOf(variant_).titleRule);
    SendStatus(std::string(kStatusPageNameOpen) + record_.GetComName() + std::string(kStatusPageNameClose));
    if (rules_.ExtractContacts(pageText, record_)) {
        SendRecord();
        return;
    }
    // The rules cleared the record; a later page of this visit still belongs to the same site and entry.
    record_.ComName = visit_.ComName;
    record_.weburl = visit_.weburl;
    record_.source = visit_.source;
    record_.ispay = visit_.ispay;
}

bool TCaijiPageCon::HomePageNeeded() const {
    if (RulesOf(variant_).homeUnlessBoth) {
        return record_.Tel.empty() || record_.Mob.empty();
    }
    return record_.Tel.empty() && record_.Mob.empty();
}

void TCaijiPageCon::SendStatus(std::string text) {
    statusText_ = std::move(text);
    if (window_) {
        SendToUi([&] { window_->Deliver({kMsgCaiji, kCaijiStatusLine, &statusText_}); });
    }
}

void TCaijiPageCon::SendRecord() {
    if (window_ && !Terminated()) {
        SendToUi([&] { window_->Deliver({kMsgCaiji, kCaijiRecord, &record_}); });
    }
}

}  // namespace vexo
