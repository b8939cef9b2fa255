// Ending a program: workers are stopped and given a short time, then the process ends without running static
// destructors, so no worker still running can touch a freed lock, gate or store.
#pragma once

#include <chrono>

namespace vexo {

// How long the exit waits for workers to end.
inline constexpr std::chrono::milliseconds kExitWorkerWait{2000};

// Requests termination of every worker, closes the current dispatcher (a worker blocked in a Send is released),
// waits at most `workerWait` for the workers to end, flushes standard output and error, and ends the process
// with `status`. Call it from the UI thread (or the main thread of a program without UI).
[[noreturn]] void ExitProgram(int status, std::chrono::milliseconds workerWait = kExitWorkerWait);

}  // namespace vexo
