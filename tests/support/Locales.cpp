#include "support/Locales.h"

#include <cstdlib>

namespace vexo::test {

bool BuildUtf8Locale(const std::string& source, const std::filesystem::path& folder) {
    const std::string command = "localedef -i '" + source + "' -f UTF-8 '" + (folder / (source + ".UTF-8")).string() +
                                "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace vexo::test
