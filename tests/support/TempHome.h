// A temporary program folder for tests of the store and of vexo-cli, and running other programs (the sqlite3
// shell as an independent reader and writer of the database, vexo-cli itself).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vexo::test {

// A fresh temporary folder that VEXO_HOME points at (so AppDir() is this folder) for the life of the object; the
// previous value comes back and the folder is removed afterwards.
class TTempHome {
  public:
    TTempHome();
    ~TTempHome();
    TTempHome(const TTempHome&) = delete;
    TTempHome& operator=(const TTempHome&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    // Data/users inside the folder.
    std::filesystem::path DatabasePath() const { return dir_ / "Data" / "users"; }

  private:
    std::filesystem::path dir_;
    std::string previousHome_;
    bool hadHome_ = false;
};

struct TProgramRun {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
    long peakRssKb = 0;  // the program's peak resident set size
};

// Runs the program (looked up in PATH unless the name holds a "/") with the arguments and this process's
// environment; output goes through files, so a large output cannot block it.
TProgramRun RunProgram(const std::vector<std::string>& argv);

// Runs SQL statements on the database file through the sqlite3 shell and returns what it printed (one line per
// row, "|" between columns). A failure of the shell fails the current test.
std::string RunSqlite(const std::filesystem::path& database, const std::string& sql);

}  // namespace vexo::test
