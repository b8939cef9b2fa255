// The command line and environment of a vexo-cli child process: this process's environment without the variables a
// test chooses for the child (the proxy variables in either spelling, VEXO_HOME, VEXO_TEST_GATE_SCALE), then the
// chosen ones. It owns the strings the argv and envp arrays point into.
#pragma once

#include <string>
#include <vector>

namespace vexo::test {

class TChildCommand {
  public:
    // `environment` holds "NAME=value" entries.
    TChildCommand(std::vector<std::string> args, std::vector<std::string> environment);
    TChildCommand(const TChildCommand&) = delete;
    TChildCommand& operator=(const TChildCommand&) = delete;

    char* const* Argv() { return argv_.data(); }
    char* const* Envp() { return envp_.data(); }

  private:
    std::vector<std::string> args_;
    std::vector<std::string> environment_;
    std::vector<char*> argv_;
    std::vector<char*> envp_;
};

}  // namespace vexo::test
