// INI reading and writing: any file reads without failing, values read back trimmed and on one line, and a write
// either reads back as written, leaving every other value as it was, or is refused and leaves the file untouched.
// Input: the file, NUL, a section name, NUL, a key, NUL, a value.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "text/IniFile.h"

using namespace vexo;
using namespace vexo::fuzz;

namespace {

// A temporary folder for the whole run, in memory where the system offers it, removed when the run ends.
struct TTempFolder {
    TTempFolder() {
        path = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        path += "/vexo-inifuzz-XXXXXX";
        Check(::mkdtemp(path.data()) != nullptr, "cannot make a temporary folder");
    }
    ~TTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

const std::string& FilePath() {
    static const TTempFolder folder;
    static const std::string path = folder.path + "/qzclient.cfg";
    return path;
}

void WriteFile(std::string_view content) {
    std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    Check(static_cast<bool>(out.flush()), "cannot write the temporary file");
}

std::string ReadFile() {
    std::ifstream in(FilePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The (section, key) pairs the file's lines name, found with simple rules of their own: "[" starts a header whose
// name ends at "]", a line with "=" names a key unless it is a comment.
std::vector<std::pair<std::string, std::string>> NamedPairs(std::string_view content) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string section;
    while (!content.empty()) {
        const std::size_t lf = content.find('\n');
        const std::string_view line = Trim(content.substr(0, lf));
        content.remove_prefix(lf == std::string_view::npos ? content.size() : lf + 1);
        if (line.starts_with('[')) {
            section = std::string(Trim(line.substr(1, line.find(']') - 1)));
        } else if (!line.empty() && line.front() != ';' && line.front() != '#' && Contains(line, "=")) {
            pairs.emplace_back(section, std::string(Trim(line.substr(0, line.find('=')))));
        }
    }
    return pairs;
}

// Lines end at LF (a CR before it belongs to the break); a lone CR inside a line is text.
bool OnOneLineTrimmed(std::string_view value) {
    return IsTrimmed(value) && value.find('\n') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> parts = SplitAtNul(AsText(data, size), 4);
    const std::string_view content = parts[0];
    const std::string_view section = parts[1];
    const std::string_view key = parts[2];
    const std::string_view value = parts[3];
    WriteFile(content);

    TIniFile before(FilePath());
    const auto pairs = NamedPairs(content);
    std::vector<std::string> values;
    constexpr std::string_view kAbsent = "\n";  // no value reads back with a line break
    for (const auto& [s, k] : pairs) {
        values.push_back(before.ReadString(s, k, kAbsent));
        const std::string& read = values.back();
        Check(read == kAbsent || OnOneLineTrimmed(read), "a value reads back untrimmed or with a break");
        Check((read != kAbsent) == before.ValueExists(s, k), "ValueExists disagrees with ReadString");
        before.ReadInteger(s, k, 0);
        before.ReadBool(s, k, false);
    }

    TIniFile writer(FilePath());
    if (!writer.WriteString(section, key, value)) {
        Check(ReadFile() == content, "a refused write changed the file");
        return 0;
    }
    TIniFile after(FilePath());
    Check(after.ReadString(section, key, kAbsent) == Trim(value), "a written value does not read back");
    Check(writer.ReadString(section, key, kAbsent) == Trim(value), "the writer's copy differs from the file");
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const auto& [s, k] = pairs[i];
        if (SameIgnoringCase(s, Trim(section)) && SameIgnoringCase(k, Trim(key)))
            continue;
        Check(after.ReadString(s, k, kAbsent) == values[i], "a write changed another value");
    }
    return 0;
}
