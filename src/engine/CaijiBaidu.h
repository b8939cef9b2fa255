// The Baidu result collector: walks Baidu's result pages for one keyword from its stored page cursor on, takes the
// certified advertising blocks and the data-tools result blocks of every page, and starts a company-site thread for
// each of them. It never runs out of pages: it runs until its termination is requested.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ResultCollector.h"
#include "net/HttpClient.h"
#include "text/RegExp.h"

namespace vexo {

inline constexpr int kBaiduPageAttempts = 3;
inline constexpr int kBaiduPageRetryPauseMs = 100;
// A result page body of at most this many bytes is not counted and is asked for again.
inline constexpr std::size_t kBaiduShortPageBytes = 1500;
// Receives the decoded text of every counted result page, in the working directory (GBK, CR LF).
inline constexpr std::string_view kResultPageFile = "2.txt";

// The part of a result page that holds the entries.
inline constexpr std::string_view kBaiduRegionStart = "id=\"content_left\"";
inline constexpr std::string_view kBaiduRegionEnd = "id=\"page\"";
// An advertising block, from its opening tag to the nearest following label "推广".
inline constexpr std::string_view kBaiduCertifiedBlockPattern = R"(<div id="[^>]*(data-click=)[^>]*>([\s\S]*?)推广)";
// A result block, from its opening tag to the nearest following snapshot link "快照".
inline constexpr std::string_view kBaiduDataToolsBlockPattern = R"(<div[^>]*(srcid=)[^>]*>([\s\S]*?)(快照))";

// One entry of a Baidu result page: what a site thread starts with.
struct TBaiduEntry {
    std::string Link;
    std::string Title;
    std::uint8_t Certified = 0;
};

// The part of a decoded result page (UTF-8) that holds the entries: between kBaiduRegionStart and kBaiduRegionEnd.
std::string BaiduEntryRegion(std::string_view pageText);
// The entries of the region's advertising blocks, in page order, all certified; blocks without a link are left out.
// Read with the caller's adapter.
std::vector<TBaiduEntry> ReadBaiduCertifiedBlocks(std::string_view region, TRegExp& regExp);
// The entries of the region's result blocks, in page order, certified when they carry a hint label; blocks without a
// link are left out. Read with the caller's adapter.
std::vector<TBaiduEntry> ReadBaiduDataToolsBlocks(std::string_view region, TRegExp& regExp);

class TCaijiBaidu : public TResultCollector {
  public:
    // settings.SearchHost: the web-search host[:port] (empty: the default one); settings.IcpHost goes to the site
    // threads.
    TCaijiBaidu(TWindowHandle window, std::string keyword, std::int32_t startPage, TCollectorSettings settings);

  protected:
    void Execute() override;

  private:
    // Address of the result page with that 0-based number.
    std::string PageUrl(std::int32_t page) const;
    // Fetches, decodes and examines the page at the cursor; false when it does not count.
    bool FetchAndProcessPage();
    // Up to kBaiduPageAttempts tries; false when none succeeded or termination was requested after a failure.
    bool FetchPage(const std::string& url);
    // Starts a site thread for each entry in turn; stops at the first that cannot be started.
    void StartSites(const std::vector<TBaiduEntry>& entries);
    // Waits for the site gate and starts a site thread for the entry; false when the pass must end.
    bool StartSite(std::string link, std::string title, std::uint8_t certified);

    THttpClient http_;
    std::string buffer_;  // body of the result page
    TRegExp regExp_;
    // Cookie header of the latest result-page request, handed to the site threads.
    std::string keptCookie_;
};

}  // namespace vexo
