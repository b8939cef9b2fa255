// INI files: values written and read back, names ignoring letter case, comments and line breaks, missing and
// unreadable files, and writes that leave every other line as it was.
#include "text/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vexo {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vexo-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "qzclient.cfg").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Put(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
    std::string Get() const {
        std::ifstream file(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(IniFileTest, WrittenValuesReadBackFromTheSameObjectAndFromTheFile) {
    TIniFile ini(path_);
    EXPECT_TRUE(ini.WriteString("hosts", "icp", "icp.example.cn:8080"));
    EXPECT_TRUE(ini.WriteInteger("config", "count", -42));
    EXPECT_TRUE(ini.WriteInteger("config", "min", INT_MIN));
    EXPECT_TRUE(ini.WriteBool("config", "first", true));
    EXPECT_TRUE(ini.WriteString("config", "name", "广州 电子公司"));
    EXPECT_EQ(ini.ReadString("hosts", "icp", "-"), "icp.example.cn:8080");

    const TIniFile reread(path_);
    EXPECT_EQ(reread.ReadString("hosts", "icp", "-"), "icp.example.cn:8080");
    EXPECT_EQ(reread.ReadInteger("config", "count", 0), -42);
    EXPECT_EQ(reread.ReadInteger("config", "min", 0), INT_MIN);
    EXPECT_TRUE(reread.ReadBool("config", "first", false));
    EXPECT_EQ(reread.ReadString("config", "name", ""), "广州 电子公司");
    EXPECT_EQ(Get(),
              "[hosts]\nicp=icp.example.cn:8080\n\n[config]\ncount=-42\nmin=-2147483648\nfirst=1\n"
              "name=广州 电子公司\n");

    EXPECT_TRUE(ini.WriteString("hosts", "icp", "other.example.cn"));
    EXPECT_EQ(TIniFile(path_).ReadString("hosts", "icp", ""), "other.example.cn");
    EXPECT_FALSE(ini.ValueExists("hosts", "update"));
    EXPECT_TRUE(ini.ValueExists("HOSTS", "ICP"));
}

TEST_F(IniFileTest, NamesIgnoreLetterCaseAndAWriteReplacesTheExistingLine) {
    Put("[Hosts]\nICP = a.example.cn\nUpdate=u.example.cn\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("hosts", "icp", ""), "a.example.cn");
    EXPECT_EQ(ini.ReadString("HOSTS", "update", ""), "u.example.cn");
    EXPECT_TRUE(ini.WriteString("hosts", "Icp", "b.example.cn"));
    EXPECT_EQ(Get(), "[Hosts]\nICP =b.example.cn\nUpdate=u.example.cn\n");

    // Names are trimmed when read as when written, so what a write stored is found with the same names.
    EXPECT_TRUE(ini.WriteString(" extra\t", " key ", "v"));
    EXPECT_EQ(TIniFile(path_).ReadString(" extra\t", " key ", ""), "v");
    EXPECT_TRUE(ini.ValueExists("extra", "key"));
    EXPECT_EQ(ini.ReadString(" hosts ", "\ticp", ""), "b.example.cn");
}

TEST_F(IniFileTest, ReadsTrimmedValuesPastCommentsWithCrLfAndAByteOrderMark) {
    Put("\xEF\xBB\xBF; client settings\r\n"
        "icp=outside.example.cn\r\n"
        "[hosts]\r\n"
        "  ; icp=commented.example.cn\r\n"
        "# update=commented.example.cn\r\n"
        "   icp   =   \t icp.example.cn  \r\n"
        "icp=second.example.cn\r\n"
        "config=a=b\r\n"
        "no equals sign here\r\n"
        "[other]\r\n"
        "update=other.example.cn\r\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("hosts", "icp", ""), "icp.example.cn");  // the first of two lines
    EXPECT_EQ(ini.ReadString("hosts", "update", "none"), "none");
    EXPECT_EQ(ini.ReadString("hosts", "config", ""), "a=b");
    EXPECT_EQ(ini.ReadString("hosts", "; icp", "none"), "none");
    EXPECT_EQ(ini.ReadString("other", "update", ""), "other.example.cn");

    // A write keeps the byte-order mark and the CR LF breaks.
    EXPECT_TRUE(ini.WriteString("other", "sogou", "s.example.cn"));
    const std::string written = Get();
    EXPECT_TRUE(written.starts_with("\xEF\xBB\xBF; client settings\r\n"));
    EXPECT_TRUE(written.ends_with("update=other.example.cn\r\nsogou=s.example.cn\r\n"));
}

TEST_F(IniFileTest, IntegersAndBooleansFallBackToTheDefaultForOtherText) {
    Put("[n]\nhex=0x1F\ndollar=$ff\nplus=+7\nword=abc\nempty=\nbig=2147483648\nlow=-2147483649\ntail=12x\n"
        "[b]\nzero=0\nten=10\nyes=Yes\noff=OFF\nmaybe=maybe\n");
    const TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("n", "hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("n", "dollar", 0), 255);
    EXPECT_EQ(ini.ReadInteger("n", "plus", 0), 7);
    for (const char* key : {"word", "empty", "big", "low", "tail", "missing"}) {
        EXPECT_EQ(ini.ReadInteger("n", key, -5), -5) << key;
    }
    EXPECT_FALSE(ini.ReadBool("b", "zero", true));
    EXPECT_TRUE(ini.ReadBool("b", "ten", false));
    EXPECT_TRUE(ini.ReadBool("b", "yes", false));
    EXPECT_FALSE(ini.ReadBool("b", "off", true));
    EXPECT_TRUE(ini.ReadBool("b", "maybe", true));
    EXPECT_FALSE(ini.ReadBool("b", "maybe", false));
}

TEST_F(IniFileTest, MissingOrUnreadableFileReadsAsEmpty) {
    const TIniFile missing(path_);
    EXPECT_EQ(missing.ReadString("hosts", "icp", "default"), "default");
    EXPECT_EQ(missing.ReadInteger("hosts", "port", 80), 80);

    const TIniFile directory(dir_.string());
    EXPECT_EQ(directory.ReadString("hosts", "icp", "default"), "default");

    // A write to a missing file creates it; one into a missing folder fails and changes nothing.
    TIniFile created(path_);
    EXPECT_TRUE(created.WriteString("hosts", "icp", "x"));
    EXPECT_EQ(Get(), "[hosts]\nicp=x\n");
    TIniFile nowhere((dir_ / "no-such-folder" / "qzclient.cfg").string());
    EXPECT_FALSE(nowhere.WriteString("hosts", "icp", "x"));
    EXPECT_EQ(nowhere.ReadString("hosts", "icp", "unchanged"), "unchanged");
}

TEST_F(IniFileTest, AWriteKeepsOtherSectionsCommentsAndUnknownLines) {
    const std::string before =
        "; written by hand\n"
        "[config]\n"
        "first=0\n"
        "something odd\n"
        "\n"
        "[hosts]\n"
        "baidu=www.baidu.com\n"
        "\n"
        "[hosts]\n"
        "icp=second-section.example.cn\n";
    Put(before);
    ::chmod(path_.c_str(), 0640);
    TIniFile ini(path_);
    EXPECT_TRUE(ini.WriteString("config", "first", "1"));
    EXPECT_TRUE(ini.WriteString("hosts", "icp", "icp.example.cn"));  // into the first [hosts], before its blank line
    EXPECT_EQ(Get(),
              "; written by hand\n"
              "[config]\n"
              "first=1\n"
              "something odd\n"
              "\n"
              "[hosts]\n"
              "baidu=www.baidu.com\n"
              "icp=icp.example.cn\n"
              "\n"
              "[hosts]\n"
              "icp=second-section.example.cn\n");
    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(IniFileTest, AWriteThatWouldNotReadBackAsWrittenIsRefused) {
    Put("[hosts]\nicp=a.example.cn\n");
    TIniFile ini(path_);
    EXPECT_FALSE(ini.WriteString("hosts", "icp", "b.example.cn\n[hosts]\nupdate=evil.example.cn"));
    EXPECT_FALSE(ini.WriteString("hosts", "icp\r", "b"));
    EXPECT_FALSE(ini.WriteString("hosts", "a=b", "c"));
    EXPECT_FALSE(ini.WriteString("hosts", " ", "c"));
    EXPECT_FALSE(ini.WriteString("hosts", ";icp", "c"));
    EXPECT_FALSE(ini.WriteString("ho]sts", "icp", "c"));
    EXPECT_FALSE(ini.WriteString("", "icp", "c"));
    EXPECT_EQ(Get(), "[hosts]\nicp=a.example.cn\n");
    EXPECT_EQ(ini.ReadString("hosts", "icp", ""), "a.example.cn");
}

}  // namespace
}  // namespace vexo
