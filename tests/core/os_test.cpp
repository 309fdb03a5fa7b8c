// Operating-system services: the pattern language, wildcard expansion over real directories,
// unique names, the escape notation and the helpers that touch files, processes and signals.
#include <gtest/gtest.h>

#include "core/os.h"
#include "support/console_fixture.h"
#include "support/harness.h"
#include "transfer/xfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {
const std::string overflow = "\a*** Wildcard expansion buffer overflow\r\n";

std::vector<std::string> names() {
    return std::vector<std::string>(wsortbuf.begin(), wsortbuf.end());
}
} // namespace

TEST(Smatch, PatternLanguage) {
    // clang-format off
    struct { const char* pat; const char* name; int want; } rows[] = {
        {"*", "file", 1},      {"*", ".hidden", 0},   {".*", ".hidden", 1},  {"*", ".", 0},
        {"*", "..", 0},        {".*", ".", 0},        {".*", "..", 0},       {"?", "a", 1},
        {"?", "", 0},          {"??", "a", 0},        {"a?c", "abc", 1},     {"{a-c}x", "bx", 1},
        {"{a-c}x", "dx", 0},   {"{a-c}x", "ax", 1},   {"{a-c}x", "cx", 1},   {"{xa-c}", "x", 1},
        {"{abc", "a", 0},      {"{a-c", "b", 0},      {"a*b", "aab", 1},     {"a*b", "ab", 1},
        {"a*b", "a", 0},       {"a*b", "abc", 0},     {"*.c", "main.c", 1},  {"*.c", "main.cpp", 0},
        {"a*", "a", 1},        {"*x*", "abxcd", 1},   {"*x*", "abcd", 0},    {"File", "file", 0},
        {"", "", 1},           {"", "a", 0},          {"{}a", "a", 0},       {"{-}", "-", 1},
        {"{a-}", "-", 1},      {"*{0-9}", "log7", 1}, {"*{0-9}", "logx", 0}, {"a**b", "axyb", 1},
    };
    // clang-format on
    for (auto& r : rows)
        EXPECT_EQ(smatch(r.pat, r.name), r.want) << r.pat << " vs " << r.name;
}

TEST(Expand, NamesSortedByBytesWithTheirDirectory) {
    TempDir d;
    InDir in(d);
    for (const char* n : {"delta.c", "alpha.c", "Beta.c", "gamma.h", ".hidden.c", "b.o"})
        d.write(n, "");
    fs::create_directories(d.path() / "sub.c");
    fs::create_directory(d.path() / "locked");
    chmod(d.file("locked").c_str(), 0);
    std::vector<char> buf(static_cast<size_t>(wbufsiz));
    std::string dir;
    const std::string all = d.path().string() + "/*.c";
    EXPECT_EQ(expand(all.c_str(), dir, buf, 0), 4);
    EXPECT_EQ(dir, d.path().string());
    EXPECT_EQ(names(), (std::vector<std::string>{"Beta.c", "alpha.c", "delta.c", "sub.c"}));
    // Excluding takes the others, never the dot names; without a mode the option word decides.
    flags = 4;
    EXPECT_EQ(expand(all.c_str(), dir, buf), 3);
    EXPECT_EQ(names(), (std::vector<std::string>{"b.o", "gamma.h", "locked"}));
    flags = 0;
    EXPECT_EQ(expand(".*", dir, buf), 1);
    EXPECT_EQ(dir, "");
    EXPECT_EQ(names(), std::vector<std::string>{".hidden.c"});
    EXPECT_GT(expand("/tm?", dir, buf, 0), 0);
    EXPECT_EQ(dir, "/");
    EXPECT_EQ(names(), std::vector<std::string>{"tmp"});
    // A missing, unreadable or plain-file directory gives no names and no message.
    ConsoleFixture f(false);
    EXPECT_EQ(expand("/no/such/dir/*", dir, buf, 0), 0);
    EXPECT_EQ(expand("/etc/passwd/*", dir, buf, 0), 0);
    EXPECT_EQ(geteuid() == 0 ? 0 : expand("locked/*", dir, buf, 0), 0); // root reads them all
    EXPECT_EQ(f.output(), "");
    chmod(d.file("locked").c_str(), 0700);
}

TEST(Expand, AFullBufferKeepsWhatFitsSorted) {
    TempDir d;
    // 400 names of 10 characters: 11 bytes each; after 325 names 9 bytes remain, fewer than 14.
    for (int i = 399; i >= 0; i--) {
        char n[16];
        snprintf(n, sizeof n, "file%03d.tx", i);
        d.write(n, "");
    }
    std::vector<char> buf(3584);
    std::string dir;
    {
        ConsoleFixture f(false);
        EXPECT_EQ(expand((d.path().string() + "/*").c_str(), dir, buf, 0), 325);
        EXPECT_EQ(f.output(), overflow);
    }
    std::vector<std::string> got = names();
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()).size(), 325u);

    // A long name must fit whole with its terminator: 300 bytes hold one 255-byte name only.
    TempDir l;
    l.write(std::string(255, 'n'), "");
    l.write(std::string(200, 'm'), "");
    for (size_t size : {size_t{300}, size_t{10}}) {
        std::vector<char> small(size);
        ConsoleFixture f(false);
        EXPECT_EQ(expand((l.path().string() + "/*").c_str(), dir, small, 0), size == 300) << size;
        EXPECT_EQ(f.output(), overflow) << size;
    }
}

TEST(Funiq, NumbersRunsOfHashesAndCreatesTheFile) {
    TempDir d;
    InDir in(d);
    osreset();
    for (const char* want : {"log00", "log01", "log02"})
        EXPECT_EQ(funiq("log##"), want);
    EXPECT_EQ(funiq("capt#.fil"), "capt0.fil");
    EXPECT_EQ(funiq("plain"), "plain");
    EXPECT_TRUE(fs::exists("plain"));
    for (int i = 0; i < 10; i++)
        d.write("p" + std::to_string(i), "");
    EXPECT_EQ(funiq("p#"), "p10") << "the counter grows past the run";
    fs::create_directory("dir0");
    EXPECT_EQ(funiq("dir#"), "") << "a candidate that is a directory cannot be created";
    EXPECT_EQ(funiq("nodir/x#"), "");
}

TEST(Expstr, Notation) {
    // clang-format off
    struct { const char* in; int mode; const char* want; int count; int used; } rows[] = {
        {"ab cd", 0, "ab", 2, 2},                 {"\"ab cd\" x", 0, "ab cd", 5, 7},
        {"'a\"b'", 0, "a\"b", 3, 5},              {"^M^J", 0, "\r\n", 2, 4},
        {"\\e[0m", 0, "\033[0m", 4, 5},           {"\\033\\x1B\\x7", 0, "\033\033\007", 3, 11},
        {"\\101\\1012", 0, "AA2", 3, 9},          {"\\B\\F\\N\\R\\T\\V", 0, "\b\f\n\r\t\v", 6, 12},
        {"\\\"\\'\\-\\\\\\^", 0, "\"'-\\^", 5, 10},
        {"'a-d'", 1, "abcd", 3, 5},               {"a-c-e", 1, "abc-e", 4, 5},
        {"x-", 1, "x-", 1, 2},                    {"-a", 1, "-a", 1, 2},
        {"\\0-\\3", 1, "\0\1\2\3", 3, 5},         {"a-d", 0, "a-d", 3, 3},
        {"a b 'c", 2, "a b 'c", 6, 6},            {"", 0, "", 0, 0},
        {"'x", 0, nullptr, 0, 0},     {"\\q", 0, nullptr, 0, 0},    {"\\x", 0, nullptr, 0, 0},
        {"\\xg", 0, nullptr, 0, 0},   {"ab^", 0, nullptr, 0, 0},    {"ab\\", 2, nullptr, 0, 0},
        {"'d-a'", 1, nullptr, 0, 0},  {"'a-a'", 1, nullptr, 0, 0},  {"''", 1, nullptr, 0, 0},
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
    // The length limits: 255 characters, or in mode 1 a whole byte table (256, count 255).
    uint8_t out[EXPSTRMAX + 2];
    std::string s255(255, 'x');
    ASSERT_NE(expstr(s255.c_str(), out, 2), nullptr);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(expstr((s255 + "y").c_str(), out, 2), nullptr) << "overlong is refused";
    ASSERT_NE(expstr("\\0-\\377", out, 1), nullptr);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[256], 255);
}

TEST(Helpers, GetlCutsLongLinesAndEndsAtCtrlZ) {
    TempDir d;
    d.write("lines", "one\r\ntwo\n" + std::string(300, 'x') + "\nlast\x1arest");
    FILE* fp = fopen(d.file("lines").c_str(), "r");
    ASSERT_NE(fp, nullptr);
    char buf[256];
    for (const std::string& want : {std::string("one"), std::string("two"), std::string(255, 'x'),
                                    std::string(45, 'x'), std::string("last"), std::string("rest")})
        EXPECT_EQ(getl(buf, fp), want);
    EXPECT_EQ(getl(buf, fp), nullptr);
    fclose(fp);
}

TEST(Helpers, MkdirAndRmdirRunNoShell) {
    TempDir d;
    InDir in(d);
    std::string odd = "a b;touch pwned $(touch pwned2)";
    EXPECT_EQ(domkdir(odd.c_str()), 0);
    EXPECT_EQ(isdir(odd.c_str()), 1);
    EXPECT_FALSE(d.exists("pwned") || d.exists("pwned2"));
    EXPECT_EQ(dormdir(odd.c_str()), 0);
    EXPECT_EQ(isdir(odd.c_str()), 0);
    EXPECT_EQ(domkdir("-p"), 0) << "a leading dash is a name, not an option";
    EXPECT_EQ(isdir("-p"), 1);
    EXPECT_NE(dormdir("/no/such/dir"), 0);
}

TEST(Helpers, TheDelayAlarmSetsItsEvent) {
    osreset();
    EXPECT_EQ(setdelay(100), 0);
    EXPECT_GE(setdelay(0), 99) << "the previous alarm's remaining seconds";
    raise(SIGALRM);
    EXPECT_EQ(statchk(9), 1);
    osreset();
}
