// vexo-cli: the subcommands and the helpers they share. Each command gets the
// arguments after its name and returns the process exit status.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;  // bad arguments, unreadable input, invalid pattern

using TCommandArgs = std::span<char* const>;

int RunExtract(TCommandArgs args);
int RunMatch(TCommandArgs args);
int RunKeywords(TCommandArgs args);
int RunAdd(TCommandArgs args);
int RunDelete(TCommandArgs args);
int RunCompanies(TCommandArgs args);
int RunCollect(TCommandArgs args);

// Prints "vexo-cli: <message>" as one line on stderr and returns kExitUsage.
int Fail(std::string_view message);

// The file's bytes, or nothing (with an error line on stderr) when it cannot be
// read.
std::optional<std::string> ReadFileBytes(const std::string& path);

// JSON string literal of the text; malformed UTF-8 bytes become U+FFFD so the
// output is always valid UTF-8.
std::string JsonString(std::string_view text);

// JSON array of string literals.
std::string JsonStringArray(const std::vector<std::string>& items);

}  // namespace vexo::cli
