// The 360 result collector, and the anchor collector it shares with the Sogou one: result pages walked one after
// another from the keyword's cursor, the addresses of the promoted entries and of the other outside links taken
// from each page's anchors, and one company-site thread started for every address. The collector never runs out
// of pages: it runs until its termination is requested or a result page cannot be fetched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/CaijiPageCon.h"
#include "engine/ResultCollector.h"
#include "net/HttpClient.h"
#include "text/RegExp.h"

namespace vexo {

// 360's two own domains: its search site's and its company's (the click service lies under the first).
inline constexpr std::string_view k360SearchDomain = "so.com";
inline constexpr std::string_view k360CompanyDomain = "360.cn";

// Any anchor whose tag holds an http address.
inline constexpr std::string_view kOutsideLinkPattern = R"(<a[^>]*http://[^>]*>(?:.|[\r\n])*?</a>)";

// What distinguishes the engines that collect from anchors.
struct TAnchorEngine {
    int Engine;  // kEngine360 or kEngineSogou: gates and source name
    TSiteVariant SiteVariant;
    THttpSettings (*HttpSettings)();
    std::string_view DefaultSearchHost;  // used when the settings name none
    // Path and query of a result page up to the encoded keyword, and the key of the page number that follows.
    std::string_view QueryStart;
    std::string_view PageKey;
    // Host in the promoted-entry pattern; empty: the search host.
    std::string_view PromotedHost;
    std::string_view PromotedPath;
    // An anchor containing one of these is never taken as an outside link.
    std::span<const std::string_view> OwnDomains;
};

// The pattern of a promoted entry's anchor: the engine's promoted host (else the search host) and path, verbatim.
std::string PromotedAnchorPattern(const TAnchorEngine& engine, std::string_view searchHost);

// The addresses a decoded result page (UTF-8) offers, in order of finding, without two that are equal ignoring
// letter case: those of the anchors matching promotedPattern, then those of the other anchors with an http address
// that contain none of ownDomains. Read with the caller's adapter.
std::vector<std::string> ReadAnchorResultPage(std::string_view pageText, std::string_view promotedPattern,
                                              std::span<const std::string_view> ownDomains, TRegExp& regExp);

class TAnchorCollector : public TResultCollector {
  protected:
    TAnchorCollector(const TAnchorEngine& engine, TWindowHandle window, std::string keyword, std::int32_t startPage,
                     TCollectorSettings settings);

    void Execute() override;

  private:
    // Address of the result page with that 0-based number.
    std::string PageAddress(std::int32_t page) const;
    // Fetches and reads the page: its addresses in order of finding, without duplicates. Nothing when
    // termination was requested during the fetch. A failed fetch throws EHttpError.
    std::optional<std::vector<std::string>> ReadPage(std::int32_t page);
    void StartSiteThreads(const std::vector<std::string>& addresses);

    const TAnchorEngine& engine_;
    const std::string promotedPattern_;
    THttpClient http_;
    std::string buffer_;  // body of the result page
    TRegExp regExp_;
};

// The 360 engine as its collector reads it (also for reading its pages without a collector).
extern const TAnchorEngine k360Engine;

class TCaiji360 : public TAnchorCollector {
  public:
    // settings.SearchHost: the 360 web-search host[:port]; settings.IcpHost goes to the site threads.
    TCaiji360(TWindowHandle window, std::string keyword, std::int32_t startPage, TCollectorSettings settings);
};

}  // namespace vexo
