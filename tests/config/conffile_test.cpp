// Configuration files: every saved setting written reads back byte for byte through both
// readers (config read and the file run as a command file), a rewrite keeps the user's lines,
// and bad files give messages without losing anything.
#include "script/capture.h"

#include "config/conffile.h"
#include "core/escape.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/modem.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "screen/vscreen.h"
#include "script/settab.h"
#include "script/var.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Conf : public ::testing::Test {
  protected:
    TempDir d;
    fs::path was = fs::current_path();
    void SetUp() override {
        fs::current_path(d.path());
        // A configuration's end switches to the emulation it chose, drawing on a screen that
        // is open: no screen, the power-on emulation, whatever an earlier test left.
        vscreenreset();
        displayreset();
        emreset0();
        scriptreset();
        initstr();
        qflag = 1;
    }
    void TearDown() override {
        scriptreset();
        settingsreset();
        settingsdefaults();
        qflag = 0;
        fs::current_path(was);
    }
    std::string path(const std::string& name) const { return d.file(name).string(); }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

bool saved(const Setting& s) {
    // `modem` runs the file it names at once; it is written like any word.
    return !(s.flags & (SF_NOSAVE | SF_NOCMD)) && strcmp(s.name, "modem") != 0;
}

// Every saved setting away from its default, texts with every byte the escape form must carry;
// returns each row's value as shown.
std::map<std::string, std::string> setall() {
    const std::string nasty = std::string("^Slogin:\x13guest\r\"q\"\\b^c\x7f\xe9\x01 end");
    std::map<std::string, std::string> want;
    for (const Setting& s : settingstable()) {
        if (!saved(s)) continue;
        switch (s.type) {
        case ST_FLAG:
            putsetting(s, !s.def);
            break;
        case ST_COUNT:
            putsetting(s, s.def + 7);
            break;
        case ST_NUMBER:
            putsetting(s, s.def == s.hi ? s.hi - 1 : s.hi - s.def > 1000 ? s.def + 7 : s.hi);
            break;
        case ST_CHAR:
            putsetting(s, '"');
            break;
        case ST_WORD:
            for (const SelEntry* e = s.words; e->name[0]; e++)
                if (e->value != s.def) {
                    putsetting(s, e->value);
                    break;
                }
            break;
        case ST_TEXT:
            s.sp.put(s.flags & SF_RAW       ? "a remark with \"quotes\", \\ and ^M"
                     : s.flags & SF_WORDARG ? "/opt/tool"
                                            : nasty);
            break;
        }
        want[s.name] = settingtext(s);
    }
    return want;
}

TEST_F(Conf, WrittenSettingsReadBackTheSameThroughBothReaders) {
    std::map<std::string, std::string> want = setall();
    // A value too long for a line is cut at a whole escape, saying so.
    findsetting("logout", false)->sp.put(std::string(200, '\x01'));
    want["logout"] = std::string(123, '\x01');
    const std::string cut = captured([&] { ASSERT_EQ(wrconfig(path("t.con").c_str()), 0); });
    EXPECT_NE(cut.find("logout: value too long for a line, cut"), std::string::npos) << cut;
    const std::string text = d.read("t.con");
    for (const std::string& l : lines(text))
        EXPECT_LE(l.size(), static_cast<size_t>(LINEMAX)) << l;
    EXPECT_EQ(fs::status(d.file("t.con")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write); // login strings hold passwords

    for (const char* how : {"config read ", "connect "}) {
        settingsdefaults();
        std::string out;
        const std::string name = how[1] == 'o' ? path("t") : path("t.con");
        EXPECT_EQ(runline(how + name, &out), RC_OK) << how << out;
        for (const Setting& s : settingstable())
            if (saved(s)) {
                EXPECT_EQ(settingtext(s), want.at(s.name)) << how << s.name;
            }
    }
}

TEST_F(Conf, RewriteKeepsTheUsersLinesAndBadLinesGiveMessages) {
    const std::string binary("set wrap\0off", 12), longline(300, 'x');
    d.write("u.con", "; my notes\n"
                     "baud 9600\n"
                     "login\n"
                     "set wrap off\n"
                     "setkey f1 \"hello\"\n" +
                         binary + "\n" + longline + "\n" +
                         "set wrap on\n"
                         "call 555\n"
                         "do after");
    std::string out;
    EXPECT_EQ(runline("config read " + path("u"), &out), RC_ERROR);
    for (const char* m :
         {"LOGIN string expected", "line 6: binary bytes, line ignored",
          "line 7: longer than 255 characters, the rest is ignored", "Config set error\r\n"})
        EXPECT_NE(out.find(m), std::string::npos) << m << "\n" << out;
    EXPECT_EQ(settingtext(*findsetting("wrap", true)), "on"); // the last line wins, as run

    EXPECT_EQ(runline("config write " + path("u"), &out), RC_OK) << out;
    const std::vector<std::string> got = lines(d.read("u.con"));
    ASSERT_GE(got.size(), 10u);
    // The user's lines stay in order, byte for byte; setting lines are replaced where they
    // stood (the emulation first: switching it resets display settings), the repeat is gone,
    // and the missing settings come before the call.
    const std::vector<std::string> head = {"; my notes", "baud 9600",   "emulate VT100",
                                           "login \"\"", "set wrap on", "setkey f1 \"hello\"",
                                           binary,       longline};
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 8), head);
    EXPECT_EQ(got[got.size() - 2], "call 555");
    EXPECT_EQ(got.back(), "do after");
    size_t wraps = 0, dinit = 0;
    for (size_t i = 0; i < got.size(); i++) {
        wraps += got[i].rfind("set wrap ", 0) == 0;
        if (got[i].rfind("dinit ", 0) == 0) dinit = i;
    }
    EXPECT_EQ(wraps, 1u);
    EXPECT_GT(dinit, 7u);
    EXPECT_EQ(std::vector<fs::path>({d.file("u.con")}),
              std::vector<fs::path>(fs::directory_iterator(d.path()), {})); // no temporary left
}

TEST_F(Conf, WriteKeepsModeAndLinksAndFailsWithoutHarm) {
    d.write("real.con", "call 1\n");
    chmod(path("real.con").c_str(), 0640);
    fs::create_symlink(path("real.con"), d.file("link.con"));
    ASSERT_EQ(wrconfig(path("link.con").c_str()), 0);
    EXPECT_TRUE(fs::is_symlink(d.file("link.con")));
    EXPECT_EQ(fs::status(d.file("real.con")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(lines(d.read("real.con")).back(), "call 1");

    fs::create_directory(d.file("dir.con"));
    // clang-format off
    const struct { const char* line; int rc; const char* out; } rows[] = {
        {"config", RC_EXPECTED, "READ, WRITE, GET, SET or NEW expected\r\n"},
        {"config read", RC_EXPECTED, "Filename expected\r\n"},
        {"config read nothere", RC_ERROR, "File I/O Error\r\n"},
        {"config write dir", RC_ERROR, "File I/O Error\r\n"},
        {"config read dir", RC_ERROR, "File I/O Error\r\n"},
    };
    // clang-format on
    for (const auto& r : rows) {
        std::string out;
        EXPECT_EQ(runline(r.line, &out), r.rc) << r.line;
        EXPECT_EQ(out, r.out) << r.line;
    }
}

// The working copy the menus edit goes through a file unchanged, without touching the settings
// in force or the file's other lines; applying it counts every bad value in one message.
TEST_F(Conf, WorkingCopyRoundTripKeepsOtherLinesAndCountsErrors) {
    ConfVars v, back;
    newconfig(v);
    v[C_REMARK] = "lab host", v[C_NUMBER] = "pty:/bin/cat", v[C_CAPTFILE] = "capt.fil";
    v[C_LOGIN] = "^Slogin:\x13guest\r\"q\"\\";
    d.write("w.con", "setkey f1 \"hi\"\nlogin \"old\"\nlogin \"again\"\ncall 1\n");
    ASSERT_EQ(wrconfvars(path("w.con").c_str(), v), 0);
    const std::vector<std::string> got = lines(d.read("w.con"));
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 2),
              (std::vector<std::string>{"setkey f1 \"hi\"",
                                        "login \"\\^Slogin:^Sguest^M\\\"q\\\"\\\\\""}));
    EXPECT_EQ(got.back(), "call pty:/bin/cat"); // the missing settings went before it
    back[C_WRU] = "kept";                       // a file that cannot be read leaves the copy whole
    EXPECT_FALSE(rdconfvars(path("none.con").c_str(), back) || back[C_WRU] != "kept");
    ASSERT_TRUE(rdconfvars(path("w.con").c_str(), back));
    for (int i = 0; i < C_COUNT; i++)
        EXPECT_EQ(back[i], v[i]) << i;
    EXPECT_EQ(remarkstr, "");
    v[C_MODE] = "SIDEWAYS", v[C_EMULATE] = "VT999", v[C_PROTOCOL] = "BINARY";
    const std::string out = captured([&] { EXPECT_EQ(setconfig(v), 1); });
    const size_t at = out.find("Config set error");
    EXPECT_TRUE(at != std::string::npos && at == out.rfind("Config set error")) << out;
    EXPECT_EQ(runline("config get"), RC_OK);
    EXPECT_EQ(cfg[C_REMARK] + cfg[C_LOGIN] + cfg[C_PROTOCOL], v[C_REMARK] + v[C_LOGIN] + "BINARY");
}

// Quotes belong to the value everywhere but in the string fields, as the commands take them
// when the file runs; and a value cut to fit a line reads back as written. Each file rewrites
// to the same bytes.
TEST_F(Conf, WorkingCopyReadsValuesAsTheCommandsDo) {
    d.write("q.con",
            "remark \"'x'\"\nlogin \"'y'\"\nparity \"\\\"e\\\"\"\nemulate \x1c''\nemulate 2\x1a\n");
    ConfVars v, w;
    ASSERT_TRUE(rdconfvars(path("q.con").c_str(), v));
    EXPECT_EQ(v[C_REMARK] + v[C_LOGIN] + v[C_PARITY], "\"'x'\"'y'\"\\\"e\\\"\"");
    runline("config read " + path("q"));
    EXPECT_EQ(remarkstr + loginstr, v[C_REMARK] + v[C_LOGIN]);
    newconfig(w);
    w[C_CAPTFILE] = std::string(241, 'a') + " b"; // the cut falls after the blank
    ASSERT_EQ(wrconfvars(path("c.con").c_str(), w), 0);
    ASSERT_EQ(wrconfvars(path("q.con").c_str(), v), 0);
    for (const char* name : {"q.con", "c.con"}) {
        const std::string once = d.read(name);
        ASSERT_TRUE(rdconfvars(path(name).c_str(), v));
        ASSERT_EQ(wrconfvars(path(name).c_str(), v), 0);
        EXPECT_EQ(d.read(name), once) << name;
    }
}

TEST_F(Conf, ConnectLooksOnlyWhereTheUserPutsFiles) {
    TempDir home, vorndir;
    EnvGuard h("HOME", home.path().c_str()), v("VORNDIR", vorndir.path().c_str());
    d.write("here.con", "remark cwd\n");
    home.write("both.con", "remark home\n");
    vorndir.write("both.con", "remark vorndir\n");
    vorndir.write("sys.con", "remark sys\n");
    home.write("open.con", "remark open\n");
    chmod(home.file("open.con").c_str(), 0666);
    const std::string looked =
        " (looked in " + home.path().string() + ", " + vorndir.path().string() + ")\r\n";
    // clang-format off
    const struct { const char* name; const char* remark; std::string out; } rows[] = {
        {"here", "", "Can't find command file here.con" + looked},
        {"./here", "cwd", ""},
        {"both", "home", ""},
        {"sys", "sys", ""},
        {"open", "", home.file("open.con").string() + " is not yours or others may change it: not run\r\n"},
    };
    // clang-format on
    for (const auto& r : rows) {
        remarkstr.clear();
        std::string out;
        runline(std::string("connect ") + r.name, &out);
        EXPECT_EQ(remarkstr, r.remark) << r.name;
        EXPECT_EQ(out, r.out) << r.name;
    }
}

} // namespace
