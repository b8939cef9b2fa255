// Small shared helpers: text extraction, links, URL encoding, paths, processes, file version, time stamps.
// Text is UTF-8; where a helper's rule counts bytes it counts GBK bytes (see Gbk.h). Searches are byte-wise and
// case-sensitive unless stated; on UTF-8 a byte-wise search never matches inside a character.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace vexo {

// Days since 1899-12-30 with the time of day as fraction (the system's date-time value).
using TDateTime = double;

// The text without the bytes 0x00-0x20 at both ends (control characters and space).
std::string_view Trim(std::string_view text);

// Text after the first `start` up to the first following `end` (the whole rest when `end` is empty or absent);
// empty when `start` is empty or absent.
std::string TextBetween(std::string_view start, std::string_view end, std::string_view text);

// True when the lower-cased address contains "//" or "." directly followed by one of the three search engines'
// registered domains (so "espresso.com" is not taken for "so.com").
bool IsEngineDomain(std::string_view address);

// The href value of an anchor, lower-cased (ASCII letters); empty when there is none. A quoted value ends at its
// closing quote (or the end of the text); an unquoted one at white space or ">", whichever comes first.
std::string ExtractHref(std::string_view anchor);

// Absolute "http://" address of a link taken relative to the site root of `host`: the link lower-cased, kept when it
// starts with "http://", else its leading "." and "/" characters dropped (so https links count as relative too).
std::string ResolveLink(std::string_view host, std::string_view link);

// Percent-encoding of the text's GBK bytes; unreserved: A-Z a-z 0-9 - . / : _ ; space as "+" or "%20".
std::string UrlEncode(std::string_view text, bool spaceAsPlus);

// The text cut to at most `limit` GBK bytes plus "..." when longer; never splits a character.
std::string TruncateWithEllipsis(std::string_view text, std::size_t limit);

// Left and right of the first `separator`; without one, left is empty and right the whole text.
std::pair<std::string, std::string> SplitAt(std::string_view text, std::string_view separator);

// accumulated := item when empty, else accumulated + separator + item; returns the new accumulated text.
std::string& AppendWithSeparator(std::string& accumulated, std::string_view item, std::string_view separator);

// Part after the last `c`, or `defaultText` when `c` does not occur.
std::string TextAfterLast(std::string_view text, char c, std::string_view defaultText);

// Part before the last `c`, or the whole text when `c` does not occur.
std::string TextBeforeLast(std::string_view text, char c);

// The path with a trailing "/" added, unless it is blank or already ends in one.
std::string IncludeBackslash(std::string_view path);

// The file an installation puts into the program folder: such a copy keeps its data in the user's data folder.
inline constexpr std::string_view kInstalledMarker = "vexo.installed";

// The data folder of a program in `programDir` (ending in "/"): that folder itself when the user may write there and
// it is not an installed copy; otherwise "vexo/" in the XDG data folder ($XDG_DATA_HOME, else ~/.local/share),
// made when missing.
std::string DataFolderOfProgram(const std::string& programDir);

// The data folder ending in "/": VEXO_HOME when set, else DataFolderOfProgram of the running program's folder.
std::string AppDir();

// File name of the running program.
std::string ExeFileName();

// Kills (SIGKILL) every process of the current user whose executable file name or path equals `name`, ignoring
// case; the own process last, unless `includeSelf` is false (the caller then ends itself its own way). A program file replaced or deleted while it runs keeps its name. Without a readable
// executable link the first command-line word (else the kernel's short name) stands for the path. Returns the
// success of the last kill attempted, false when none matched.
bool KillProcessByName(std::string_view name, bool includeSelf = true);

// Kills the process of the current user with that id. False when it does not run or cannot be killed, and for ids
// <= 0 (which kill() would take as process groups).
bool KillProcessById(pid_t id);

// Version "a.b.c.d" embedded in the file behind the marker kVersionMarker; "1.0.0.0" without one or on error.
std::string FileVersionText(const std::string& path);

// Marker that precedes the embedded version text ("VEXO_FILE_VERSION=1.2.3.4") in a program file.
inline constexpr std::string_view kVersionMarker = "VEXO_FILE_VERSION=";
inline constexpr std::string_view kDefaultFileVersion = "1.0.0.0";

// Local wall-clock date-time <-> seconds since 1970-01-01 00:00, without time-zone conversion. To seconds rounds to
// the nearest second, halves away from zero; NaN gives 0 and values beyond the 64-bit range saturate.
std::int64_t DateTimeToUnixSeconds(TDateTime t);
TDateTime UnixSecondsToDateTime(std::int64_t seconds);

}  // namespace vexo
