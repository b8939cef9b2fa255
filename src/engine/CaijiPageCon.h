// The company-site thread: follows one search entry's link to the advertiser's site, fixes the site address and
// the company name, looks for a contact page, applies the contact rules to it and, where needed, to the home page,
// and hands finished records to the main window. One class serves the three engines; the variant selects the
// client, the attempts, the paid-click test, the title rule, the contact-link patterns and the closing steps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ContactRules.h"
#include "engine/GetBeiAn.h"
#include "engine/Notify.h"
#include "net/HttpClient.h"
#include "platform/WorkerThread.h"
#include "store/UntObject.h"
#include "text/RegExp.h"

namespace vexo {

// The engines' own domains.
inline constexpr std::string_view kBaiduWebDomain = "baidu.com";
inline constexpr std::string_view k360ClickHost = "e.so.com";
inline constexpr std::string_view kSogouDomain = "sogou.com";

// What follows the engine's domain in a paid-click link.
inline constexpr std::string_view kBaiduPayPath = "/baidu.php";
inline constexpr std::string_view k360PayPath = "/search/eclk?";
inline constexpr std::string_view kSogouPayPath = "/bill_cpc?";

// Status texts of a site visit; the first three are followed by an address.
inline constexpr std::string_view kStatusEnteringSite = "正在进入企业网站:";
inline constexpr std::string_view kStatusAnalysingSite = "正在分析企业详细信息:";
inline constexpr std::string_view kStatusContactPage = "正在提取联系方式:";
inline constexpr std::string_view kStatusFetchingPage = "开始获取企业详细信息...";
inline constexpr std::string_view kStatusPageNameOpen = "正在获取[";
inline constexpr std::string_view kStatusPageNameClose = "]详细信息...";
inline constexpr std::string_view kStatusSiteDone = "企业信息采集完成";

// Contact-link patterns, tried in order on the home page until one matches.
inline constexpr std::string_view kContactLinkPatterns[] = {
    "<a[^>]*>[^>]*联系我们[^>]*</a>",
    "<a[^>]*>[^>]*联系方式[^>]*</a>",
    "<a[^>]*>[^>]*关于我们[^>]*</a>",
    "<a[^>]*>[^>]*联系[^>]*</a>",
};
// The Sogou site thread looks for this one only.
inline constexpr std::string_view kSogouContactLinkPatterns[] = {"<a[^>]*>联系我们</a>"};

inline constexpr int kBaiduFirstFetchAttempts = 4;
inline constexpr int kBaiduRetryPauseMs = 100;

enum class TSiteVariant { Baidu, So360, Sogou };

// Parameters of a Baidu site thread, built by the Baidu result collector.
struct TPagePara {
    TWindowHandle window;  // target of all notifications
    std::string cookie;    // value for the "Cookie" header of every request
    std::string link;      // the entry's link, visited first
    std::string title;     // the entry's title or certification label
    std::uint8_t certified = 0;
    std::string keyword;
};

// The address of a decoded home page's contact link: the first anchor matching the first of the variant's
// contact-link patterns that matches at all, resolved against the site root of host; empty when none matches. Read
// with the caller's adapter.
std::string FindContactLink(TSiteVariant variant, std::string_view homeText, std::string_view host, TRegExp& regExp);

class TCaijiPageCon : public TWorkerThread {
  public:
    // Baidu variant. `icpHost` is the filing lookup service (empty: no lookup).
    TCaijiPageCon(const TPagePara& para, std::string icpHost);
    // 360 and Sogou variants.
    TCaijiPageCon(TSiteVariant variant, TWindowHandle window, std::string keyword, std::string link,
                  std::string icpHost);

    // The engine and result page of the entry, handed over with the record; set before the thread starts.
    void SetResultOrigin(int engine, std::int32_t page) {
        record_.ResultEngine = static_cast<std::int8_t>(engine);
        record_.ResultPage = page;
    }

  protected:
    void Execute() override;

  private:
    // The record fields fixed before any page is examined; they outlive a clearing by the contact rules.
    struct TVisitFields {
        std::string ComName;
        std::string weburl;
        std::string source;
        std::uint8_t ispay = 0;
    };

    // Fetches the entry's link into the buffer with the variant's attempts; false when the run must end.
    bool FetchFirstPage();
    // Examines one page with the simple client; sends the record when the page completes it.
    void ExtractPage(const std::string& address);
    bool HomePageNeeded() const;
    void SendStatus(std::string text);
    void SendRecord();

    const TSiteVariant variant_;
    const TWindowHandle window_;
    const std::string cookie_;
    const std::string link_;
    const std::string title_;
    const std::uint8_t certified_;

    THttpClient http_;
    std::string buffer_;  // body of the first page
    TRegExp regExp_;      // contact-link search
    TContactRules rules_;
    TComPanyInfo record_;
    TBeiAn beiAn_;
    std::string statusText_;
    TVisitFields visit_;
};

}  // namespace vexo
