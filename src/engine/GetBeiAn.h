// ICP filing lookup: the name of the organisation a site's domain is filed under, from a lookup web service.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/HttpClient.h"
#include "text/RegExp.h"

namespace vexo {

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
    std::vector<std::string> list_;
    THttpClient http_;
    std::string host_;
};

}  // namespace vexo
