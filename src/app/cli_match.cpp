// vexo-cli match: every match of a pattern in a saved page (the parsers'
// matching: all matches, case ignored).
#include <cstdio>
#include <optional>
#include <string>

#include "app/cli_commands.h"
#include "net/PageText.h"
#include "text/RegExp.h"

namespace vexo::cli {

int RunMatch(TCommandArgs args) {
    if (args.size() != 2)
        return Fail("usage: vexo-cli match PATTERN FILE");
    std::string_view pattern = args[0];

    std::optional<std::string> body = ReadFileBytes(args[1]);
    if (!body)
        return kExitUsage;
    std::string pageText = DecodePageText(*body, true);

    std::vector<std::string> matches;
    try {
        TRegExp regExp;
        matches = regExp.AllMatches(pattern, pageText);
    } catch (const ERegExpError& error) {
        return Fail(std::string("invalid pattern: ") + error.what());
    }
    std::string json = JsonStringArray(matches);
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fputc('\n', stdout);
    return kExitOk;
}

}  // namespace vexo::cli
