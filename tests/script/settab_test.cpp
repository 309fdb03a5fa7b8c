// The settings table: every row round-trips through its command (or `set`, or its system
// variable) and back to its default; bad values give the system's messages.
#include "capture.h"

#include "core/escape.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "script/expr.h"
#include "script/settab.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

class Settings : public ScriptTest {
  protected:
    void SetUp() override { ScriptTest::SetUp(), initstr(); }
    void TearDown() override { ScriptTest::TearDown(), settingsreset(); }
};

// A value for the row other than its default, the command text that sets it, and the value as
// settingtext shows it.
struct Probe {
    std::string arg, shown;
};

Probe probe(const Setting& s) {
    switch (s.type) {
    case ST_FLAG:
        return {s.def ? "off" : "on", s.def ? "off" : "on"};
    case ST_COUNT:
        return {std::to_string(s.def + 7), std::to_string(s.def + 7)};
    case ST_NUMBER: {
        const long v = s.def == s.hi ? s.hi - 1 : s.hi - s.def > 1000 ? s.def + 7 : s.hi;
        return {std::to_string(v), std::to_string(v)};
    }
    case ST_CHAR:
        return {"'x'", "x"};
    case ST_TEXT: {
        const std::string t = std::string("t") + s.name;
        return {s.flags & (SF_WORDARG | SF_RAW) ? t : "'" + t + "'", t};
    }
    case ST_WORD: {
        const SelEntry* last = nullptr;
        for (const SelEntry* e = s.words; e->name[0]; e++)
            if (e->value != s.def) last = e;
        return {last->name, last->name};
    }
    }
    return {};
}

TEST_F(Settings, EveryRowRoundTripsThroughItsCommandAndItsVariable) {
    for (const Setting& s : settingstable()) {
        SCOPED_TRACE(s.name);
        ASSERT_NE(s.help, nullptr);
        if (s.type == ST_TEXT) {
            EXPECT_EQ(settingtext(s), s.sdef ? s.sdef : "") << "text default";
        } else {
            EXPECT_EQ(settingvalue(s), s.def) << "power-on value";
        }
        const Probe p = probe(s);
        std::string out;
        if (s.flags & SF_NOCMD) {
            if (!s.sysvar) continue; // set by a command of several values, tested below
            ASSERT_EQ(runline(std::string("setvar ") + s.sysvar + " " + p.arg, &out), RC_OK) << out;
        } else {
            const std::string cmd = (s.flags & SF_SET ? "set " : "") + std::string(s.name);
            // `modem` runs the file it names, which is not there; the name is still kept.
            // (`set dtr off` pulses DTR for two seconds, the one slow row.)
            const int rc = runline(cmd + " " + p.arg, &out);
            EXPECT_TRUE(rc == RC_OK || !strcmp(s.name, "modem")) << out;
        }
        EXPECT_EQ(settingtext(s), p.shown);
        if (s.sysvar) {
            ExprValue v;
            ASSERT_NE(expr(v, s.sysvar), 0);
            const std::string got = v.type == V_STR ? v.text : std::to_string(v.number);
            EXPECT_EQ(got, p.shown);
        }
        settingsdefaults();
        EXPECT_EQ(s.type == ST_TEXT ? settingtext(s) : std::to_string(settingvalue(s)),
                  s.type == ST_TEXT ? (s.sdef ? s.sdef : "") : std::to_string(s.def));
    }
}

TEST_F(Settings, BadValuesGiveTheMessagesAndChangeNothing) {
    std::string options;
    for (const Setting& s : settingstable())
        if (s.flags & SF_SET) options += std::string(options.empty() ? "" : ", ") + s.name;
    for (char& c : options)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    options.replace(options.rfind(", "), 2, " or ");
    // clang-format off
    const struct { const char* line; int rc; std::string out; } rows[] = {
        {"set foo on", RC_EXPECTED, options + " expected\r\n"},
        {"cdelay -1", RC_EXPECTED, "Char delay expected\r\n"},
        {"cdelay 12x", RC_EXPECTED, "Char delay expected\r\n"},
        {"redial", RC_EXPECTED, "Redial count expected\r\n"},
        {"fillchar f1", RC_EXPECTED, "New fill char expected\r\n"},
        {"pages 7", RC_EXPECTED, "# RAM Pages 1-6 expected\r\n"},
        {"pages 0", RC_EXPECTED, "# RAM Pages 1-6 expected\r\n"},
        {"wordlen 9", RC_ERROR, "Invalid word length, (5-8) expected\r\n"},
        {"stopbits 3", RC_ERROR, "Invalid stop bits, (1-2) expected\r\n"},
        {"parity bogus", RC_EXPECTED, "NONE, EVEN, ODD, MARK or SPACE expected\r\n"},
        {"answer maybe", RC_EXPECTED, "AUTO, NOW, WAIT or OFF expected\r\n"},
        {"dinit 5", RC_ERROR, "String expression required\r\nDialer init expected\r\n"},
        {"modem", RC_EXPECTED, "Filename or hayes expected\r\n"},
        {"modem a*", RC_ERROR, "Multiple files not allowed\r\n"},
        {"setsym 224, 'x'", RC_EXPECTED, "Symbol #0 to 223 expected\r\n"},
        {"setsym 220, 'abcdefgh'", RC_OK, "Symbols past #223 ignored\r\n"},
        {"setcolor 16, 1", RC_EXPECTED, "Color #0 to 15 expected\r\n"},
        {"setcap 'abc', 'x'", RC_ERROR, "Termcap id must be 2 chars\r\n"},
        {"setcap 'zz', 'x'", RC_ERROR, "Unknown capability: zz\r\n"},
        {"trans output 'ab' 'x'", RC_ERROR, "Equal length translate strings\r\n"},
        {"trans output 'z-a' 'ab'", RC_EXPECTED, "Translate source string expected\r\n"},
        {"trans sideways", RC_EXPECTED, "INPUT, OUTPUT, DISPLAY or RESET expected\r\n"},
        {"protocol sideways", RC_EXPECTED,
         "ASCII, BINARY, DCD, QUIET, XON, ETX, NONE or RTS expected\r\n"},
        {"session", RC_ERROR, ""},
    };
    // clang-format on
    for (const auto& r : rows) {
        std::string out;
        EXPECT_EQ(runline(r.line, &out), r.rc) << r.line;
        // The evaluator's own messages carry the line and a caret first.
        const size_t at = out.find(r.out.empty() ? "" : r.out.substr(0, 12));
        EXPECT_EQ(at == std::string::npos ? out : out.substr(at), r.out) << r.line;
    }
    for (const Setting& s : settingstable()) {
        EXPECT_EQ(s.type == ST_TEXT ? settingtext(s) : std::to_string(settingvalue(s)),
                  s.type == ST_TEXT ? (s.sdef ? s.sdef : "") : std::to_string(s.def))
            << s.name;
    }
}

TEST_F(Settings, CommandsWithLogicOfTheirOwn) {
    std::string out;
    // A count past what an int holds stays at the largest.
    EXPECT_EQ(runline("dtimeout 99999999999"), RC_OK);
    EXPECT_EQ(settingvalue(*findsetting("dtimeout", false)), INT_MAX);
    // The comma is missing: both characters are still set.
    EXPECT_EQ(runline("xonxoff 1 2", &out), RC_EXPECTED);
    EXPECT_EQ(out, "Comma expected\r\n");
    EXPECT_EQ(xonchar, 1);
    EXPECT_EQ(xoffchar, 2);
    // Ranges, and translation switches the translated mode on.
    EXPECT_EQ(runline("trans output 'a-c' 'x-z' display '-' '_'"), RC_OK);
    ASSERT_NE(outrtab, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(outrtab) + 'a', 3), "xyz");
    EXPECT_EQ(outrtab['d'], 'd');
    EXPECT_EQ(disptab['-'], '_');
    EXPECT_EQ(amode, 1);
    EXPECT_EQ(runline("trans reset"), RC_OK);
    EXPECT_EQ(outrtab, nullptr);
    EXPECT_EQ(disptab, nullptr);
    EXPECT_EQ(runline("ignore input '^A-^C' output 'q'"), RC_OK);
    EXPECT_EQ(inigtab[1] + inigtab[2] + inigtab[3] + inigtab[4] + ouigtab['q'], 4);
    // Several protocol words in turn; dcd ends the command.
    amode = 0;
    EXPECT_EQ(runline("protocol binary etx kermit dcd on"), RC_OK);
    EXPECT_EQ(amode, 1);
    EXPECT_EQ(prot, 2);
    EXPECT_EQ(errprot, 3);
    EXPECT_EQ(dcdchk, 1);
    // The symbols past the last slot are dropped, the alternate set adds 256.
    EXPECT_EQ(runline("setsym 222, 'ab',"), RC_OK);
    EXPECT_EQ(_grset[222], 'a' + 256);
    EXPECT_EQ(_grset[223], 'b' + 256);
    // `set control full` is local-only; plain `set control on` drops it again.
    EXPECT_EQ(runline("set control full"), RC_OK);
    EXPECT_EQ(ctlfull, 1);
    EXPECT_EQ(runline("set control on"), RC_OK);
    EXPECT_EQ(ctlfull, 0);
    // maskpar goes through the emulation's own rule, so the next emulation change keeps it.
    EXPECT_EQ(runline("set maskpar off"), RC_OK);
    EXPECT_EQ(maskpar, 0);
    EXPECT_EQ(runline("version", &out), RC_OK);
    EXPECT_EQ(out, versionline() + "\r\n");
}

} // namespace
