// Shared helpers: text extraction, links, URL encoding, truncation, paths, processes, file version, time stamps.
#include "text/Global.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vexo {
namespace {

namespace fs = std::filesystem;

// A private temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vexo-global-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

// Sets or clears an environment variable for the scope of a test.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Trim, RemovesControlBytesAndSpacesAtBothEndsOnly) {
    EXPECT_EQ(Trim(std::string_view("\0\t\r\n a b \x1f", 10)), "a b");
    EXPECT_EQ(Trim("\x7f\xe5\x9c\xb0 "), "\x7f\xe5\x9c\xb0");  // DEL and UTF-8 bytes are kept
    EXPECT_EQ(Trim(" \t\r\n"), "");
    EXPECT_EQ(Trim(""), "");
}

TEST(TextBetween, FirstStartMarkerUpToFirstFollowingEnd) {
    EXPECT_EQ(TextBetween("<b>", "</b>", "x<b>one</b><b>two</b>"), "one");
    EXPECT_EQ(TextBetween("[", "]", "a]b[c]d[e]"), "c");  // an end marker before the start does not count
    EXPECT_EQ(TextBetween("名称：", "<", "公司名称：广州某某有限公司<br>"), "广州某某有限公司");
    EXPECT_EQ(TextBetween("<b>", "</b>", "<b></b>"), "");
}

TEST(TextBetween, MissingOrEmptyMarkers) {
    EXPECT_EQ(TextBetween("id=", "&", "a?id=42"), "42");         // end absent: the rest
    EXPECT_EQ(TextBetween("id=", "", "a?id=42&b=1"), "42&b=1");  // end empty: the rest
    EXPECT_EQ(TextBetween("id=", "&", "a?x=42"), "");            // start absent
    EXPECT_EQ(TextBetween("", "&", "a&b"), "");                  // start empty
    EXPECT_EQ(TextBetween("end", "x", "the end"), "");           // start at the very end
    EXPECT_EQ(TextBetween("a", "b", ""), "");
}

TEST(IsEngineDomain, MatchesEngineHostsOnly) {
    EXPECT_TRUE(IsEngineDomain("http://www.baidu.com/link?url=abc"));
    EXPECT_TRUE(IsEngineDomain("HTTP://WWW.SO.COM/s?q=1"));
    EXPECT_TRUE(IsEngineDomain("https://sogou.com/"));
    EXPECT_TRUE(IsEngineDomain("http://m.sogou.com/web"));
    EXPECT_FALSE(IsEngineDomain("http://espresso.com"));
    EXPECT_FALSE(IsEngineDomain("http://www.iso.com/"));
    EXPECT_FALSE(IsEngineDomain("http://www.example.com/?from=baidu.com"));
    EXPECT_FALSE(IsEngineDomain("http://www.example.com/baidu.com"));
    EXPECT_FALSE(IsEngineDomain(""));
}

TEST(ExtractHref, QuotedAndUnquotedValuesLowerCased) {
    EXPECT_EQ(ExtractHref("<a href=\"/Contact.HTML\" class=x>联系我们</a>"), "/contact.html");
    EXPECT_EQ(ExtractHref("<a href='About Us.html'>关于我们</a>"), "about us.html");
    EXPECT_EQ(ExtractHref("<A HREF=Lianxi.asp>联系方式</A>"), "lianxi.asp");
    EXPECT_EQ(ExtractHref("<a href=x.html target=_blank>联系</a>"), "x.html");
    EXPECT_EQ(ExtractHref("<a href=\"/关于/Us.html\">关于</a>"), "/关于/us.html");  // only ASCII is lowered
}

TEST(ExtractHref, UnquotedValueEndsAtTagEndBeforeAnySpaceInTheText) {
    EXPECT_EQ(ExtractHref("<a href=contact.html>联系 我们</a>"), "contact.html");
    EXPECT_EQ(ExtractHref("<a href=contact.html\n>联系</a>"), "contact.html");
}

TEST(ExtractHref, MissingOrEmptyValues) {
    EXPECT_EQ(ExtractHref("<a href= \"x.html\">联系</a>"), "");
    EXPECT_EQ(ExtractHref("<a name=top>联系</a>"), "");
    EXPECT_EQ(ExtractHref("<a href="), "");
    EXPECT_EQ(ExtractHref("<a href=\"open.html"), "open.html");  // no closing quote: the whole remainder
    EXPECT_EQ(ExtractHref("<a href=\"\">x</a>"), "");
}

TEST(ResolveLink, RelativeToSiteRoot) {
    EXPECT_EQ(ResolveLink("www.a.com", "../../about/contact.html"), "http://www.a.com/about/contact.html");
    EXPECT_EQ(ResolveLink("www.a.com", "Contact.HTML"), "http://www.a.com/contact.html");
    EXPECT_EQ(ResolveLink("www.a.com", "./a/../b.html"), "http://www.a.com/a/../b.html");
    EXPECT_EQ(ResolveLink("www.a.com", "/"), "http://www.a.com/");
    EXPECT_EQ(ResolveLink("www.a.com", ""), "http://www.a.com/");
    EXPECT_EQ(ResolveLink("www.a.com", ".././/"), "http://www.a.com/");
}

TEST(ResolveLink, OnlyPlainHttpCountsAsAbsolute) {
    EXPECT_EQ(ResolveLink("www.a.com", "HTTP://WWW.B.COM/Lx.asp"), "http://www.b.com/lx.asp");
    EXPECT_EQ(ResolveLink("www.a.com", "https://b.com/X"), "http://www.a.com/https://b.com/x");
    EXPECT_EQ(ResolveLink("www.a.com", " http://b.com"), "http://www.a.com/ http://b.com");
}

TEST(UrlEncode, EncodesGbkBytes) {
    EXPECT_EQ(UrlEncode("led 中文", false), "led%20%D6%D0%CE%C4");
    EXPECT_EQ(UrlEncode("led 中文", true), "led+%D6%D0%CE%C4");
    EXPECT_EQ(UrlEncode("a\U000E0041\U0001F600b", false), "a%3F%3Fb");  // characters outside GBK, tags included
    EXPECT_EQ(UrlEncode("AZaz09-./:_", false), "AZaz09-./:_");
    EXPECT_EQ(UrlEncode("~!*'()%+&=?#", false), "%7E%21%2A%27%28%29%25%2B%26%3D%3F%23");
    EXPECT_EQ(UrlEncode("€", false), "%80");
    EXPECT_EQ(UrlEncode("", true), "");
}

TEST(UrlEncode, CharactersWithoutGbkFormBecomeQuestionMarks) {
    EXPECT_EQ(UrlEncode("a\U0001F600b", false), "a%3Fb");
    EXPECT_EQ(UrlEncode(std::string("a\xFF") + "b", false), "a%3Fb");
    EXPECT_EQ(UrlEncode("\t\n", false), "%09%0A");
}

TEST(TruncateWithEllipsis, CountsGbkBytesAndNeverSplitsACharacter) {
    EXPECT_EQ(TruncateWithEllipsis("ab中文", 6), "ab中文");  // 6 GBK bytes: unchanged
    EXPECT_EQ(TruncateWithEllipsis("ab中文", 5), "ab中...");
    EXPECT_EQ(TruncateWithEllipsis("ab中文", 4), "ab中...");
    EXPECT_EQ(TruncateWithEllipsis("ab中文", 3), "ab...");  // byte 3 starts a double-byte character
    EXPECT_EQ(TruncateWithEllipsis("abcdef", 3), "abc...");
    EXPECT_EQ(TruncateWithEllipsis("abc", 0), "...");
    EXPECT_EQ(TruncateWithEllipsis("", 0), "");
    // 1 + 19 * 2 = 39 GBK bytes cut at 34: byte 34 would start a character, so 33 are kept.
    const std::string name = "A广州市天河区某某某某科技有限公司分公司";
    EXPECT_EQ(TruncateWithEllipsis(name, 34), "A广州市天河区某某某某科技有限公司...");
}

TEST(TruncateWithEllipsis, SingleByteGbkFormsCountOne) {
    EXPECT_EQ(TruncateWithEllipsis("€€€€", 4), "€€€€");  // the euro sign is one GBK byte
    EXPECT_EQ(TruncateWithEllipsis("€€€€", 3), "€€€...");
    EXPECT_EQ(TruncateWithEllipsis("\U0001F600\U0001F600x", 2), "\U0001F600\U0001F600...");  // would be "?"
    const std::string malformed = std::string("\xE4\xB8") + "abc";
    EXPECT_EQ(TruncateWithEllipsis(malformed, 3), std::string("\xE4\xB8") + "a...");
}

TEST(SplitAt, FirstSeparatorSplits) {
    using Parts = std::pair<std::string, std::string>;
    EXPECT_EQ(SplitAt("key=value", "="), Parts("key", "value"));
    EXPECT_EQ(SplitAt("a=b=c", "="), Parts("a", "b=c"));
    EXPECT_EQ(SplitAt("=x", "="), Parts("", "x"));
    EXPECT_EQ(SplitAt("x=", "="), Parts("x", ""));
    EXPECT_EQ(SplitAt("abc", "="), Parts("", "abc"));
    EXPECT_EQ(SplitAt("", "="), Parts("", ""));
    EXPECT_EQ(SplitAt("名称|值", "|"), Parts("名称", "值"));
}

TEST(AppendWithSeparator, SeparatorOnlyBetweenItems) {
    std::string list;
    EXPECT_EQ(&AppendWithSeparator(list, "a", ","), &list);
    EXPECT_EQ(list, "a");
    AppendWithSeparator(list, "b", ",");
    AppendWithSeparator(list, "", ",");
    EXPECT_EQ(AppendWithSeparator(list, "c", ", "), "a,b,, c");
}

TEST(TextAfterLastAndBeforeLast, SplitAtLastCharacter) {
    EXPECT_EQ(TextAfterLast("/a/b/c.exe", '/', "none"), "c.exe");
    EXPECT_EQ(TextAfterLast("c.exe", '/', "none"), "none");
    EXPECT_EQ(TextAfterLast("dir/", '/', "none"), "");
    EXPECT_EQ(TextBeforeLast("/a/b/c.exe", '/'), "/a/b");
    EXPECT_EQ(TextBeforeLast("c.exe", '/'), "c.exe");
    EXPECT_EQ(TextBeforeLast("/c", '/'), "");
}

TEST(IncludeBackslash, AppendsSlashUnlessBlankOrPresent) {
    EXPECT_EQ(IncludeBackslash("/tmp"), "/tmp/");
    EXPECT_EQ(IncludeBackslash("/tmp/"), "/tmp/");
    EXPECT_EQ(IncludeBackslash("数据"), "数据/");
    EXPECT_EQ(IncludeBackslash(""), "");
    EXPECT_EQ(IncludeBackslash(" \t"), " \t");
    EXPECT_EQ(IncludeBackslash("/"), "/");
}

TEST(AppDir, ExecutableDirectoryOrVexoHome) {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    {
        ScopedEnv home("VEXO_HOME", nullptr);
        EXPECT_EQ(AppDir(), exe.parent_path().string() + "/");
    }
    {
        ScopedEnv home("VEXO_HOME", "");
        EXPECT_EQ(AppDir(), exe.parent_path().string() + "/");
    }
    {
        ScopedEnv home("VEXO_HOME", "/srv/vexo");
        EXPECT_EQ(AppDir(), "/srv/vexo/");
    }
    {
        ScopedEnv home("VEXO_HOME", "/srv/vexo/");
        EXPECT_EQ(AppDir(), "/srv/vexo/");
    }
    EXPECT_EQ(ExeFileName(), exe.filename().string());
}

// An installed copy (marked) or a folder the user cannot write keeps its data in the XDG data folder, made on
// first use.
TEST(AppDir, InstalledCopiesKeepTheirDataInTheXdgDataFolder) {
    TempDir dir;
    const fs::path program = dir.Path() / "lib" / "vexo";
    fs::create_directories(program);
    const std::string programDir = program.string() + "/";
    EXPECT_EQ(DataFolderOfProgram(programDir), programDir);
    std::ofstream(program / std::string(kInstalledMarker)) << "installed\n";
    {
        ScopedEnv xdg("XDG_DATA_HOME", (dir.Path() / "share").c_str());
        EXPECT_EQ(DataFolderOfProgram(programDir), (dir.Path() / "share" / "vexo").string() + "/");
        EXPECT_TRUE(fs::is_directory(dir.Path() / "share" / "vexo"));
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/ignored");
        ScopedEnv home("HOME", (dir.Path() / "home").c_str());
        EXPECT_EQ(DataFolderOfProgram(programDir), (dir.Path() / "home" / ".local" / "share" / "vexo").string() + "/");
    }
}

TEST(FileVersionText, ReadsMarkerFromFile) {
    TempDir dir;
    const auto write = [&](const std::string& name, const std::string& content) {
        const fs::path path = dir.Path() / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    };
    const std::string marker(kVersionMarker);
    EXPECT_EQ(FileVersionText(write("plain", "x" + marker + "2.1.30.65535" + '\0')), "2.1.30.65535");
    EXPECT_EQ(FileVersionText(write("at-end", marker + "3.04.0.1")), "3.4.0.1");
    // Invalid markers before the real one are passed over.
    EXPECT_EQ(FileVersionText(write("skip", marker + '\0' + marker + "1.2.3" + '\0' + marker + "1.2.3.65536;" + marker +
                                                "1.2.3.123456;" + marker + "4.3.2.1")),
              "4.3.2.1");
    EXPECT_EQ(FileVersionText(write("none", "no version here")), kDefaultFileVersion);
    EXPECT_EQ(FileVersionText(write("empty", "")), kDefaultFileVersion);
    EXPECT_EQ(FileVersionText(write("cut", marker + "1.2.")), kDefaultFileVersion);
    EXPECT_EQ(FileVersionText((dir.Path() / "missing").string()), kDefaultFileVersion);
    EXPECT_EQ(FileVersionText(dir.Path().string()), kDefaultFileVersion);
}

TEST(FileVersionText, FindsMarkerAcrossReadChunksOfLargeFiles) {
    TempDir dir;
    const std::string marker(kVersionMarker);
    const std::string entry = marker + "7.8.9.10";
    // The marker or its version text straddles every chunk boundary position a reader might use.
    for (const std::size_t chunk : {std::size_t{4096}, std::size_t{65536}}) {
        for (std::size_t back = 1; back <= entry.size() + 1; ++back) {
            std::string content(3 * chunk, '\x90');
            content.replace(2 * chunk - back, entry.size(), entry);
            const fs::path path = dir.Path() / "big";
            std::ofstream(path, std::ios::binary) << content;
            EXPECT_EQ(FileVersionText(path.string()), "7.8.9.10") << "chunk " << chunk << " back " << back;
        }
    }
    // Several megabytes with the marker near the end.
    std::string content(5 * 1024 * 1024, 'M');
    content += entry + '\0';
    const fs::path path = dir.Path() / "large";
    std::ofstream(path, std::ios::binary) << content;
    EXPECT_EQ(FileVersionText(path.string()), "7.8.9.10");
}

TEST(UnixSeconds, DateTimeConversion) {
    EXPECT_EQ(DateTimeToUnixSeconds(25569.0), 0);
    EXPECT_EQ(DateTimeToUnixSeconds(25569.5), 43200);
    EXPECT_EQ(DateTimeToUnixSeconds(45351.5), 1709208000);      // 2024-02-29 12:00
    EXPECT_EQ(DateTimeToUnixSeconds(0.0), -2209161600);         // 1899-12-30
    EXPECT_EQ(DateTimeToUnixSeconds(-1.25), -2209269600);       // 1899-12-29 06:00 (day part, then time)
    EXPECT_EQ(DateTimeToUnixSeconds(2958465.0), 253402214400);  // 9999-12-31
    EXPECT_DOUBLE_EQ(UnixSecondsToDateTime(0), 25569.0);
    EXPECT_DOUBLE_EQ(UnixSecondsToDateTime(1709208000), 45351.5);
    EXPECT_DOUBLE_EQ(UnixSecondsToDateTime(-2209161600), 0.0);
}

TEST(UnixSeconds, RoundsToNearestSecondAndRoundTrips) {
    const double second = 1.0 / 86400.0;
    EXPECT_EQ(DateTimeToUnixSeconds(25569.0 + 0.4 * second), 0);
    EXPECT_EQ(DateTimeToUnixSeconds(25569.0 + 0.6 * second), 1);
    EXPECT_EQ(DateTimeToUnixSeconds(25569.0 - 0.6 * second), -1);
    EXPECT_EQ(DateTimeToUnixSeconds(45351.5 - 1e-9), 1709208000);  // a value read back from a float column
    for (const std::int64_t s : {std::int64_t{-5000000000}, std::int64_t{-1}, std::int64_t{1}, std::int64_t{59},
                                 std::int64_t{1700000000}, std::int64_t{4102444799}, std::int64_t{253402300799}}) {
        EXPECT_EQ(DateTimeToUnixSeconds(UnixSecondsToDateTime(s)), s);
    }
    EXPECT_EQ(DateTimeToUnixSeconds(std::nan("")), 0);
    EXPECT_EQ(DateTimeToUnixSeconds(std::numeric_limits<double>::infinity()), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(DateTimeToUnixSeconds(-std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int64_t>::min());
}

// Processes: children started from a copy of sleep under a unique name, so nothing else can match.
class ProcessKill : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        name_ = "vexoSleep" + std::to_string(::getpid());
        program_ = dir_.Path() / name_;
        fs::copy_file("/bin/sleep", program_);
    }

    void TearDown() override {
        for (const pid_t child : children_) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }

    // Starts the program and waits until the child runs it (before exec it is still a copy of this test).
    pid_t Start(const fs::path& program, bool ownGroup = false) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (ownGroup)
                ::setpgid(0, 0);
            ::execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        children_.push_back(child);
        const fs::path exeLink = "/proc/" + std::to_string(child) + "/exe";
        for (int i = 0; i < 500; ++i) {
            std::error_code error;
            if (fs::read_symlink(exeLink, error) == program)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return child;
    }

    // True when the child ended through SIGKILL (reaps it).
    bool DiedOfSigkill(pid_t child) {
        int status = 0;
        if (::waitpid(child, &status, 0) != child)
            return false;
        std::erase(children_, child);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    bool StillRunning(pid_t child) { return ::waitpid(child, nullptr, WNOHANG) == 0; }

    TempDir dir_;
    std::string name_;
    fs::path program_;
    std::vector<pid_t> children_;
};

TEST_F(ProcessKill, ByNameIgnoringCaseOrFullPath) {
    const pid_t first = Start(program_);
    const pid_t second = Start(program_);
    std::string upper = name_;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(KillProcessByName(upper));
    EXPECT_TRUE(DiedOfSigkill(first));
    EXPECT_TRUE(DiedOfSigkill(second));

    const pid_t third = Start(program_);
    EXPECT_TRUE(KillProcessByName(program_.string()));
    EXPECT_TRUE(DiedOfSigkill(third));
}

TEST_F(ProcessKill, ByNameAfterTheProgramFileWasReplaced) {
    // An updater replaces or deletes the file of a running program; the process keeps its name.
    const pid_t child = Start(program_);
    fs::remove(program_);
    EXPECT_TRUE(KillProcessByName(name_));
    EXPECT_TRUE(DiedOfSigkill(child));
}

TEST_F(ProcessKill, ByNameWithoutMatchIsFalse) {
    const pid_t child = Start(program_);
    EXPECT_FALSE(KillProcessByName(name_ + "x"));
    EXPECT_FALSE(KillProcessByName(name_.substr(1)));
    EXPECT_FALSE(KillProcessByName(""));
    EXPECT_TRUE(StillRunning(child));
}

TEST_F(ProcessKill, ById) {
    const pid_t child = Start(program_);
    EXPECT_TRUE(KillProcessById(child));
    EXPECT_TRUE(DiedOfSigkill(child));
    EXPECT_FALSE(KillProcessById(child));  // reaped: no longer running
    EXPECT_FALSE(KillProcessById(std::numeric_limits<pid_t>::max()));
}

TEST_F(ProcessKill, ByIdNeverSignalsAProcessGroup) {
    // A negative id would make kill() signal the whole group; the child's own group is the only one at risk.
    const pid_t child = Start(program_, true);
    EXPECT_FALSE(KillProcessById(-child));
    EXPECT_TRUE(StillRunning(child));
    // Id 0 would signal the caller's group: try it from a child in a group of its own.
    const pid_t prober = ::fork();
    if (prober == 0) {
        ::setpgid(0, 0);
        ::_exit(KillProcessById(0) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(prober, &status, 0), prober);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Run only inside a copy of this test program (see OwnProcessEndsLast): once the go file exists, ends every
// process with its own name. A plain test, not the fixture: the fixture's temporary folder would outlive the kill.
TEST(ProcessKillHelper, SelfKill) {
    const char* name = std::getenv("VEXO_TEST_KILL_NAME");
    const char* goFile = std::getenv("VEXO_TEST_KILL_GO");
    if (name == nullptr || goFile == nullptr)
        GTEST_SKIP() << "helper for OwnProcessEndsLast";
    for (int i = 0; i < 1000 && !fs::exists(goFile); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    KillProcessByName(name);
    std::_Exit(3);  // reached only when the own process was not killed
}

TEST_F(ProcessKill, OwnProcessEndsLast) {
    // A copy of this program and a sleeper share one file name; the copy kills by that name. The sleeper is started
    // after the copy, so it has the higher id and comes later in /proc: it can only die if the copy put itself last.
    const fs::path otherDir = dir_.Path() / "other";
    fs::create_directory(otherDir);
    const fs::path selfCopy = otherDir / name_;
    const fs::path goFile = dir_.Path() / "go";
    fs::copy_file(fs::read_symlink("/proc/self/exe"), selfCopy);
    ::setenv("VEXO_TEST_KILL_NAME", name_.c_str(), 1);
    ::setenv("VEXO_TEST_KILL_GO", goFile.c_str(), 1);
    const pid_t killer = ::fork();
    if (killer == 0) {
        ::execl(selfCopy.c_str(), selfCopy.c_str(), "--gtest_filter=ProcessKillHelper.SelfKill",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::unsetenv("VEXO_TEST_KILL_NAME");
    ::unsetenv("VEXO_TEST_KILL_GO");
    children_.push_back(killer);
    const pid_t sleeper = Start(program_);
    std::ofstream(goFile) << "go";
    EXPECT_TRUE(DiedOfSigkill(killer));
    EXPECT_TRUE(DiedOfSigkill(sleeper));
}

}  // namespace
}  // namespace vexo
