// The database writer lock: flock on a file beside the database. The kernel drops it when the holder ends,
// however it ends, so a crashed program never leaves a stale lock behind.
#include "store/WriterLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "store/DataManager.h"

namespace vexo {

namespace {

constexpr const char* kLockSuffix = ".lock";

}  // namespace

TWriterLock::TWriterLock(const std::string& lockPath) {
    const std::filesystem::path folder = std::filesystem::path(lockPath).parent_path();
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ignored);  // open() below reports what matters
    fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw std::runtime_error("cannot open the lock file " + lockPath + ": " + std::strerror(errno));
    int result;
    do {
        result = flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        close(fd_);
        fd_ = -1;
        if (error == EWOULDBLOCK)
            throw EWriterLockHeld("the database is in use by another program (" + lockPath + " is locked)");
        throw std::runtime_error("cannot lock " + lockPath + ": " + std::strerror(error));
    }
}

TWriterLock::~TWriterLock() {
    if (fd_ >= 0)
        close(fd_);
}

std::string TWriterLock::PathFor(const std::string& databaseName) {
    return TDataManager::DatabasePath(databaseName) + kLockSuffix;
}

}  // namespace vexo
