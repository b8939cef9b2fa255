// Unpacking an update package over the program folder. The whole archive is checked before anything is written,
// so a refused package leaves the folder as it was:
// - regular files and folders only (a symbolic link or any special entry refuses the package);
// - no absolute names, no ".." part, nothing reached through a symbolic link already in the folder;
// - permission bits only: an entry with setuid, setgid or sticky bits refuses the package; entries made on
//   DOS or Windows get 0644 (folders 0755); update.exe at the top always gets u+x;
// - entries that would replace a protected file (the database, the client configuration, the running program)
//   refuse the package;
// - at most kMaxPackageBytes unpacked in all.
// Files are written under temporary names first and renamed into place once all of them are written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/UpdateFiles.h"

namespace vexo {

struct TUnpackRules {
    // Paths relative to the target folder that no entry may replace ("Data/users", "qzclient.cfg", ...).
    std::vector<std::string> Protected;
    std::uint64_t MaxUnpackedBytes = kMaxPackageBytes;
};

// Protected paths of the program folder: the database, the client configuration and the given running program.
TUnpackRules ProgramFolderRules(const std::string& runningProgramName);

struct TUnpackResult {
    bool Ok = false;
    std::string Error;               // why the package was refused or failed; empty when Ok
    std::vector<std::string> Files;  // relative paths written, in archive order
};

// Unpacks the zip archive into targetDir (which must exist).
TUnpackResult UnpackArchive(const std::string& archivePath, const std::string& targetDir, const TUnpackRules& rules);

}  // namespace vexo
