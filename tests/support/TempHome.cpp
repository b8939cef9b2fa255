// Temporary program folders and child programs for the store and command-line tests.
#include "support/TempHome.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vexo::test {

namespace {

constexpr const char* kHomeVariable = "VEXO_HOME";

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TTempHome::TTempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexo-home-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    dir_ = pattern;
    if (const char* previous = std::getenv(kHomeVariable)) {
        hadHome_ = true;
        previousHome_ = previous;
    }
    setenv(kHomeVariable, dir_.c_str(), 1);
}

TTempHome::~TTempHome() {
    if (hadHome_)
        setenv(kHomeVariable, previousHome_.c_str(), 1);
    else
        unsetenv(kHomeVariable);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

TProgramRun RunProgram(const std::vector<std::string>& argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexo-run-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        return {};
    const std::filesystem::path dir = pattern;
    const std::filesystem::path outPath = dir / "stdout";
    const std::filesystem::path errPath = dir / "stderr";

    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (std::string& arg : copies)
        args.push_back(arg.data());
    args.push_back(nullptr);

    TProgramRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        run.peakRssKb = usage.ru_maxrss;
        if (WIFEXITED(status))
            run.exitCode = WEXITSTATUS(status);
    }
    run.out = ReadAll(outPath);
    run.err = ReadAll(errPath);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return run;
}

std::string RunSqlite(const std::filesystem::path& database, const std::string& sql) {
    const TProgramRun run = RunProgram({"sqlite3", "-batch", database.string(), sql});
    EXPECT_EQ(run.exitCode, 0) << "sqlite3 failed on: " << sql << "\n" << run.err;
    return run.out;
}

}  // namespace vexo::test
