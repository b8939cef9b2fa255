// Child processes the program tests start and watch: started with a chosen environment and output files, waited
// for with a time limit, and found again through /proc.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vexo::test {

// Starts argv[0] (a path) with exactly the environment given ("NAME=value" entries); stdout and stderr go to the
// files (replaced). The child runs in a process group of its own, so a test can end it with everything it started.
pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& outPath, const std::string& errPath);

// The child's exit status once it exits within the limit; -1 when it ended by a signal. Nothing when it still runs
// at the limit (it is left running).
std::optional<int> WaitForChild(pid_t pid, std::chrono::milliseconds limit);

// Ends the child's process group (SIGKILL) and reaps the child.
void KillChildGroup(pid_t pid);

// This process's environment without the named variables (exact names).
std::vector<std::string> EnvironmentWithout(const std::vector<std::string>& names);

// Live processes (zombies excluded) whose program is `exe` and one of whose arguments contains `argumentPart`.
std::vector<pid_t> ProcessesRunning(const std::string& exe, const std::string& argumentPart);

}  // namespace vexo::test
