// Locales the tests need but the machine may not have installed: built with localedef into a folder of the test's,
// to be selected with LOCPATH.
#pragma once

#include <filesystem>
#include <string>

namespace vexo::test {

// Builds the UTF-8 locale of the source (e.g. "de_DE", "zh_CN") as `folder`/<source>.UTF-8; false when localedef or
// the locale's sources are missing.
bool BuildUtf8Locale(const std::string& source, const std::filesystem::path& folder);

}  // namespace vexo::test
