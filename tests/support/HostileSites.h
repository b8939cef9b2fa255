// Hostile advertisers for the simulated web: sites whose pages stall, trickle, never end, pass the size limit or
// bury a few numbers in millions. Each turns a company's site (served by TSimEngines::AddCompany, which also
// serves its filing) into one of these; result pages list it like any other advertiser.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "sim/SimWeb.h"

namespace vexo::sim {

enum class THostileKind {
    Stalling,     // the contact page sends its headers, then nothing until the web stops
    Trickling,    // the contact page never ends and arrives at about 1 MB/s
    Endless,      // the contact page never ends and arrives as fast as it is read (chunked)
    Oversized,    // the contact page is 40 MiB without announcing its length
    NumberDense,  // the home page is one line of distinct phone-like numbers after its title, no contact link
};

inline constexpr THostileKind kHostileKinds[] = {THostileKind::Stalling, THostileKind::Trickling, THostileKind::Endless,
                                                 THostileKind::Oversized, THostileKind::NumberDense};

// Size of the number-dense home page: 20 MB make about 1.7 million numbers.
inline constexpr std::size_t kNumberDensePageBytes = 20'000'000;

std::string_view HostileKindName(THostileKind kind);

// Replaces what the site at `host` serves. `name` is the company named in titles; `denseBytes` sizes a
// number-dense page.
void MakeSiteHostile(TSimWeb& web, const std::string& host, const std::string& name, THostileKind kind,
                     std::size_t denseBytes = kNumberDensePageBytes);

}  // namespace vexo::sim
