// vexo-cli: helpers shared by the commands (error lines, file input, JSON
// output).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/cli_commands.h"
#include "text/Gbk.h"

namespace vexo::cli {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kHexDigits[] = "0123456789abcdef";

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string OneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            line += "\\x";
            line.push_back(kHexDigits[byte >> 4]);
            line.push_back(kHexDigits[byte & 0xF]);
        } else {
            line.push_back(c);
        }
    }
    return line;
}

int Fail(std::string_view message) {
    // Control characters from quoted arguments (a file name with a line break) are escaped, so that the error stays
    // one line.
    std::fprintf(stderr, "vexo-cli: %s\n", OneLine(message).c_str());
    return kExitUsage;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        Fail("cannot open " + path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    std::string bytes;
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        bytes.append(buffer, got);
    if (std::ferror(file.get())) {
        // A directory opens but cannot be read (EISDIR).
        Fail("cannot read " + path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    return bytes;
}

std::string JsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out.push_back('\\');
                out.push_back(static_cast<char>(c));
            } else if (c < 0x20) {
                out.append("\\u00");
                out.push_back(kHexDigits[c >> 4]);
                out.push_back(kHexDigits[c & 0xF]);
            } else {
                out.push_back(static_cast<char>(c));
            }
            ++i;
            continue;
        }
        std::size_t length = Utf8SequenceLength(c);
        std::string_view sequence = text.substr(i, length);
        if (length > 1 && sequence.size() == length && IsValidUtf8(sequence)) {
            out.append(sequence);
            i += length;
        } else {
            out.append(kReplacementCharacter);
            ++i;
        }
    }
    out.push_back('"');
    return out;
}

std::string JsonStringArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            out.push_back(',');
        out.append(JsonString(items[i]));
    }
    out.push_back(']');
    return out;
}

}  // namespace vexo::cli
