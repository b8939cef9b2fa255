// ICP filing lookup: the name of the organisation a site's domain is filed under, from a lookup web service.
#pragma once

#include <string>
#include <string_view>

#include "net/HttpClient.h"
#include "text/RegExp.h"

namespace vexo {

// Request path of the lookup service: kBeiAnPath + domain + "/".
inline constexpr std::string_view kBeiAnPath = "/yuming/";
// Labels after which the domain starts one label earlier ("a.X.com.cn" -> "X.com.cn").
inline constexpr std::string_view kDomainSuffixLabels[] = {"com", "cn",  "net", "org", "tk",
                                                           "gov", "edu", "biz", "info"};
inline constexpr std::string_view kSponsorLabel = "主办单位";
inline constexpr std::string_view kSiteNameLabel = "网站名称";
inline constexpr std::string_view kBeiAnRowPattern = R"(<tr>([\s\S]*?)</tr>)";
// A name must be longer than this many GBK bytes to be used (five Chinese characters are too short).
inline constexpr std::size_t kMinFilingNameLength = 10;

// The filing name in a lookup answer (the body as received; a body that is not UTF-8 gives none). A row's value is
// the trimmed text between its first "<td>" and the next "</td>", wherever the label stands. The value of the last
// sponsor row before the first site-name row when longer than kMinFilingNameLength GBK bytes, else that of the
// site-name row when longer, else empty. Read with the caller's adapter.
std::string ReadFilingAnswer(std::string_view answer, TRegExp& regExp);

class TBeiAn {
  public:
    // `serviceHost` is the lookup service's host[:port]; empty means no service: no request, no name.
    explicit TBeiAn(std::string serviceHost);

    // The filing's sponsor or site name (longer than 10 GBK bytes), else empty. A failed request (connection,
    // time-out, status outside 2xx) also gives empty: the caller keeps the name it had.
    std::string FindFilingName(const std::string& siteAddress);

    // The domain the service is asked for; empty when none can be built.
    static std::string DomainOf(const std::string& siteAddress);

  private:
    TRegExp regExp_;
    THttpClient http_;
    std::string host_;
};

}  // namespace vexo
