// Keys: what each emulation sends, GOLD, compose, the console's key strings and key names.
#include <gtest/gtest.h>

#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/trans.h"
#include "screen/display.h"
#include "screen/interim_found.h"
#include "screen/keyboard.h"
#include "screen/keynames.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string sent; // what reached the line through out/bout

int r0() {
    return 0;
}
int rinit(int, const char*) {
    return 0;
}
int rvt(const char*) {
    return 0;
}
int rout(int c) {
    sent += static_cast<char>(c);
    return 1;
}
int rbout(const uint8_t* b, int n) {
    sent.append(reinterpret_cast<const char*>(b), n);
    return n;
}
int rset(int) {
    return 0;
}
const BaudEntry nobauds[] = {{0, 0}};
ComDriver recdrv = {rinit, rvt,  r0, r0, r0, r0,      rout, rbout,
                    rset,  rset, r0, r0, r0, nobauds, 0,    COMBUFSIZ};

// Everything the program writes to the console while fn runs.
template <class F> std::string console(F fn) {
    oflush();
    std::string out;
    setconswriter([&](const char* p, size_t n) { out.append(p, n); });
    fn();
    oflush();
    setconswriter(nullptr);
    return out;
}

enum : int {
    TTY = 4,
    VT100 = 8,
    VT52 = 16,
    TV925 = 32,
    TV912 = 64,
    WYSE50 = 128,
    ANSI = 256,
    IB3101 = 1024,
    VT2207 = 4096,
    VT2208 = 8192,
    SCOANSI = 32768,
    WYSE60 = 2,
};

class Keys : public ::testing::Test {
  protected:
    ComDriver* keepcom = nullptr;
    void SetUp() override {
        keepcom = COM;
        COM = &recdrv;
        sent.clear();
        keyreset();
        trinit(itrans, iqueue);
        qinit(iqueue, 128);
        appcur = appkey = vtc18out = 0;
        vbsdel = 1;
        dupmode = 1;
        aflag = 0;
        vemode = VT100;
    }
    void TearDown() override {
        COM = keepcom;
        vemode = 8;
        appcur = appkey = vtc18out = 0;
        keyreset();
        trinit(itrans, iqueue);
    }
    std::string press(int code) {
        sent.clear();
        fnkey(code);
        return sent;
    }
};

#define E "\033"

struct Sent {
    int em;
    int appcur, appkey, c1;
    int code;
    const char* bytes;
};

// clang-format off
const Sent sends[] = {
    // VT100 and ANSI: PF keys, cursor and keypad in both modes, nothing for the rest.
    {VT100, 0, 0, 0, 256, E "OP"}, {VT100, 0, 0, 0, 259, E "OS"}, {VT100, 0, 0, 0, 260, ""},
    {VT100, 0, 0, 0, 261, ""},     {VT100, 0, 0, 0, 276, E "[A"}, {VT100, 0, 0, 0, 279, E "[D"},
    {VT100, 1, 0, 0, 276, E "OA"}, {VT100, 1, 0, 0, 278, E "OC"}, {VT100, 0, 0, 0, 281, "0"},
    {VT100, 0, 0, 0, 291, "-"},    {VT100, 0, 0, 0, 294, "\r"},   {VT100, 0, 1, 0, 281, E "Op"},
    {VT100, 0, 1, 0, 290, E "Oy"}, {VT100, 0, 1, 0, 291, E "Om"}, {VT100, 0, 1, 0, 292, E "Ol"},
    {VT100, 0, 1, 0, 293, E "On"}, {VT100, 0, 1, 0, 294, E "OM"}, {VT100, 0, 1, 0, 314, E "Ol"},
    {VT100, 0, 1, 0, 315, E "OM"}, {VT100, 0, 1, 0, 316, "/"},    {VT100, 0, 0, 0, 280, ""},
    {VT100, 0, 0, 0, 301, ""},     {VT100, 0, 0, 0, 319, "\b"},   {VT100, 0, 0, 0, 308, "\177"},
    {ANSI, 0, 0, 0, 257, E "OQ"},  {ANSI, 0, 0, 0, 277, E "[B"},  {ANSI, 1, 1, 0, 277, E "OB"},
    // VT220: F6..F20, control-F as F11..F20, editing keys, 8-bit introducers.
    {VT2207, 0, 0, 0, 256, E "OP"},  {VT2207, 0, 0, 0, 261, E "[17~"}, {VT2207, 0, 0, 0, 265, E "[21~"},
    {VT2207, 0, 0, 0, 266, E "[23~"}, {VT2207, 0, 0, 0, 270, E "[28~"}, {VT2207, 0, 0, 0, 271, E "[29~"},
    {VT2207, 0, 0, 0, 275, E "[34~"}, {VT2207, 0, 0, 0, 349, E "[23~"}, {VT2207, 0, 0, 0, 358, E "[34~"},
    {VT2207, 0, 0, 0, 359, ""},       {VT2207, 0, 0, 0, 260, ""},
    {VT2207, 0, 0, 0, 280, E "[1~"},  {VT2207, 0, 0, 0, 300, E "[2~"},  {VT2207, 0, 0, 0, 301, E "[3~"},
    {VT2207, 0, 0, 0, 298, E "[4~"},  {VT2207, 0, 0, 0, 296, E "[5~"},  {VT2207, 0, 0, 0, 295, E "[6~"},
    {VT2207, 0, 0, 0, 297, ""},       {VT2207, 0, 0, 0, 299, ""},       {VT2207, 1, 0, 0, 276, E "OA"},
    {VT2207, 0, 1, 0, 286, E "Ou"},   {VT2207, 0, 0, 0, 286, "5"},
    {VT2208, 0, 0, 1, 256, "\x8fP"},  {VT2208, 1, 0, 1, 276, "\x8f" "A"}, {VT2208, 0, 0, 1, 276, "\x9b" "A"},
    {VT2208, 0, 0, 1, 261, "\x9b" "17~"}, {VT2208, 0, 0, 1, 280, "\x9b" "1~"}, {VT2208, 0, 1, 1, 294, "\x8fM"},
    {VT2208, 0, 0, 1, 281, "0"},
    // VT52.
    {VT52, 0, 0, 0, 256, E "P"}, {VT52, 0, 0, 0, 259, E "S"}, {VT52, 0, 0, 0, 276, E "A"},
    {VT52, 1, 0, 0, 279, E "D"}, {VT52, 0, 0, 0, 285, "4"},   {VT52, 0, 1, 0, 285, E "?t"},
    {VT52, 0, 1, 0, 294, E "?M"}, {VT52, 0, 0, 0, 261, ""},
    // SCO-ANSI: 48 function keys, editing keys.
    {SCOANSI, 0, 0, 0, 256, E "[M"}, {SCOANSI, 0, 0, 0, 267, E "[X"}, {SCOANSI, 0, 0, 0, 268, E "[Y"},
    {SCOANSI, 0, 0, 0, 329, E "[Y"}, {SCOANSI, 0, 0, 0, 340, E "[j"}, {SCOANSI, 0, 0, 0, 349, E "[k"},
    {SCOANSI, 0, 0, 0, 389, E "[w"}, {SCOANSI, 0, 0, 0, 393, E "[@"}, {SCOANSI, 0, 0, 0, 400, E "[{"},
    {SCOANSI, 0, 0, 0, 280, E "[H"}, {SCOANSI, 0, 0, 0, 296, E "[I"}, {SCOANSI, 0, 0, 0, 298, E "[F"},
    {SCOANSI, 0, 0, 0, 295, E "[G"}, {SCOANSI, 0, 0, 0, 324, E "[E"}, {SCOANSI, 0, 0, 0, 300, E "[L"},
    {SCOANSI, 0, 0, 0, 301, "\177"}, {SCOANSI, 0, 0, 0, 305, E "[Z"}, {SCOANSI, 0, 0, 0, 277, E "[B"},
    // IBM 3101.
    {IB3101, 0, 0, 0, 256, E "a\r"}, {IB3101, 0, 0, 0, 267, E "l\r"}, {IB3101, 0, 0, 0, 268, ""},
    {IB3101, 0, 0, 0, 280, E "H"},   {IB3101, 0, 0, 0, 278, E "C"},
    // TeleVideo and Wyse.
    {TV925, 0, 0, 0, 256, "\001@\r"}, {TV925, 0, 0, 0, 271, "\001O\r"}, {TV925, 0, 0, 0, 329, "\001`\r"},
    {TV925, 0, 0, 0, 349, "\001J\r"}, {TV925, 0, 0, 0, 394, "\001o\r"}, {TV925, 0, 0, 0, 277, "\026"},
    {TV912, 0, 0, 0, 277, "\n"},      {TV912, 0, 0, 0, 280, "\036"},    {WYSE50, 0, 0, 0, 295, E "K"},
    {WYSE50, 0, 0, 0, 296, E "J"},    {WYSE50, 0, 0, 0, 298, ""},       {WYSE60, 0, 0, 0, 298, E "T"},
    {WYSE50, 0, 1, 0, 256, "\x80"},   {WYSE50, 0, 1, 0, 344, "\x9f"},   {WYSE60, 0, 1, 0, 276, "\xd3"},
    {WYSE60, 0, 1, 0, 292, ""},        {WYSE60, 0, 1, 0, 301, "\xdd"},
    {TV925, 0, 1, 0, 256, "\001@\r"},
};
// clang-format on

TEST_F(Keys, EachEmulationSendsItsSequences) {
    for (const Sent& s : sends) {
        vemode = s.em;
        appcur = s.appcur;
        appkey = s.appkey;
        vtc18out = s.c1;
        EXPECT_EQ(press(s.code), s.bytes) << "emulation " << s.em << " key " << s.code;
    }
}

TEST_F(Keys, BackspaceFollowsTheSetting) {
    struct {
        int em, bsdel;
        const char* bytes;
    } cases[] = {{VT2207, 1, "\177"}, {VT2207, 0, "\b"}, {VT2208, 1, "\177"},
                 {VT100, 1, "\b"},    {ANSI, 1, "\b"},   {VT52, 0, "\b"}};
    for (const auto& c : cases) {
        vemode = c.em;
        vbsdel = c.bsdel;
        EXPECT_EQ(press(KC_BS), c.bytes) << c.em << " " << c.bsdel;
        EXPECT_EQ(press(KC_CBS), "\177");
    }
}

TEST_F(Keys, HostProgrammedKeysComeFirst) {
    vemode = VT2207;
    ASSERT_EQ(setprgkey(5, "ls\r"), 0);
    ASSERT_EQ(setprgkey(10, "\033x"), 0);
    EXPECT_EQ(press(261), "ls\r");
    EXPECT_EQ(press(266), "\033x");
    EXPECT_EQ(press(349), "\033x"); // control-F1 acts as F11
    vtc18out = 1;
    EXPECT_EQ(press(266), "\033x"); // the host's own bytes are not converted
    vemode = SCOANSI;
    setprgkey(12, "sf1");
    EXPECT_EQ(press(329), "sf1");
    vemode = WYSE50;
    appkey = 1;
    setprgkey(20, "w");
    EXPECT_EQ(press(329), "w");
    EXPECT_EQ(setprgkey(48, "x"), -1);
    clrprgkeys();
    vemode = VT2207;
    vtc18out = 0;
    EXPECT_EQ(press(261), E "[17~");
}

TEST_F(Keys, HalfDuplexShowsWhatIsSent) {
    dupmode = 2;
    EXPECT_EQ(console([this] { press(256); }), E "OP");
    dupmode = 1;
    EXPECT_EQ(console([this] { press(256); }), "");
}

TEST_F(Keys, GoldMapAndBell) {
    struct {
        int em, app, key;
        const char* bytes;
        const char* shown;
    } cases[] = {
        {VT100, 0, '5', "5", ""},    {VT100, 1, '5', E "Ou", ""},    {VT100, 1, '\r', E "OM", ""},
        {VT100, 1, '*', E "Ol", ""}, {VT100, 0, 259, E "OS", ""},    {VT100, 0, 261, "", "\a"},
        {VT100, 0, 'x', "x", ""},    {VT2207, 0, 261, E "[17~", ""}, {VT2207, 0, 276, "", "\a"},
        {TTY, 0, 'x', "x", ""},
    };
    for (const auto& c : cases) {
        vemode = c.em;
        appkey = c.app;
        sent.clear();
        std::string shown = console([&] { goldkey(c.key); });
        EXPECT_EQ(sent, c.bytes) << c.em << " " << c.key;
        EXPECT_EQ(shown, c.shown) << c.em << " " << c.key;
    }
}

TEST_F(Keys, ComposeEitherOrder) {
    struct {
        int a, b, r;
    } cases[] = {{'e', '\'', 0xe9}, {'\'', 'e', 0xe9}, {'"', ' ', 0x22}, {' ', '"', 0x22},
                 {'s', 's', 0xdf},  {'1', '2', 0xbd},  {'2', '1', 0xbd}, {'C', ',', 0xc7},
                 {'/', '<', 0x5c},  {'A', 'E', 0xc6},  {'o', 'e', 0xf7}, {'c', '|', 0xa2},
                 {'q', 'q', -2},    {'e', 'E', -2}};
    for (const auto& c : cases) {
        EXPECT_EQ(comkey(c.a), -1);
        EXPECT_EQ(comkey(c.b), c.r) << char(c.a) << char(c.b);
    }
    EXPECT_EQ(comkey('x'), -1); // a failed pair left nothing pending
}

TEST_F(Keys, KeyMapEntries) {
    EXPECT_EQ(defkey(256, "hello", 0), 0);
    EXPECT_EQ(map_key[256], "hello");
    EXPECT_EQ(defkey(257, nullptr, 1234), 0);
    EXPECT_EQ(map_key[257], "\xff"
                            "1234");
    EXPECT_EQ(defkey(449, "x", 0), -1);
    EXPECT_EQ(defkey(-1, "x", 0), -1);
    unmapkey();
    EXPECT_EQ(map_key[256], "hello");
    EXPECT_EQ(map_key[257], "");
}

// ---- console key strings -----------------------------------------------------------------

std::vector<int> typed(const std::string& bytes) {
    for (unsigned char c : bytes)
        trans(c, itrans);
    std::vector<int> v;
    for (int c; (c = unqchar(iqueue)) >= 0;)
        v.push_back(c);
    return v;
}

using V = std::vector<int>;

TEST_F(Keys, FunctionKeyNumberingFollowsK0) {
    // k0 sorts before k9: k0..k9 are F1..F10.
    for (int i = 0; i < 10; i++)
        setrealkey(("k" + std::to_string(i)).c_str(),
                   ("\033[" + std::to_string(10 + i) + "~").c_str());
    addkeystrings();
    EXPECT_EQ(typed("\033[10~\033[11~\033[19~"), (V{256, 257, 265}));
    // k0 sorting after k9: k1..k9 then k0.
    keyreset();
    trinit(itrans, iqueue);
    for (int i = 1; i < 10; i++)
        setrealkey(("k" + std::to_string(i)).c_str(), ("\033O" + std::string(1, 'O' + i)).c_str());
    setrealkey("k0", "\033[21~");
    addkeystrings();
    EXPECT_EQ(typed("\033OP\033OX\033[21~"), (V{256, 264, 265}));
    EXPECT_EQ(conskeys[265], "\033[21~");
    // No k0: k; is F10.
    keyreset();
    trinit(itrans, iqueue);
    setrealkey("k1", "\033OP");
    setrealkey("k;", "\033[21~");
    addkeystrings();
    EXPECT_EQ(typed("\033OP\033[21~"), (V{256, 265}));
}

TEST_F(Keys, CapabilitiesGiveTheirCodes) {
    struct {
        const char* cap;
        const char* str;
        int code;
    } caps[] = {
        {"F1", "\033[23~", 266},   {"F6", "\033[29~", 271},   {"ku", "\033OA", 276},
        {"kh", "\033OH", 280},     {"n0", "\033Op", 281},     {"nr", "\033OM", 294},
        {"kN", "\033[6~", 295},    {"kF", "\033[1;2B", 307},  {"%9", "\033[i", 304},
        {"KJ", "\033[1;5A", 320},  {"KM", "\033[3;5~", 323},  {"F7", "\033[1;2P", 329},
        {"FM", "\033[24;2~", 344}, {"FN", "\033[1;5P", 349},  {"Fc", "\033[18;5~", 364},
        {"Fd", "\033[1;3P", 369},  {"Fs", "\033[19;3~", 384}, {"Ft", "\033[1;6P", 389},
        {"KI", "\033[29;6~", 404}, {"kb", "\177", 319},
    };
    for (const auto& c : caps)
        ASSERT_EQ(setrealkey(c.cap, c.str), 1) << c.cap;
    EXPECT_EQ(setrealkey("xx", "a"), 0);
    EXPECT_EQ(addkeystrings(), static_cast<int>(std::size(caps)));
    for (const auto& c : caps) {
        EXPECT_EQ(typed(c.str), V{c.code}) << c.cap;
        EXPECT_EQ(conskeys[c.code], c.str);
    }
}

TEST_F(Keys, EndFallsBackAndDelaysAreSkipped) {
    setrealkey("@7", "\033[F");
    setrealkey("ku", "20*\033[A");
    addkeystrings();
    EXPECT_EQ(typed("\033[F\033[A"), (V{298, 276}));
    setrealkey("kE", "\033[K");
    trinit(itrans, iqueue);
    addkeystrings();
    EXPECT_EQ(typed("\033[K\033[F"), (V{298, 27, '[', 'F'}));
}

TEST_F(Keys, BareBackspaceLeftAndReturnDownNeedTheAlternateKeyboard) {
    setrealkey("kl", "\b");
    setrealkey("kd", "\r");
    addkeystrings();
    EXPECT_EQ(typed("\b\r"), (V{8, 13}));
    aflag = 1;
    trinit(itrans, iqueue);
    addkeystrings();
    EXPECT_EQ(typed("\b\r"), (V{279, 277}));
}

TEST_F(Keys, OverlongKeyStringsAreRefusedWithTheMessage) {
    std::string huge(1000, 'x');
    huge[0] = '\033';
    setrealkey("ku", huge.c_str());
    setrealkey("kd", "\033[B");
    int n = 0;
    std::string shown = console([&] { n = addkeystrings(); });
    EXPECT_EQ(n, 1);
    EXPECT_EQ(shown, "No memory for termcap/terminfo key definition\r\n");
    EXPECT_EQ(typed("\033[B"), V{277});
}

TEST_F(Keys, TtySendsTheConsolesOwnStrings) {
    setrealkey("k1", "\033OP");
    setrealkey("ku", "\033OA");
    setrealkey("kb", "\177");
    addkeystrings();
    for (int em : {int(TTY), 0}) {
        vemode = em;
        emode = em;
        EXPECT_EQ(press(256), "\033OP");
        EXPECT_EQ(press(276), "\033OA");
        EXPECT_EQ(press(319), "\177");
        EXPECT_EQ(press(277), "");
    }
    emode = 8;
}

// ---- key names -----------------------------------------------------------------------------

int parse(const std::string& text, std::string* msg = nullptr, const char** end = nullptr) {
    int r = -99;
    const char* e = nullptr;
    std::string shown = console([&] { e = setch2(text.c_str(), "Key designator", &r); });
    if (msg) *msg = shown;
    if (end) *end = e;
    return e ? r : -99;
}

TEST_F(Keys, EveryKeyNameParses) {
    for (const KeyName& k : keytrans) {
        EXPECT_EQ(parse(k.name), k.code) << k.name;
        std::string upper;
        for (const char* p = k.name; *p; p++)
            upper += static_cast<char>(toupper(*p));
        EXPECT_EQ(parse(upper), k.code) << upper;
        if (k.ccode) {
            EXPECT_EQ(parse(std::string("C-") + upper), k.ccode) << k.name;
        }
    }
}

TEST_F(Keys, KeyRangesParse) {
    struct {
        const char* prefix;
        int first, count;
    } ranges[] = {{"F", 256, 192}, {"SF", 329, 20},  {"CF", 349, 20},
                  {"AF", 369, 20}, {"CSF", 389, 20}, {"K", 256, 73}};
    for (const auto& r : ranges)
        for (int n = 1; n <= r.count; n++)
            EXPECT_EQ(parse(r.prefix + std::to_string(n)), r.first + n - 1) << r.prefix << n;
    for (char c = 'a'; c <= 'z'; c++)
        EXPECT_EQ(parse(std::string("alt") + c), 409 + c - 'a');
    for (int n = 1; n <= 9; n++)
        EXPECT_EQ(parse("ALT" + std::to_string(n)), 434 + n);
    EXPECT_EQ(parse("alt0"), 444);
    EXPECT_EQ(parse("alt-"), 445);
    EXPECT_EQ(parse("alt="), 446);
    EXPECT_EQ(parse("ALT10"), 444); // as the key names print 444..446
    EXPECT_EQ(parse("ALT12"), 446);
}

TEST_F(Keys, KeyNameExamples) {
    struct {
        const char* text;
        int code;
    } cases[] = {{"c-up", 320},   {"alta", 409},    {"af3", 371},    {"f21", 276},
                 {"none", -1},    {"'a'", 'a'},     {"'^C'", 3},     {"\"\\e\"", 27},
                 {"'\\033'", 27}, {"'\\x41'", 'A'}, {"'\\''", '\''}, {"  kp,", 292},
                 {"enter", 13},   {"c-enter", 309}};
    for (const auto& c : cases)
        EXPECT_EQ(parse(c.text), c.code) << c.text;
    const char* end = nullptr;
    const std::string line = "f3 \"text\"";
    EXPECT_EQ(parse(line, nullptr, &end), 258);
    EXPECT_EQ(end, line.c_str() + 2);
}

TEST_F(Keys, BadKeyNames) {
    struct {
        const char* text;
        const char* msg;
    } cases[] = {
        {"bogus", "Key designator expected\r\n"},
        {"f", "Key designator expected\r\n"},
        {"fx", "Key designator expected\r\n"},
        {"c-kp5", "Key designator expected\r\n"},
        {"'ab'", "Key designator expected\r\n"},
        {"''", "Key designator expected\r\n"},
        {"'\\q'", "Key designator expected\r\n"},
        {"'^", "Key designator expected\r\n"},
        {"alt", "Key designator expected\r\n"},
        {"altab", "Key designator expected\r\n"},
        {"f0", "Function key#\r\n"},
        {"f193", "Function key#\r\n"},
        {"sf21", "Function key#\r\n"},
        {"csf99999999999", "Function key#\r\n"},
        {"alt15", "Function key#\r\n"},
        {"", "Key designator expected\r\n"},
    };
    for (const auto& c : cases) {
        std::string msg;
        EXPECT_EQ(parse(c.text, &msg), -99) << c.text;
        // A number out of range is a script error: a caret line, then the message.
        EXPECT_TRUE(msg.size() >= strlen(c.msg) && msg.ends_with(c.msg)) << c.text << ": " << msg;
        if (std::string(c.msg) != "Function key#\r\n") {
            EXPECT_EQ(msg, c.msg) << c.text;
        }
    }
}

} // namespace

// ---- key strings read from the console description ---------------------------------------

#include "screen/termcap.h"

#include <cstdlib>

namespace {

class KeyCaps : public Keys {
  protected:
    void TearDown() override {
        unsetenv("TERMCAP");
        termcapreset();
        displayreset();
        qflag = 0;
        Keys::TearDown();
    }
    int load(const char* entry) {
        displayreset();
        termcapreset();
        qflag = 1;
        setenv("TERMCAP", entry, 1);
        setenv("TERM", "keytest", 1);
        return tinit("keytest");
    }
};

TEST_F(KeyCaps, TinitReadsTheKeyStringsAndSetcapRebuilds) {
    ASSERT_EQ(load("keytest|keys:co#80:li#24:cl=\\E[H\\E[J:ku=20*\\EOA:k1=\\EOP:kE=:@7=\\E[F:"
                   "kb=^H:n5=\\EOu:"),
              0);
    EXPECT_EQ(keycapstr[17], "\033OA"); // ku, delay skipped
    trinit(itrans, iqueue);
    EXPECT_EQ(addkeystrings(), 5);
    EXPECT_EQ(typed("\033OA\033OP\033[F\b\033Ou"), (V{276, 256, 298, 319, 286}));
    // A key string changed at run time takes effect at once.
    EXPECT_EQ(setcap("ku", "\033[A"), 1);
    EXPECT_EQ(typed("\033[A\033OA"), (V{276, 27, 'O', 'A'}));
    EXPECT_EQ(setkeycap("zz", "x"), 0);
}

} // namespace

#include "core/fmt.h"

namespace {
// Every key name the formatter prints reads back as the same key.
TEST_F(Keys, KeyNamesRoundTrip) {
    for (int code = 256; code < NKEYS; code++) {
        std::string name = chname(code, 6);
        EXPECT_EQ(parse(name), code) << name;
    }
    for (const KeyName& k : keytrans) {
        EXPECT_EQ(parse(chname(k.code, 6)), k.code) << k.name;
        if (k.ccode) {
            EXPECT_EQ(parse(chname(k.ccode, 6)), k.ccode) << k.name;
        }
    }
    EXPECT_EQ(parse(chname(-1, 6)), -1);
    struct {
        int code;
        const char* printed;
    } kk[] = {{256, "F1"},     {320, "C-UP"}, {419, "ALTK"},  {371, "AF3"},
              {297, "C-HOME"}, {296, "PGUP"}, {444, "ALT10"}, {446, "ALT12"}};
    for (const auto& c : kk) {
        std::string shown = console([&] { zzprintf("%kk", c.code); });
        EXPECT_EQ(shown, c.printed);
        EXPECT_EQ(parse(shown), c.code) << shown;
    }
}
} // namespace
