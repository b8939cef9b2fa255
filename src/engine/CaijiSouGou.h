// The Sogou result collector: the anchor collector of the 360 one with Sogou's endpoint, patterns, own domain,
// gates and company-site threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/Caiji360.h"

namespace vexo {

// The Sogou engine as its collector reads it (also for reading its pages without a collector).
extern const TAnchorEngine kSogouEngine;

class TCaijiSouGou : public TAnchorCollector {
  public:
    // settings.SearchHost: the Sogou web-search host[:port], also the host of its promoted-entry links;
    // settings.IcpHost goes to the site threads.
    TCaijiSouGou(TWindowHandle window, std::string keyword, std::int32_t startPage, TCollectorSettings settings);
};

}  // namespace vexo
