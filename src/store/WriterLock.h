// One writer at a time: a program takes an exclusive advisory lock on Data/users.lock before it writes to the
// database, so two programs never interleave their statements or upgrade the schema under each other.
#pragma once

#include <stdexcept>
#include <string>

namespace vexo {

// Raised when another program (or another lock object of this one) holds the writer lock.
class EWriterLockHeld : public std::runtime_error {
  public:
    using runtime_error::runtime_error;
};

class TWriterLock {
  public:
    // Takes the lock on the file at `lockPath`, creating the file and its folder when missing; held until
    // destruction. Raises EWriterLockHeld when another open file (another program, or another lock object of this
    // one) holds it, std::runtime_error when the file cannot be created or locked otherwise.
    explicit TWriterLock(const std::string& lockPath);
    ~TWriterLock();
    TWriterLock(const TWriterLock&) = delete;
    TWriterLock& operator=(const TWriterLock&) = delete;

    // The database file's path (TDataManager::DatabasePath) + ".lock".
    static std::string PathFor(const std::string& databaseName);

  private:
    int fd_ = -1;
};

}  // namespace vexo
