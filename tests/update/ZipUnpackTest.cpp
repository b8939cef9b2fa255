// Unpacking update packages: folders, overwriting, modes, DOS-made entries, and every refused kind of entry,
// with nothing written outside the folder and a refused package leaving the folder exactly as it was.
#include "update/ZipUnpack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "update/UpdateTestSupport.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::File;
using test::MakeZip;
using test::TZipEntry;

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Every path below the folder with its kind, mode and content.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> state;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        const std::string relative = fs::relative(item.path(), folder).string();
        std::string description = std::to_string(ModeOf(item.path())) + ":";
        if (item.is_symlink())
            description += "link:" + fs::read_symlink(item.path()).string();
        else if (item.is_regular_file())
            description += test::ReadBytes(item.path());
        else
            description += "folder";
        state[relative] = description;
    }
    return state;
}

class ZipUnpackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        program_ = temp_.Path() / "program";
        fs::create_directories(program_ / "Data");
        test::WriteBytes(program_ / "Data" / "users", "database");
        test::WriteBytes(program_ / "qzclient.cfg", "[config]");
        test::WriteBytes(program_ / "vexo", "program file");
        test::WriteBytes(program_ / "a.txt", "old a");
        test::WriteBytes(temp_.Path() / "outside.txt", "outside");
        archive_ = temp_.Path() / "package.zip";
    }

    TUnpackResult Unpack(const TUnpackRules& rules) {
        return UnpackArchive(archive_.string(), program_.string(), rules);
    }
    TUnpackResult Unpack() { return Unpack(ProgramFolderRules("vexo")); }

    // The package must be refused with the folder and its surroundings unchanged.
    void ExpectRefused(const std::vector<TZipEntry>& entries, const TUnpackRules& rules, std::string_view reason) {
        SCOPED_TRACE(std::string(reason));
        MakeZip(archive_, entries);
        const auto before = Snapshot(temp_.Path());
        const TUnpackResult result = Unpack(rules);
        EXPECT_FALSE(result.Ok);
        EXPECT_FALSE(result.Error.empty());
        EXPECT_TRUE(result.Files.empty());
        EXPECT_EQ(Snapshot(temp_.Path()), before);
    }
    void ExpectRefused(const std::vector<TZipEntry>& entries, std::string_view reason) {
        ExpectRefused(entries, ProgramFolderRules("vexo"), reason);
    }

    test::TTempDir temp_;
    fs::path program_;
    fs::path archive_;
};

TEST_F(ZipUnpackTest, FoldersFilesOverwritingAndModes) {
    ::umask(022);
    MakeZip(archive_, {File("a.txt", "new a", S_IFREG | 0600),
                       File("bin/tool", "#!/bin/sh\n", S_IFREG | 0750),
                       {"docs/", "", ZIP_OPSYS_UNIX, S_IFDIR | 0750, true},
                       File("docs/deep/readme", "read me"),
                       File("./lib//x.so", "x", 0),
                       {"Data/", "", ZIP_OPSYS_UNIX, S_IFDIR | 0755, true},
                       File("Data/notes.txt", "notes")});
    const TUnpackResult result = Unpack();
    ASSERT_TRUE(result.Ok) << result.Error;
    EXPECT_EQ(result.Files,
              (std::vector<std::string>{"a.txt", "bin/tool", "docs/deep/readme", "lib/x.so", "Data/notes.txt"}));
    EXPECT_EQ(test::ReadBytes(program_ / "a.txt"), "new a");
    EXPECT_EQ(ModeOf(program_ / "a.txt"), 0600U);
    EXPECT_EQ(ModeOf(program_ / "bin" / "tool"), 0750U);
    EXPECT_EQ(ModeOf(program_ / "docs"), 0750U);
    EXPECT_EQ(test::ReadBytes(program_ / "docs" / "deep" / "readme"), "read me");
    EXPECT_EQ(ModeOf(program_ / "lib" / "x.so"), 0644U);  // type and mode not stored
    // Nothing else appeared: no temporary files left.
    std::vector<std::string> paths;
    for (const auto& item : Snapshot(program_))
        paths.push_back(item.first);
    EXPECT_EQ(paths,
              (std::vector<std::string>{"Data", "Data/notes.txt", "Data/users", "a.txt", "bin", "bin/tool", "docs",
                                        "docs/deep", "docs/deep/readme", "lib", "lib/x.so", "qzclient.cfg", "vexo"}));
    EXPECT_EQ(test::ReadBytes(program_ / "Data" / "users"), "database");
}

TEST_F(ZipUnpackTest, DosAndWindowsEntriesGet0644AndTheUpdaterIsExecutable) {
    MakeZip(archive_, {{"sub\\dos.txt", "dos", ZIP_OPSYS_DOS, 0x20, false},
                       {"ntfs.txt", "ntfs", ZIP_OPSYS_WINDOWS_NTFS, 0x01, false},
                       {"folder/", "", ZIP_OPSYS_DOS, 0x10, true},
                       {"update.exe", "updater", ZIP_OPSYS_DOS, 0x20, false},
                       File("sub/update.exe", "not the updater", S_IFREG | 0600)});
    const TUnpackResult result = Unpack();
    ASSERT_TRUE(result.Ok) << result.Error;
    EXPECT_EQ(ModeOf(program_ / "sub" / "dos.txt"), 0644U);  // a backslash separates folders
    EXPECT_EQ(ModeOf(program_ / "ntfs.txt"), 0644U);
    EXPECT_EQ(ModeOf(program_ / "folder"), 0755U);
    EXPECT_EQ(ModeOf(program_ / "update.exe"), 0744U);
    EXPECT_EQ(ModeOf(program_ / "sub" / "update.exe"), 0600U);
}

TEST_F(ZipUnpackTest, RefusedEntriesLeaveEverythingAsItWas) {
    const TZipEntry good = File("good.txt", "good");
    ExpectRefused({good, File("../evil.txt", "x")}, "climbing");
    ExpectRefused({good, File("sub/../../evil.txt", "x")}, "climbing through a folder");
    ExpectRefused({good, {"..\\evil.txt", "x", ZIP_OPSYS_DOS, 0x20, false}}, "climbing with a backslash");
    ExpectRefused({good, File("/tmp/evil.txt", "x")}, "absolute");
    ExpectRefused({good, File("C:/evil.txt", "x")}, "drive letter");
    ExpectRefused({good, File("link", "/etc/passwd", S_IFLNK | 0777)}, "symbolic link");
    ExpectRefused({good, File("fifo", "", S_IFIFO | 0644)}, "special file");
    ExpectRefused({good, File("tool", "x", S_IFREG | 04755)}, "setuid");
    ExpectRefused({good, File("tool", "x", S_IFREG | 02755)}, "setgid");
    ExpectRefused({good, {"shared/", "", ZIP_OPSYS_UNIX, S_IFDIR | 01777, true}}, "sticky");
    ExpectRefused({good, File("Data/users", "x")}, "database");
    ExpectRefused({good, File("./Data//users", "x")}, "database, other spelling");
    ExpectRefused({good, {"Data\\users", "x", ZIP_OPSYS_DOS, 0x20, false}}, "database, backslash");
    ExpectRefused({good, File("Data/users/x", "x")}, "a folder in place of the database");
    ExpectRefused({good, File("qzclient.cfg", "x")}, "client configuration");
    ExpectRefused({good, File("Data", "x")}, "a file in place of the database folder");
    ExpectRefused({good, File("vexo", "x")}, "running program");
    ExpectRefused({good, File("a.txt/x", "x")}, "a file where a folder is needed");
    ExpectRefused({good, {"a.txt/", "", ZIP_OPSYS_UNIX, S_IFDIR | 0755, true}}, "a folder entry over a file");
    ExpectRefused({good, File("both", "x"), File("both/inner", "y")}, "one path as file and folder");

    TUnpackRules small = ProgramFolderRules("vexo");
    small.MaxUnpackedBytes = 1000;
    ExpectRefused({File("one", std::string(600, 'a')), File("two", std::string(600, 'b'))}, small, "over the cap");
    ExpectRefused({File("big", std::string(1001, 'a'))}, small, "one entry over the cap");
}

TEST_F(ZipUnpackTest, NothingIsWrittenThroughALinkInTheFolder) {
    fs::create_directory(temp_.Path() / "elsewhere");
    fs::create_directory_symlink(temp_.Path() / "elsewhere", program_ / "plugins");
    fs::create_symlink(temp_.Path() / "outside.txt", program_ / "notes.txt");
    ExpectRefused({File("plugins/x.so", "x")}, "through a linked folder");
    ExpectRefused({File("notes.txt", "x")}, "over a link");
    EXPECT_TRUE(fs::is_empty(temp_.Path() / "elsewhere"));
    EXPECT_EQ(test::ReadBytes(temp_.Path() / "outside.txt"), "outside");
}

TEST_F(ZipUnpackTest, WithinTheCapIsFine) {
    TUnpackRules rules = ProgramFolderRules("vexo");
    rules.MaxUnpackedBytes = 1000;
    MakeZip(archive_, {File("one", std::string(500, 'a')), File("two", std::string(500, 'b'))});
    EXPECT_TRUE(Unpack(rules).Ok);
}

TEST_F(ZipUnpackTest, NotAnArchive) {
    test::WriteBytes(archive_, "PK but not really a zip archive");
    const auto before = Snapshot(temp_.Path());
    const TUnpackResult result = Unpack();
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(Snapshot(temp_.Path()), before);
}

TEST_F(ZipUnpackTest, ADamagedEntryWritesNothing) {
    MakeZip(archive_, {File("first.txt", "first"), File("second.txt", std::string(4000, 'z'))});
    // Damage the second entry's compressed data: its CRC check fails while unpacking, after the first was written
    // under a temporary name.
    std::string bytes = test::ReadBytes(archive_);
    const std::size_t second = bytes.find("second.txt");
    ASSERT_NE(second, std::string::npos);
    bytes[second + 10 + 4] ^= 0x55;
    test::WriteBytes(archive_, bytes);
    const auto before = Snapshot(temp_.Path());
    const TUnpackResult result = Unpack();
    EXPECT_FALSE(result.Ok);
    EXPECT_NE(result.Error.find("damaged entry second.txt"), std::string::npos) << result.Error;
    EXPECT_EQ(Snapshot(temp_.Path()), before);
}

}  // namespace
}  // namespace vexo
