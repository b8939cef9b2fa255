// A fixed simulated web to try the program on without the Internet: three keywords on the three engines, a few
// result pages each, the advertisers' sites with their contact pages in several layouts and in GBK or UTF-8, their
// filings, and a configuration server that announces no update. The content is the same on every run: nothing
// random, no clock.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimEngines.h"
#include "sim/SimWeb.h"

namespace vexo::sim {

inline constexpr char kDemoConfigHost[] = "config.sim-vendor.cn";

// The keywords the result pages list advertisers for; any other keyword gets empty result pages.
inline constexpr std::string_view kDemoKeywords[] = {"广州 电子公司", "上海 网络公司", "深圳 机械设备"};

// Result pages with entries per engine and keyword; the pages after them are empty.
inline constexpr int kDemoPagesPerEngine = 3;

// How an advertiser's contact details are laid out.
enum class TContactLayout {
    Paragraphs,  // one <p> per detail on the contact page
    Table,       // a two-column table on the contact page
    Footer,      // in the footer of the home page (and of the contact page)
    BreakList,   // one block of lines separated by <br/> on the contact page
};

struct TDemoSite {
    std::size_t Company = 0;  // index for TSimEngines::Company
    std::string Keyword;      // the keyword whose result pages list it
    TContactLayout Layout = TContactLayout::Paragraphs;
    bool Gbk = false;  // pages in GBK (else UTF-8)
};

class TDemoWeb {
  public:
    // Serves everything on `web`, which must outlive the object.
    explicit TDemoWeb(TSimWeb& web);
    TDemoWeb(const TDemoWeb&) = delete;
    TDemoWeb& operator=(const TDemoWeb&) = delete;

    const TSimEngines& Engines() const { return engines_; }
    // Every advertiser, in the order they were added.
    const std::vector<TDemoSite>& Sites() const { return sites_; }

    // A qzclient.cfg naming the simulated services (engines, filing, configuration), with the first-start
    // launcher marked as done.
    static std::string ClientConfig();
    // The plain text (GBK XML) the configuration server's envelope holds.
    static std::string ConfigXml();

  private:
    void AddSite(std::size_t keywordIndex, int number);
    void ServeLayout(const TDemoSite& site, int number);

    TSimWeb& web_;
    TSimEngines engines_;
    std::vector<TDemoSite> sites_;
};

}  // namespace vexo::sim
