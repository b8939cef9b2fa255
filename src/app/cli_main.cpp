// vexo-cli: the command-line front end on the core libraries. Commands are
// looked up in one table; adding a command means one entry here and one Run
// function.
#include <array>
#include <cstdio>
#include <string_view>

#include "app/cli_commands.h"
#include "net/HttpClient.h"

namespace {

using vexo::cli::TCommandArgs;

struct TCommand {
    std::string_view name;
    std::string_view synopsis;
    std::string_view description;
    int (*run)(TCommandArgs args);
};

constexpr std::array kCommands{
    TCommand{"extract", "extract [--rule first-title|company-word] [--name TEXT] FILE",
             "contact extraction on a saved page, JSON on stdout", vexo::cli::RunExtract},
    TCommand{"match", "match PATTERN FILE", "all matches of a pattern in a saved page, JSON array",
             vexo::cli::RunMatch},
    TCommand{"keywords", "keywords", "the stored keywords, one JSON object per line", vexo::cli::RunKeywords},
    TCommand{"add", "add KEYWORD", "adds a keyword to the store and prints it", vexo::cli::RunAdd},
    TCommand{"delete", "delete KEYWORD", "deletes a keyword and its companies", vexo::cli::RunDelete},
    TCommand{"companies", "companies KEYWORD", "the companies stored under a keyword, one JSON object per line",
             vexo::cli::RunCompanies},
    TCommand{"collect", "collect KEYWORD [--engines baidu,sogou,360] [--timeout SECONDS]",
             "collects the keyword's companies from the engines into the store; a summary line on stdout",
             vexo::cli::RunCollect},
    TCommand{"export", "export KEYWORD FILE [--format txt|xls] [--fields name,mob,qq,email,url]",
             "writes the keyword's companies to FILE as the program's export does (default: spreadsheet, all fields)",
             vexo::cli::RunExport},
    TCommand{"config",
             "config encode [--utf8] PLAIN.xml ENVELOPE | decode [--utf8] ENVELOPE PLAIN.xml | check ENVELOPE",
             "makes or reads the encrypted remote configuration file (several pairs of files may follow; --utf8: "
             "the XML side is UTF-8, else GBK bytes); check prints as one JSON object what the program would do "
             "with it, or an error line and status 2 when the program would count it as a failed download",
             vexo::cli::RunConfig},
};

void PrintUsage(std::FILE* out) {
    std::fputs("usage: vexo-cli <command> [arguments]\n\ncommands:\n", out);
    for (const TCommand& command : kCommands) {
        std::fprintf(out, "  vexo-cli %.*s\n      %.*s\n", static_cast<int>(command.synopsis.size()),
                     command.synopsis.data(), static_cast<int>(command.description.size()), command.description.data());
    }
    std::fputs("  vexo-cli --help\n      lists the commands\n", out);
}

}  // namespace

int main(int argc, char** argv) {
    vexo::InitNetwork();  // before any thread starts
    if (argc < 2) {
        PrintUsage(stderr);
        return vexo::cli::kExitUsage;
    }
    std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return vexo::cli::kExitOk;
    }
    for (const TCommand& command : kCommands) {
        if (command.name == name) {
            int status = command.run(TCommandArgs(argv + 2, static_cast<std::size_t>(argc - 2)));
            if (std::fflush(stdout) != 0 && status == vexo::cli::kExitOk) {
                return vexo::cli::Fail("cannot write the output");
            }
            return status;
        }
    }
    return vexo::cli::Fail("unknown command '" + std::string(name) + "' (see vexo-cli --help)");
}
