// Operating-system services: the pattern language, wildcard expansion over real directories,
// unique names, the escape notation and the small helpers.
#include <gtest/gtest.h>

#include "core/os.h"
#include "screen/display.h"
#include "script/cmd.h"
#include "transfer/xfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A private directory the test works in; removed with everything in it.
struct ScratchDir {
    fs::path path;
    fs::path oldcwd;
    ScratchDir() {
        char tmpl[] = "/tmp/vorn-os-XXXXXX";
        path = mkdtemp(tmpl);
        oldcwd = fs::current_path();
    }
    ~ScratchDir() {
        fs::current_path(oldcwd);
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    void touch(const std::string& name) const { std::ofstream(path / name) << ""; }
    std::string str() const { return path.string(); }
};

// Console bytes while alive.
struct Capture {
    std::string bytes;
    Capture() {
        oflush();
        setconswriter([this](const char* p, size_t n) { bytes.append(p, n); });
    }
    ~Capture() {
        oflush();
        setconswriter({});
    }
};

std::vector<std::string> names() {
    return std::vector<std::string>(wsortbuf.begin(), wsortbuf.end());
}

TEST(Smatch, PatternLanguage) {
    // clang-format off
    struct { const char* pat; const char* name; int want; } rows[] = {
        {"*", "file", 1},         {"*", ".hidden", 0},      {".*", ".hidden", 1},
        {"*", ".", 0},            {"*", "..", 0},           {".*", ".", 0},
        {".*", "..", 0},          {"?", "a", 1},            {"?", "", 0},
        {"??", "a", 0},           {"a?c", "abc", 1},        {"{a-c}x", "bx", 1},
        {"{a-c}x", "dx", 0},      {"{a-c}x", "ax", 1},      {"{a-c}x", "cx", 1},
        {"{xa-c}", "x", 1},       {"{abc", "a", 0},         {"{a-c", "b", 0},
        {"a*b", "aab", 1},        {"a*b", "ab", 1},         {"a*b", "a", 0},
        {"a*b", "abc", 0},        {"*.c", "main.c", 1},     {"*.c", "main.cpp", 0},
        {"a*", "a", 1},           {"*x*", "abxcd", 1},      {"*x*", "abcd", 0},
        {"File", "file", 0},      {"", "", 1},              {"", "a", 0},
        {"{}a", "a", 0},          {"{-}", "-", 1},          {"{a-}", "-", 1},
        {"*{0-9}", "log7", 1},    {"*{0-9}", "logx", 0},    {"a**b", "axyb", 1},
    };
    // clang-format on
    for (auto& r : rows)
        EXPECT_EQ(smatch(r.pat, r.name), r.want) << r.pat << " vs " << r.name;
}

TEST(Expand, SortedNamesAndDirectoryPart) {
    ScratchDir d;
    for (const char* n : {"delta.c", "alpha.c", "Beta.c", "gamma.h", ".hidden.c"})
        d.touch(n);
    fs::create_directory(d.path / "sub.c");
    std::vector<char> buf(static_cast<size_t>(wbufsiz));
    std::string dir;
    EXPECT_EQ(expand((d.str() + "/*.c").c_str(), dir, buf, 0), 4);
    EXPECT_EQ(dir, d.str());
    EXPECT_EQ(names(), (std::vector<std::string>{"Beta.c", "alpha.c", "delta.c", "sub.c"}));

    fs::current_path(d.path);
    EXPECT_EQ(expand("*.h", dir, buf, 0), 1);
    EXPECT_EQ(dir, "");
    EXPECT_EQ(names(), std::vector<std::string>{"gamma.h"});
    EXPECT_EQ(expand(".*", dir, buf, 0), 1);
    EXPECT_EQ(names(), std::vector<std::string>{".hidden.c"});
    EXPECT_EQ(expand("*.zip", dir, buf, 0), 0);
}

TEST(Expand, ExcludeTakesTheOthersButNotDotNames) {
    ScratchDir d;
    for (const char* n : {"a.c", "b.o", "c.o", ".profile"})
        d.touch(n);
    std::vector<char> buf(static_cast<size_t>(wbufsiz));
    std::string dir;
    EXPECT_EQ(expand((d.str() + "/*.o").c_str(), dir, buf, 1), 1);
    EXPECT_EQ(names(), std::vector<std::string>{"a.c"});
    // The option word of the name decides when no mode is given.
    flags = 4;
    EXPECT_EQ(expand((d.str() + "/*.c").c_str(), dir, buf), 2);
    EXPECT_EQ(names(), (std::vector<std::string>{"b.o", "c.o"}));
    flags = 0;
    EXPECT_EQ(expand((d.str() + "/*.c").c_str(), dir, buf), 1);
}

TEST(Expand, RootAndMissingDirectories) {
    std::vector<char> buf(static_cast<size_t>(wbufsiz));
    std::string dir;
    EXPECT_GT(expand("/tm?", dir, buf, 0), 0);
    EXPECT_EQ(dir, "/");
    EXPECT_EQ(names(), std::vector<std::string>{"tmp"});
    Capture cap;
    EXPECT_EQ(expand("/no/such/dir/*", dir, buf, 0), 0);
    EXPECT_EQ(expand("/etc/passwd/*", dir, buf, 0), 0) << "not a directory";
    EXPECT_EQ(cap.bytes, "") << "a missing directory gives no names and no message";
}

TEST(Expand, UnreadableDirectoryGivesNothingQuietly) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every directory";
    ScratchDir d;
    fs::create_directory(d.path / "locked");
    std::ofstream(d.path / "locked" / "x") << "";
    chmod((d.path / "locked").c_str(), 0);
    std::vector<char> buf(static_cast<size_t>(wbufsiz));
    std::string dir;
    Capture cap;
    EXPECT_EQ(expand((d.str() + "/locked/*").c_str(), dir, buf, 0), 0);
    EXPECT_EQ(cap.bytes, "");
}

TEST(Expand, OverflowKeepsWhatFitsSorted) {
    ScratchDir d;
    // 400 names of 10 characters: 11 bytes each; after 325 names 9 bytes remain, fewer than 14.
    for (int i = 399; i >= 0; i--) {
        char n[16];
        snprintf(n, sizeof n, "file%03d.tx", i);
        d.touch(n);
    }
    std::vector<char> buf(3584);
    std::string dir;
    Capture cap;
    EXPECT_EQ(expand((d.str() + "/*").c_str(), dir, buf, 0), 325);
    EXPECT_EQ(cap.bytes, "\a*** Wildcard expansion buffer overflow\r\n");
    std::vector<std::string> got = names();
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()).size(), 325u);
}

TEST(Expand, LongNamesNeverOverrunTheBuffer) {
    ScratchDir d;
    std::string longname(255, 'n');
    d.touch(longname);
    d.touch(std::string(200, 'm'));
    // 300 bytes: one 255-byte name fits with its terminator, the second cannot.
    std::vector<char> buf(300);
    std::string dir;
    Capture cap;
    EXPECT_EQ(expand((d.str() + "/*").c_str(), dir, buf, 0), 1);
    EXPECT_EQ(cap.bytes, "\a*** Wildcard expansion buffer overflow\r\n");
    std::vector<char> tiny(10);
    cap.bytes.clear();
    EXPECT_EQ(expand((d.str() + "/*").c_str(), dir, tiny, 0), 0);
    EXPECT_EQ(cap.bytes, "\a*** Wildcard expansion buffer overflow\r\n");
}

TEST(Exsort, ShellSortByBytes) {
    const char* v[] = {"b", "B", "a", "aa", "", "\xff", "A"};
    exsort(v, 7);
    std::vector<std::string> got(v, v + 7);
    EXPECT_EQ(got, (std::vector<std::string>{"", "A", "B", "a", "aa", "b", "\xff"}));
    exsort(v, 0);
}

TEST(Funiq, NumbersRunsOfHashes) {
    ScratchDir d;
    fs::current_path(d.path);
    osreset();
    EXPECT_EQ(funiq("log##"), "log00");
    EXPECT_TRUE(fs::exists("log00"));
    EXPECT_EQ(funiq("log##"), "log01");
    EXPECT_EQ(funiq("log##"), "log02");
    EXPECT_EQ(funiq("capt#.fil"), "capt0.fil");
    EXPECT_EQ(funiq("capt#.fil"), "capt1.fil");
    EXPECT_EQ(funiq("plain"), "plain");
    EXPECT_TRUE(fs::exists("plain"));
    fs::create_directory("dir0");
    EXPECT_EQ(funiq("dir#"), "") << "a candidate that is a directory cannot be created";
    EXPECT_EQ(funiq("nodir/x#"), "");
}

TEST(Funiq, CounterGrowsPastTheRun) {
    ScratchDir d;
    fs::current_path(d.path);
    for (int i = 0; i < 10; i++)
        d.touch("p" + std::to_string(i));
    EXPECT_EQ(funiq("p#"), "p10");
}

TEST(Macsub, Runs) {
    std::string out;
    EXPECT_EQ(macsub("a###b", out, 1, 1), 1);
    EXPECT_EQ(out, "a000b");
    EXPECT_EQ(macsub("x#", out, 4, 0), 1);
    EXPECT_EQ(out, "x0001");
    EXPECT_EQ(macsub("none", out, 1, 1), 0);
    EXPECT_EQ(out, "none");
    EXPECT_EQ(macsub("#-#", out, 1, 1), 1);
    EXPECT_EQ(out, "0-1");
}

TEST(Expstr, Notation) {
    // clang-format off
    struct { const char* in; int mode; const char* want; int count; int used; } rows[] = {
        {"abc", 0, "abc", 3, 3},
        {"ab cd", 0, "ab", 2, 2},
        {"\"ab cd\" x", 0, "ab cd", 5, 7},
        {"'a\"b'", 0, "a\"b", 3, 5},
        {"^M^J", 0, "\r\n", 2, 4},
        {"\\e[0m", 0, "\033[0m", 4, 5},
        {"\\033\\x1B\\x7", 0, "\033\033\007", 3, 11},
        {"\\101\\1012", 0, "AA2", 3, 9},
        {"\\B\\F\\N\\R\\T\\V", 0, "\b\f\n\r\t\v", 6, 12},
        {"\\\"\\'\\-\\\\\\^", 0, "\"'-\\^", 5, 10},
        {"'a-d'", 1, "abcd", 3, 5},
        {"a-c-e", 1, "abc-e", 4, 5},
        {"x-", 1, "x-", 1, 2},
        {"-a", 1, "-a", 1, 2},
        {"\\0-\\3", 1, "\0\1\2\3", 3, 5},
        {"a-d", 0, "a-d", 3, 3},
        {"a b 'c", 2, "a b 'c", 6, 6},
        {"", 0, "", 0, 0},
        {"'x", 0, nullptr, 0, 0},
        {"\\q", 0, nullptr, 0, 0},
        {"\\x", 0, nullptr, 0, 0},
        {"\\xg", 0, nullptr, 0, 0},
        {"ab^", 0, nullptr, 0, 0},
        {"ab\\", 2, nullptr, 0, 0},
        {"'d-a'", 1, nullptr, 0, 0},
        {"'a-a'", 1, nullptr, 0, 0},
        {"''", 1, nullptr, 0, 0},
        {"", 1, nullptr, 0, 0},
    };
    // clang-format on
    for (auto& r : rows) {
        uint8_t out[EXPSTRMAX + 2] = {};
        const char* end = expstr(r.in, out, r.mode);
        if (!r.want) {
            EXPECT_EQ(end, nullptr) << r.in;
            continue;
        }
        ASSERT_NE(end, nullptr) << r.in;
        EXPECT_EQ(end - r.in, r.used) << r.in;
        EXPECT_EQ(out[0], r.count) << r.in;
        size_t stored = r.mode == 1 ? out[0] + 1u : out[0];
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out + 1), stored),
                  std::string(r.want, stored))
            << r.in;
    }
}

TEST(Expstr, LengthLimits) {
    uint8_t out[EXPSTRMAX + 2];
    std::string s255(255, 'x');
    ASSERT_NE(expstr(s255.c_str(), out, 2), nullptr);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(expstr((s255 + "y").c_str(), out, 2), nullptr) << "overlong is refused";
    // A whole byte table in mode 1: 256 characters, count 255.
    ASSERT_NE(expstr("\\0-\\377", out, 1), nullptr);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[256], 255);
}

TEST(Helpers, ByteOrder) {
    uint8_t a[] = {0x34, 0x92};
    EXPECT_EQ(get16(a), -28108);
    uint8_t ff[] = {0xff, 0xff};
    EXPECT_EQ(get16(ff), -1);
    uint8_t b[4];
    put16(b, 0x1234);
    EXPECT_EQ(b[0], 0x34);
    EXPECT_EQ(b[1], 0x12);
    put32(b, 0x12345678L);
    EXPECT_EQ(b[0], 0x78);
    EXPECT_EQ(b[3], 0x12);
    EXPECT_EQ(get32(b), 0x12345678L);
    EXPECT_EQ(get32fix(b), 0x12345678L);
    uint8_t c[4] = {};
    ldir(b, c, 4);
    EXPECT_EQ(get32(c), 0x12345678L);
}

TEST(Helpers, CharactersAndStrings) {
    EXPECT_EQ(hexval('7'), 7);
    EXPECT_EQ(hexval('a'), 10);
    EXPECT_EQ(hexval('F'), 15);
    EXPECT_EQ(hexval('z'), 35);
    EXPECT_TRUE(ishex('c'));
    EXPECT_FALSE(ishex('g'));
    char t[] = "MiXed 1";
    char o[16];
    convup(t, o);
    EXPECT_STREQ(o, "MIXED 1");
    convdn(t, nullptr);
    EXPECT_STREQ(t, "mixed 1");
    EXPECT_EQ(prefix("ab", "abc"), 1);
    EXPECT_EQ(prefix("abd", "abc"), 0);
    EXPECT_EQ(prefix("", "abc"), 1);
    const char* path = "/a/b/c";
    EXPECT_EQ(right(path, '/'), path + 4);
    EXPECT_EQ(right(path, 'x'), nullptr);
    EXPECT_EQ(right("", 'x'), nullptr);
    EXPECT_EQ(any('b', "abc"), 1);
    EXPECT_EQ(any('d', "abc"), 0);
    EXPECT_STREQ(nxtarg("a,b,c"), "b,c");
    EXPECT_EQ(nxtarg("a,"), nullptr);
    EXPECT_EQ(nxtarg("a"), nullptr);
    char m[] = "abcdef";
    moveright(m, m + 1, 4);
    EXPECT_STREQ(m, "aabcdf");
    clrbuf(m, 3);
    EXPECT_EQ(m[2], 0);
    EXPECT_EQ(okfname("dir.x/name"), 1);
    EXPECT_EQ(okfname("name.txt"), 0);
    uint8_t e[12];
    fscan("readme.first.txt", e);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(e), 12), std::string("\0README.FTXT", 12));
    fscan("ab", e);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(e), 12), std::string("\0AB         ", 12));
}

TEST(Helpers, FileQueries) {
    ScratchDir d;
    std::string f = d.str() + "/f";
    std::ofstream(f) << "12345";
    chmod(f.c_str(), 0640);
    EXPECT_EQ(filexists(f.c_str()), 1);
    EXPECT_EQ(filexists(d.str().c_str()), 0);
    EXPECT_EQ(isdir(d.str().c_str()), 1);
    EXPECT_EQ(isdir(f.c_str()), 0);
    EXPECT_EQ(filsiz(f.c_str()), 5);
    EXPECT_EQ(filmode(f.c_str()), 0640);
    EXPECT_GT(fildate(f.c_str()), 0);
    std::string none = d.str() + "/none";
    EXPECT_EQ(filsiz(none.c_str()), 0);
    EXPECT_EQ(fildate(none.c_str()), -1);
    EXPECT_EQ(filmode(none.c_str()), 0666);
    EXPECT_EQ(dorename(f.c_str(), none.c_str()), 0);
    EXPECT_EQ(filexists(f.c_str()), 0);
    EXPECT_EQ(filsiz(none.c_str()), 5);
    EXPECT_EQ(dorename(f.c_str(), none.c_str()), -1);
}

TEST(Helpers, Getl) {
    ScratchDir d;
    std::string f = d.str() + "/lines";
    std::ofstream(f) << "one\r\ntwo\n" << std::string(300, 'x') << "\nlast\x1arest";
    FILE* fp = fopen(f.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    char buf[256];
    EXPECT_STREQ(getl(buf, fp), "one");
    EXPECT_STREQ(getl(buf, fp), "two");
    EXPECT_EQ(strlen(getl(buf, fp)), 255u);
    EXPECT_EQ(strlen(getl(buf, fp)), 45u);
    EXPECT_STREQ(getl(buf, fp), "last");
    EXPECT_STREQ(getl(buf, fp), "rest");
    EXPECT_EQ(getl(buf, fp), nullptr);
    fclose(fp);
}

TEST(Helpers, MkdirAndRmdirRunNoShell) {
    ScratchDir d;
    fs::current_path(d.path);
    std::string odd = "a b;touch pwned $(touch pwned2)";
    EXPECT_EQ(domkdir(odd.c_str()), 0);
    EXPECT_EQ(isdir(odd.c_str()), 1);
    EXPECT_FALSE(fs::exists(d.path / "pwned"));
    EXPECT_FALSE(fs::exists(d.path / "pwned2"));
    EXPECT_EQ(dormdir(odd.c_str()), 0);
    EXPECT_EQ(isdir(odd.c_str()), 0);
    std::string dash = d.str() + "/-p";
    EXPECT_EQ(domkdir("-p"), 0) << "a leading dash is a name, not an option";
    EXPECT_EQ(isdir(dash.c_str()), 1);
    EXPECT_NE(dormdir("/no/such/dir"), 0);
}

TEST(Helpers, SystemTempAndHome) {
    EXPECT_EQ(dosystem("exit 3") >> 8, 3);
    const char* t = tempfile();
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(prefix("/tmp/vorn", t));
    EXPECT_EQ(filexists(t), 1);
    unlink(t);
    const char* home = getenv("HOME");
    std::string saved = home ? home : "";
    setenv("HOME", "/somewhere", 1);
    EXPECT_STREQ(gethomedir(), "/somewhere");
    unsetenv("HOME");
    EXPECT_NE(gethomedir(), nullptr) << "the password entry answers without HOME";
    if (home) setenv("HOME", saved.c_str(), 1);
}

TEST(Helpers, EventsAndDelay) {
    osreset();
    EXPECT_EQ(statchk(9), 0);
    ev_key = 1;
    EXPECT_EQ(statchk(9), 8);
    EXPECT_EQ(statchk(1), 0);
    ev_delay = 1;
    EXPECT_EQ(statchk(9), 1);
    EXPECT_EQ(statchk(8), 8);
    osreset();
    EXPECT_EQ(setdelay(100), 0);
    EXPECT_EQ(ev_delay, 0);
    EXPECT_GE(setdelay(0), 99) << "the previous alarm's remaining seconds";
    raise(SIGALRM);
    EXPECT_EQ(statchk(1), 1);
    osreset();
}

} // namespace
