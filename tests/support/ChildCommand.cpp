#include "support/ChildCommand.h"

#include <unistd.h>

#include <cctype>

namespace vexo::test {

namespace {

bool IsChosenForTheChild(const std::string& entry) {
    std::string name = entry.substr(0, entry.find('='));
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name == "http_proxy" || name == "https_proxy" || name == "all_proxy" || name == "no_proxy" ||
           name == "vexo_home" || name == "vexo_test_gate_scale";
}

}  // namespace

TChildCommand::TChildCommand(std::vector<std::string> args, std::vector<std::string> environment)
    : args_(std::move(args)), environment_(std::move(environment)) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!IsChosenForTheChild(*entry))
            environment_.emplace_back(*entry);
    }
    for (std::string& arg : args_)
        argv_.push_back(arg.data());
    argv_.push_back(nullptr);
    for (std::string& entry : environment_)
        envp_.push_back(entry.data());
    envp_.push_back(nullptr);
}

}  // namespace vexo::test
