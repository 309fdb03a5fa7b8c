// The option letters and their messages, the -x pre-scan and the start-up script search path.
#include "core/start.h"
#include "support/console_fixture.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
// The start-up flags that differ from their power-on values, as "name=value" words.
std::string changed() {
    std::string s;
    auto word = [&](const char* name, const std::string& v) {
        s += std::string(s.empty() ? "" : " ") + name + "=" + v;
    };
    auto add = [&](const char* name, int v, int poweron = 0) {
        if (v != poweron) word(name, std::to_string(v));
    };
    add("a", aflag), add("c", cflag), add("f", fflag), add("i", iflag), add("m", mflag);
    add("q", qflag), add("u", uflag), add("x", xflag), add("z", zflag), add("echo", echoflag);
    add("view", viewflag), add("debug", vtdebug), add("dup", dupmode, 1), add("emode", emode, 8);
    add("prot", errprot), add("pr", prbufsiz), add("int", intbufsiz);
    if (!portlist.empty()) word("port", portlist);
    if (!parmptr.empty()) word("parm", parmptr);
    return s;
}

std::vector<char*> argvof(std::vector<std::string>& words) {
    words.insert(words.begin(), "vorn");
    std::vector<char*> v;
    for (auto& w : words)
        v.push_back(w.data());
    v.push_back(nullptr);
    return v;
}

} // namespace

TEST(Options, EachLetterItsMessagesAndTheWordsLeftOver) {
    struct Case {
        std::vector<std::string> words;
        std::string flags, message = "";
        std::vector<std::string> rest = {};
    };
    // The letter is named, also a known letter that lacks its argument.
    auto unknown = [](char c) { return std::string("Unknown option ignored: ") + c + "\r\n"; };
    // clang-format off
    const Case cases[] = {
        {{"-1"}, "prot=6"},        {{"-2"}, "prot=7"},         {{"-5"}, "prot=1"},
        {{"-7"}, "prot=2"},        {{"-a"}, "a=1"},            {{"-b", "512"}, "int=512"},
        {{"-b512"}, "int=512"},    {{"-c"}, "c=1 f=1"},        {{"-ddd"}, "debug=3"},
        {{"-e"}, "echo=1 view=1"}, {{"-f"}, "f=1 emode=4"},    {{"-h"}, "f=1 dup=2"},
        {{"-i"}, "i=1"},           {{"-k"}, "prot=3"},         {{"-o"}, "prot=9"},
        {{"-p", "4096"}, "pr=4096"}, {{"-p", "-3x"}, "pr=-3"}, {{"-q"}, "f=1 q=1"},
        {{"-t"}, "c=1 f=1 dup=0"}, {{"-u"}, "f=1 u=1"},        {{"-v"}, "f=1"},
        {{"-fv"}, "f=1"},          {{"-k", "-2"}, "prot=7"},   {{"-z"}, "z=1 port=nul:"},
        {{"-x"}, "c=1 f=1 x=1 dup=0"},
        {{"-l", "/dev/ttyS0;telnet:h"}, "port=/dev/ttyS0;telnet:h"},
        {{"-s", "9600,8,n,1"}, "parm=9600,8,n,1"},
        {{"-y", "-z"}, "z=1 port=nul:", unknown('y')},
        {{"-Zg"}, "", unknown('Z') + unknown('g')},
        {{"-z", "-l"}, "z=1 port=nul:", unknown('l')},
        {{"-m", "f.cmd"}, "m=1", "Setting mflag to 1", {"f.cmd"}},
        {{"-z", "a.cmd", "-q"}, "z=1 port=nul:", "", {"a.cmd", "-q"}},
        {{"-z", "--", "-q"}, "z=1 port=nul:", "", {"-q"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        ConsoleFixture fx(false);
        std::vector<std::string> words = c.words;
        std::vector<char*> v = argvof(words);
        int argc = static_cast<int>(words.size());
        char** argv = v.data();
        getopts(&argc, &argv);
        EXPECT_EQ(std::vector<std::string>(argv, argv + argc), c.rest) << c.words[0];
        EXPECT_EQ(changed(), c.flags) << c.words[0];
        EXPECT_EQ(fx.output(), c.message) << c.words[0];
    }
}

TEST(Options, XPrescanSkipsArgumentsOfLBAndS) {
    // clang-format off
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"-x"}, 1},            {{"-X"}, 1},            {{"-ax"}, 1},
        {{"-l", "x"}, 0},       {{"-lx"}, 0},           {{"-L", "x"}, 0},
        {{"-b", "5", "-x"}, 1}, {{"-s", "x", "-u"}, 0}, {{"file", "-x"}, 0},
        {{"-z", "file", "-x"}, 0}, {{"-zl"}, 0},        {{"-u", "-zx"}, 1},
    };
    // clang-format on
    for (const auto& [words, want] : cases) {
        startreset();
        std::vector<std::string> w = words;
        std::vector<char*> v = argvof(w);
        xprescan(static_cast<int>(w.size()), v.data());
        EXPECT_EQ(xflag, want) << w[1] << " " << (w.size() > 2 ? w[2] : "");
    }
    startreset();
}

namespace fs = std::filesystem;

TEST(Getpath, HomeThenVorndirTheCurrentDirectoryOnlyWhenAllowedNothingOthersCanWrite) {
    TempDir cwd, home, vorndir;
    InDir in(cwd);
    EnvGuard h("HOME", home.path().c_str()), v("VORNDIR", (vorndir.path().string() + "/").c_str());
    unsetenv("VORNCWD");
    char buf[PATHMAX + 1];
    EXPECT_EQ(getpath(buf, ".vornrc"), 0);
    cwd.write(".vornrc", ""); // a file in the current directory is not taken by default
    EXPECT_EQ(getpath(buf, ".vornrc"), 0);
    // Each place found hides the ones after it; VORNDIR's "/" is not doubled.
    for (const TempDir* where : {&vorndir, &home}) {
        where->write(".vornrc", "");
        EXPECT_EQ(getpath(buf, ".vornrc"), 1);
        EXPECT_EQ(std::string(buf), where->file(".vornrc").string());
    }
    setenv("VORNCWD", "1", 1);
    EXPECT_EQ(getpath(buf, ".vornrc"), 1);
    EXPECT_EQ(std::string(buf), "./.vornrc");
    // A file others can write is refused, saying so, and the search goes on.
    for (auto perm : {fs::perms::group_write, fs::perms::others_write}) {
        fs::permissions(cwd.file(".vornrc"), perm, fs::perm_options::add);
        std::string out = captureconsole([&] { EXPECT_EQ(getpath(buf, ".vornrc"), 1); });
        EXPECT_EQ(std::string(buf), home.file(".vornrc").string());
        EXPECT_EQ(out, "./.vornrc can be written by other users: not used\r\n");
        fs::permissions(cwd.file(".vornrc"), perm, fs::perm_options::remove);
    }
    unsetenv("VORNCWD");
    // A candidate longer than 64 characters is cut, and then is not found.
    EXPECT_EQ(getpath(buf, std::string(80, 'n').c_str()), 0);
    EXPECT_EQ(std::strlen(buf), 64u);
}
