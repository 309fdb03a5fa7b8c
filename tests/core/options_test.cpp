// The option table, the -x pre-scan, option words and the start-up script search path.
#include "core/start.h"
#include "support/console_fixture.h"
#include "support/harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
struct Flags {
    int aflag, cflag, fflag, iflag, mflag, qflag, uflag, xflag, zflag, echoflag, viewflag;
    int vtdebug, dupmode, emode, errprot, prbufsiz, intbufsiz;
    std::string portlist, parmptr;
    bool operator==(const Flags&) const = default;
};

Flags now() {
    return {aflag,   cflag,    fflag,     iflag,    mflag,   qflag,   uflag,
            xflag,   zflag,    echoflag,  viewflag, vtdebug, dupmode, emode,
            errprot, prbufsiz, intbufsiz, portlist, parmptr};
}

std::ostream& operator<<(std::ostream& o, const Flags& f) {
    return o << "a" << f.aflag << " c" << f.cflag << " f" << f.fflag << " i" << f.iflag << " m"
             << f.mflag << " q" << f.qflag << " u" << f.uflag << " x" << f.xflag << " z" << f.zflag
             << " echo" << f.echoflag << " view" << f.viewflag << " debug" << f.vtdebug << " dup"
             << f.dupmode << " emode" << f.emode << " prot" << f.errprot << " pr" << f.prbufsiz
             << " int" << f.intbufsiz << " port'" << f.portlist << "' parm'" << f.parmptr << "'";
}

// Parses `words` as a command line; returns the words left over.
std::vector<std::string> parse(std::vector<std::string> words) {
    words.insert(words.begin(), "vorn");
    std::vector<char*> v;
    for (auto& w : words)
        v.push_back(w.data());
    v.push_back(nullptr);
    int argc = static_cast<int>(words.size());
    char** argv = v.data();
    getopts(&argc, &argv);
    std::vector<std::string> rest;
    for (int i = 0; i < argc; i++)
        rest.push_back(argv[i]);
    return rest;
}

const Flags base{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 8, 0, 0, 0, "", ""};
Flags with(std::initializer_list<std::pair<int Flags::*, int>> ints, std::string port = "",
           std::string parm = "") {
    Flags f = base;
    for (auto& [field, value] : ints)
        f.*field = value;
    f.portlist = port;
    f.parmptr = parm;
    return f;
}
} // namespace

TEST(Options, EachLetterOfTheTable) {
    using F = Flags;
    struct Case {
        std::vector<std::string> words;
        Flags want;
    };
    const Case cases[] = {
        {{"-1"}, with({{&F::errprot, 6}})},
        {{"-2"}, with({{&F::errprot, 7}})},
        {{"-5"}, with({{&F::errprot, 1}})},
        {{"-7"}, with({{&F::errprot, 2}})},
        {{"-a"}, with({{&F::aflag, 1}})},
        {{"-b", "512"}, with({{&F::intbufsiz, 512}})},
        {{"-b512"}, with({{&F::intbufsiz, 512}})},
        {{"-c"}, with({{&F::cflag, 1}, {&F::dupmode, 1}, {&F::fflag, 1}})},
        {{"-ddd"}, with({{&F::vtdebug, 3}})},
        {{"-e"}, with({{&F::echoflag, 1}, {&F::viewflag, 1}})},
        {{"-f"}, with({{&F::dupmode, 1}, {&F::emode, 4}, {&F::fflag, 1}})},
        {{"-h"}, with({{&F::dupmode, 2}, {&F::fflag, 1}})},
        {{"-i"}, with({{&F::iflag, 1}})},
        {{"-k"}, with({{&F::errprot, 3}})},
        {{"-l", "/dev/ttyS0;telnet:h"}, with({}, "/dev/ttyS0;telnet:h")},
        {{"-o"}, with({{&F::errprot, 9}})},
        {{"-p", "4096"}, with({{&F::prbufsiz, 4096}})},
        {{"-p", "-3x"}, with({{&F::prbufsiz, -3}})},
        {{"-q"}, with({{&F::qflag, 1}, {&F::fflag, 1}})},
        {{"-s", "9600,8,n,1"}, with({}, "", "9600,8,n,1")},
        {{"-t"}, with({{&F::dupmode, 0}, {&F::errprot, 0}, {&F::cflag, 1}, {&F::fflag, 1}})},
        {{"-u"}, with({{&F::uflag, 1}, {&F::fflag, 1}})},
        {{"-v"}, with({{&F::emode, 8}, {&F::dupmode, 1}, {&F::fflag, 1}})},
        {{"-x"}, with({{&F::dupmode, 0}, {&F::cflag, 1}, {&F::xflag, 1}, {&F::fflag, 1}})},
        {{"-z"}, with({{&F::zflag, 1}}, "nul:")},
        {{"-fv"}, with({{&F::dupmode, 1}, {&F::emode, 8}, {&F::fflag, 1}})},
        {{"-k", "-2"}, with({{&F::errprot, 7}})},
    };
    for (const Case& c : cases) {
        ConsoleFixture fx(false);
        parse(c.words);
        EXPECT_EQ(now(), c.want) << c.words[0];
        EXPECT_EQ(fx.output(), "") << c.words[0];
    }
}

TEST(Options, UnknownLettersAndMissingArgumentsAreReportedAndSkipped) {
    struct Case {
        std::vector<std::string> words;
        std::string message;
        std::vector<std::string> rest;
    };
    const Case cases[] = {
        {{"-y", "-z"}, "Unknown option ignored: ?\r\n", {}},
        {{"-Zg"}, "Unknown option ignored: ?\r\nUnknown option ignored: ?\r\n", {}},
        {{"-z", "-l"}, "Unknown option ignored: ?\r\n", {}},
        {{"-m", "f.cmd"}, "Setting mflag to 1", {"f.cmd"}},
        {{"-z", "a.cmd", "-q"}, "", {"a.cmd", "-q"}},
        {{"-z", "--", "-q"}, "", {"-q"}},
    };
    for (const Case& c : cases) {
        ConsoleFixture fx(false);
        EXPECT_EQ(parse(c.words), c.rest) << c.words[0];
        EXPECT_EQ(fx.output(), c.message) << c.words[0];
        EXPECT_EQ(qflag, 0);
    }
}

TEST(Options, OptionWordsAccumulateLetterByLetter) {
    ConsoleFixture fx(false);
    applyflags("-qu");
    applyflags("-k");
    parse({"-2", "-h"});
    EXPECT_EQ(qflag, 1);
    EXPECT_EQ(uflag, 1);
    EXPECT_EQ(errprot, 7);
    EXPECT_EQ(dupmode, 2);
    applyflags("");
    EXPECT_EQ(errprot, 7);
}

TEST(Options, XPrescanSkipsArgumentsOfLBAndS) {
    struct Case {
        std::vector<std::string> words;
        int xflag;
    };
    const Case cases[] = {
        {{"-x"}, 1},
        {{"-X"}, 1},
        {{"-ax"}, 1},
        {{"-l", "x"}, 0},
        {{"-lx"}, 0},
        {{"-L", "x"}, 0},
        {{"-b", "5", "-x"}, 1},
        {{"-s", "x", "-u"}, 0},
        {{"file", "-x"}, 0},
        {{"-z", "file", "-x"}, 0},
        {{"-zl"}, 0},
        {{"-u", "-zx"}, 1},
    };
    for (const Case& c : cases) {
        startreset();
        std::vector<std::string> words = c.words;
        words.insert(words.begin(), "vorn");
        std::vector<char*> v;
        for (auto& w : words)
            v.push_back(w.data());
        v.push_back(nullptr);
        xprescan(static_cast<int>(words.size()), v.data());
        EXPECT_EQ(xflag, c.xflag) << c.words[0] << " " << (c.words.size() > 1 ? c.words[1] : "");
    }
    startreset();
}

TEST(Getpath, CurrentDirectoryThenHomeThenVorndir) {
    TempDir cwd, home, vorndir;
    char keep[4096];
    ASSERT_NE(getcwd(keep, sizeof keep), nullptr);
    ASSERT_EQ(chdir(cwd.path().c_str()), 0);
    std::string oldhome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.path().c_str(), 1);
    setenv("VORNDIR", (vorndir.path().string() + "/").c_str(), 1);

    char buf[PATHMAX + 1];
    EXPECT_EQ(getpath(buf, ".vornrc"), 0);
    vorndir.write(".vornrc", "");
    EXPECT_EQ(getpath(buf, ".vornrc"), 1);
    EXPECT_EQ(std::string(buf), vorndir.path().string() + "/.vornrc"); // no doubled "/"
    home.write(".vornrc", "");
    EXPECT_EQ(getpath(buf, ".vornrc"), 1);
    EXPECT_EQ(std::string(buf), home.path().string() + "/.vornrc");
    cwd.write(".vornrc", "");
    EXPECT_EQ(getpath(buf, ".vornrc"), 1);
    EXPECT_EQ(std::string(buf), "./.vornrc");

    // A candidate longer than 64 characters is cut, and then is not found.
    std::string longname(80, 'n');
    EXPECT_EQ(getpath(buf, longname.c_str()), 0);
    EXPECT_EQ(std::strlen(buf), 64u);

    unsetenv("VORNDIR");
    setenv("HOME", oldhome.c_str(), 1);
    ASSERT_EQ(chdir(keep), 0);
}

TEST(Runvornrc, NothingFoundRunsNothing) {
    TempDir cwd, home;
    char keep[4096];
    ASSERT_NE(getcwd(keep, sizeof keep), nullptr);
    ASSERT_EQ(chdir(cwd.path().c_str()), 0);
    std::string oldhome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.path().c_str(), 1);
    setenv("VORNDIR", home.path().c_str(), 1);
    ConsoleFixture fx(false);
    for (int which : {0, 1, 2})
        EXPECT_EQ(runvornrc(which), 0);
    EXPECT_EQ(fx.output(), "");
    unsetenv("VORNDIR");
    setenv("HOME", oldhome.c_str(), 1);
    ASSERT_EQ(chdir(keep), 0);
}
