// vexo-cli: the subcommands and the helpers they share. Each command gets the
// arguments after its name and returns the process exit status.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {
class TKeyListInfo;
struct TKeyData;
}  // namespace vexo

namespace vexo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;      // bad arguments, unreadable input, invalid pattern
inline constexpr int kExitNotStored = 3;  // collect: the database failed to store companies or a page cursor

using TCommandArgs = std::span<char* const>;

int RunExtract(TCommandArgs args);
int RunMatch(TCommandArgs args);
int RunKeywords(TCommandArgs args);
int RunAdd(TCommandArgs args);
int RunDelete(TCommandArgs args);
int RunCompanies(TCommandArgs args);
int RunCollect(TCommandArgs args);
int RunExport(TCommandArgs args);
int RunConfig(TCommandArgs args);

// Prints "vexo-cli: <message>" as one line on stderr and returns kExitUsage.
int Fail(std::string_view message);

// The text with every control character written as \xNN, so that it prints as one line.
std::string OneLine(std::string_view text);

// The file's bytes, or nothing (with an error line on stderr) when it cannot be
// read.
std::optional<std::string> ReadFileBytes(const std::string& path);

// JSON string literal of the text; malformed UTF-8 bytes become U+FFFD so the
// output is always valid UTF-8.
std::string JsonString(std::string_view text);

// JSON array of string literals.
std::string JsonStringArray(const std::vector<std::string>& items);

// For the commands that only read (listing, export): runs `body` on the store opened read-only with its keywords
// loaded. It never takes the writer lock and never changes the file, so it neither waits for nor holds up a
// program that collects, and works on a read-only disk. Without a database `body` does not run and the result is
// kExitOk: nothing is stored yet. Errors become an error line and kExitUsage.
int WithStoreForReading(const std::function<int(TKeyListInfo&)>& body);

// Loads the keyword's companies through the loader thread, with an event loop on this thread as the UI thread.
// False, with an error line, when the load ended early.
bool LoadKeywordCompanies(TKeyListInfo& store, TKeyData& entry);

}  // namespace vexo::cli
