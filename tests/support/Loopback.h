// Small loopback helpers shared by the network tests.
#pragma once

#include <chrono>
#include <cstdint>

namespace vexo::sim {

// A loopback port nobody listens on (connections are refused at once). Its socket stays bound, never listening,
// for the whole run: a port closed again could be taken by a server of a test running alongside.
std::uint16_t ClosedPort();

// Whole milliseconds on the monotonic clock since `start`.
long long MillisecondsSince(std::chrono::steady_clock::time_point start);

}  // namespace vexo::sim
