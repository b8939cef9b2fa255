// The update record and the files of an update in the program folder.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vexo {

// What the remote configuration announced; filled by the configuration, owned by the update run once it starts.
struct TUpDateInfo {
    bool HasUpdate = false;        // a newer program package exists
    std::string UpdateUrl;         // address of the program package
    bool ForceUpdate = false;      // the running version is no longer supported: the user is told first
    std::uint32_t UpdateCrc = 0;   // CRC-32 the program package must have; 0: no check
    bool NeedUpdater = false;      // the updater package must be fetched (update.exe missing or outdated)
    std::string UpdaterUrl;        // address of the updater package
    std::uint32_t UpdaterCrc = 0;  // CRC-32 the updater package must have; 0: no check
};

// The program's own version, as the configuration and the version check compare it.
inline constexpr std::string_view kProgramVersion = "2.0";

// Files of an update, all in the program folder.
inline constexpr std::string_view kProgramPackageFile = "update.zip";
inline constexpr std::string_view kUpdaterPackageFile = "up.zip";
inline constexpr std::string_view kUpdaterFile = "update.exe";
inline constexpr std::string_view kHandOverFile = "uplog.txt";
inline constexpr std::string_view kUpdaterLogFile = "update.log";

// Largest package downloaded, and largest total an archive may unpack to.
inline constexpr std::uint64_t kMaxPackageBytes = std::uint64_t{256} * 1024 * 1024;

// Folder of the running program's file, ending in "/": where the update files live and what an update replaces.
std::string ProgramDir();

// True when the program may replace itself: the program folder is writable and is the data folder, so that an
// installed copy shared by several users, or one whose data lives elsewhere, is never changed under them.
bool SelfUpdateAllowed(const std::string& programDir, const std::string& dataDir);

// Starts the program file directly (never through a file-type handler), without arguments, in a new session with
// its folder as working folder. Returns its process id, or -1.
pid_t StartDetached(const std::string& path);

}  // namespace vexo
