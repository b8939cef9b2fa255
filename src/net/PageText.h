// Page-text decoding: how a response body becomes the text the parsers read (UTF-8).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexo {

// The body up to its first NUL byte, split into lines at CR LF, lone CR and lone LF. An empty body gives no lines;
// a body ending in a line break gives no empty last line.
std::vector<std::string> SplitBodyLines(std::string_view body);

// Lines joined with CR LF after every line, trimmed of bytes 0x00-0x20 at both ends. Valid UTF-8 is returned as
// it is. Otherwise strict decoding gives empty text, lenient decoding takes the bytes as GBK and converts them.
std::string DecodePageText(std::string_view body, bool lenient);

}  // namespace vexo
