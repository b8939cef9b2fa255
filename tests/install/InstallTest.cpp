// Installation as a user gets it: `cmake --install` into a temporary prefix (programs in the program folder, command
// links, menu entry, icon; the installed vexo-cli keeps its data in the XDG data folder and writes nothing into the
// program folder), and the Debian package made from the same rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "support/TempHome.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

struct TOutput {
    int status = -1;
    std::string text;
};

// Runs a shell command line, stdout and stderr together.
TOutput Shell(const std::string& command) {
    TOutput output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    while (const std::size_t got = fread(buffer, 1, sizeof buffer, pipe))
        output.text.append(buffer, got);
    const int status = pclose(pipe);
    output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::set<std::string> FilesUnder(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files.insert(fs::relative(entry.path(), folder).string());
    return files;
}

bool HasGui() {
    return fs::exists(fs::path(VEXO_BUILD_DIR) / "vexo");
}

TEST(Install, ProgramsLinksMenuEntryAndIconInPlaceAndDataInTheXdgFolder) {
    TTempHome temp;
    const fs::path prefix = temp.Dir() / "prefix";
    const TOutput install = Shell("cmake --install " + Quoted(VEXO_BUILD_DIR) + " --prefix " + Quoted(prefix));
    ASSERT_EQ(install.status, 0) << install.text;

    const fs::path programDir = prefix / "lib" / "vexo";
    for (const char* file : {"vexo-cli", "update.exe"}) {
        EXPECT_TRUE(fs::is_regular_file(programDir / file)) << file;
        EXPECT_NE(fs::status(programDir / file).permissions() & fs::perms::owner_exec, fs::perms::none) << file;
    }
    EXPECT_TRUE(fs::is_regular_file(programDir / "vexo.installed"));
    EXPECT_EQ(fs::canonical(prefix / "bin" / "vexo-cli"), fs::canonical(programDir / "vexo-cli"));
    if (HasGui()) {
        EXPECT_EQ(fs::canonical(prefix / "bin" / "vexo"), fs::canonical(programDir / "vexo"));
        const fs::path desktop = prefix / "share" / "applications" / "vexo.desktop";
        EXPECT_TRUE(fs::is_regular_file(prefix / "share" / "icons" / "hicolor" / "scalable" / "apps" / "vexo.svg"));
        ASSERT_TRUE(fs::is_regular_file(desktop));
        if (Shell("command -v desktop-file-validate").status == 0) {
            const TOutput valid = Shell("desktop-file-validate " + Quoted(desktop));
            EXPECT_EQ(valid.status, 0) << valid.text;
            EXPECT_EQ(valid.text, "");
        } else {
            std::cout << "desktop-file-validate is missing (bash scripts/setup --tests): the menu entry was not checked\n";
        }
    }

    // The installed command keeps its data in the user's data folder, never in the program folder.
    const std::set<std::string> installed = FilesUnder(programDir);
    const fs::path dataHome = temp.Dir() / "xdg";
    const std::string env = "env -u VEXO_HOME XDG_DATA_HOME=" + Quoted(dataHome) + " ";
    const TOutput added = Shell(env + Quoted(prefix / "bin" / "vexo-cli") + " add '广州 电子公司'");
    ASSERT_EQ(added.status, 0) << added.text;
    EXPECT_NE(added.text.find("\"keyword\":\"广州 电子公司\""), std::string::npos) << added.text;
    const TOutput listed = Shell(env + Quoted(prefix / "bin" / "vexo-cli") + " keywords");
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.text.find("广州 电子公司"), std::string::npos) << listed.text;
    EXPECT_TRUE(fs::is_regular_file(dataHome / "vexo" / "Data" / "users"));
    EXPECT_EQ(FilesUnder(programDir), installed);
}

TEST(Install, DebianPackageHoldsTheProgramsMenuEntryAndIconAndNamesItsLibraries) {
    if (Shell("command -v cpack && command -v dpkg-deb && command -v dpkg-shlibdeps").status != 0)
        GTEST_SKIP() << "cpack, dpkg-deb or dpkg-shlibdeps is missing: no package was built";
    TTempHome temp;
    const TOutput packed = Shell("cpack -G DEB -B " + Quoted(temp.Dir()) + " --config " +
                                 Quoted(fs::path(VEXO_BUILD_DIR) / "CPackConfig.cmake"));
    ASSERT_EQ(packed.status, 0) << packed.text;
    fs::path deb;
    for (const auto& entry : fs::directory_iterator(temp.Dir()))
        if (entry.path().extension() == ".deb")
            deb = entry.path();
    ASSERT_FALSE(deb.empty()) << packed.text;
    EXPECT_EQ(deb.filename().string().rfind("vexo_", 0), 0u) << deb;

    const TOutput contents = Shell("dpkg-deb -c " + Quoted(deb));
    ASSERT_EQ(contents.status, 0) << contents.text;
    for (const char* path : {"./usr/lib/vexo/vexo-cli", "./usr/lib/vexo/update.exe", "./usr/lib/vexo/vexo.installed",
                             "./usr/bin/vexo-cli -> ../lib/vexo/vexo-cli"})
        EXPECT_NE(contents.text.find(path), std::string::npos) << path << "\n" << contents.text;
    const TOutput control = Shell("dpkg-deb -f " + Quoted(deb) + " Package Depends");
    EXPECT_NE(control.text.find("Package: vexo"), std::string::npos) << control.text;
    EXPECT_NE(control.text.find("libsqlite3-0"), std::string::npos) << control.text;
    if (HasGui()) {
        for (const char* path : {"./usr/lib/vexo/vexo", "./usr/bin/vexo -> ../lib/vexo/vexo",
                                 "./usr/share/applications/vexo.desktop",
                                 "./usr/share/icons/hicolor/scalable/apps/vexo.svg"})
            EXPECT_NE(contents.text.find(path), std::string::npos) << path << "\n" << contents.text;
        EXPECT_NE(control.text.find("libqt6widgets6"), std::string::npos) << control.text;
        EXPECT_NE(control.text.find("qt6-qpa-plugins"), std::string::npos) << control.text;
    }
}

}  // namespace
}  // namespace vexo::test
