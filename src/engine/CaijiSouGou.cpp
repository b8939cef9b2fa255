#include "engine/CaijiSouGou.h"

#include <utility>

#include "engine/Hosts.h"

namespace vexo {

namespace {

constexpr std::string_view kSogouOwnDomains[] = {kSogouDomain};

}  // namespace

// The promoted entries link to the search host itself.
const TAnchorEngine kSogouEngine{.Engine = kEngineSogou,
                                 .SiteVariant = TSiteVariant::Sogou,
                                 .HttpSettings = HttpPreset::CaijiSouGou,
                                 .DefaultSearchHost = kDefaultSogouSearchHost,
                                 .QueryStart = "/web?query=",
                                 .PageKey = "&page=",
                                 .PromotedHost = {},
                                 .PromotedPath = kSogouPayPath,
                                 .OwnDomains = kSogouOwnDomains};

TCaijiSouGou::TCaijiSouGou(TWindowHandle window, std::string keyword, std::int32_t startPage,
                           TCollectorSettings settings)
    : TAnchorCollector(kSogouEngine, std::move(window), std::move(keyword), startPage, std::move(settings)) {}

}  // namespace vexo
