// The three search engines, their click redirections, advertisers' sites and a filing service on a simulated web:
// enough of each for the result collectors to take entries, visit the sites and hand records over. Result pages
// are laid out per engine, keyword and page; a page without entries is served too, so collectors walk on until
// they are stopped.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "engine/StartGate.h"
#include "sim/SimWeb.h"

namespace vexo::sim {

inline constexpr char kSimBaiduHost[] = "www.baidu.com";
inline constexpr char kSimSoHost[] = "www.so.com";
inline constexpr char kSimSogouHost[] = "www.sogou.com";
inline constexpr char kSimIcpHost[] = "icp.sim-filing.cn";

struct TSimCompany {
    std::string Host;  // the site, "www.<domain>"; its home page links to /contact.html
    std::string Name;  // the filing's sponsor, and the certified title of a Baidu advert
    std::string Mobile;
    std::string Landline;
    std::string Email;
    std::string QQ;
    std::string Address;
};

struct TSimEntry {
    std::size_t Company = 0;
    // Reached through the engine's paid-click address (a certified advert on Baidu); otherwise an ordinary
    // result (Baidu: through its link redirection; 360 and Sogou: a direct outside link).
    bool Paid = false;
};

// Engine numbers as the collectors use them: 0 Baidu, 1 Sogou, 2 360.
class TSimEngines {
  public:
    explicit TSimEngines(TSimWeb& web);
    // Stops the web first: its handlers point here.
    ~TSimEngines();
    TSimEngines(const TSimEngines&) = delete;
    TSimEngines& operator=(const TSimEngines&) = delete;

    // Serves the company's site and its filing; returns its index for TSimEntry.
    std::size_t AddCompany(TSimCompany company);
    const TSimCompany& Company(std::size_t index) const;
    // The entries of result page `page` (0-based) of the engine for the keyword.
    void SetPage(int engine, const std::string& keyword, int page, std::vector<TSimEntry> entries);

    struct TPageRequest {
        std::string Keyword;  // decoded from the query
        int Page = 0;
        std::chrono::steady_clock::time_point Time;
    };
    // Result-page requests of the engine, in arrival order.
    std::vector<TPageRequest> PageRequests(int engine) const;
    // Requests through the engine's click and link redirections (one per site visit of that engine), in order.
    std::vector<TSimRequest> ClickRequests(int engine) const;

  private:
    TSimResponse ResultPage(int engine, const TSimRequest& request);
    std::string PageHtml(int engine, const std::vector<TSimEntry>& entries) const;

    TSimWeb& web_;
    mutable std::mutex mutex_;
    std::vector<TSimCompany> companies_;
    std::map<std::tuple<int, std::string, int>, std::vector<TSimEntry>> pages_;
    std::vector<std::pair<int, TPageRequest>> pageRequests_;
};

// Every engine's result-page and site gates take these timings, with their stamps cleared, for the object's
// lifetime; the real timings come back afterwards.
class TScopedGateTimings {
  public:
    TScopedGateTimings(TGateTiming resultPage, TGateTiming site);
    ~TScopedGateTimings();
    TScopedGateTimings(const TScopedGateTimings&) = delete;
    TScopedGateTimings& operator=(const TScopedGateTimings&) = delete;
};

}  // namespace vexo::sim
