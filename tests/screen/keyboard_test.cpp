// Keys: what each emulation sends where the end-to-end key tests do not reach, GOLD, compose,
// the key map, the console's key strings and key names.
#include <gtest/gtest.h>

#include "core/fmt.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/trans.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/keynames.h"
#include "support/portsupport.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string sent; // what reached the line
using V = std::vector<int>;
using P = std::pair<long, int>;

class Keys : public ::testing::Test {
  protected:
    ComDriver* keepcom = COM;
    ComDriver rec = nulfunc; // the null line, recording what is sent
    void SetUp() override {
        rec.out = [](int c) { return sent += static_cast<char>(c), 1; };
        rec.bout = [](const uint8_t* b, int n) { return sent.append((const char*)b, n), n; };
        COM = &rec, appcur = appkey = vtc18out = aflag = 0, vbsdel = dupmode = 1;
        keyreset(), trinit(itrans, iqueue), qinit(iqueue, 128);
    }
    void TearDown() override {
        COM = keepcom, vemode = emode = EM_VT100, appcur = appkey = vtc18out = qflag = 0;
        keyreset(), trinit(itrans, iqueue), unsetenv("TERMCAP"), displayreset();
    }
    // The console `term` as `termcap` (a file or an entry) describes it, its key strings read.
    int console(const std::string& termcap, const char* term) {
        displayreset(), qflag = 1;
        setenv("TERMCAP", termcap.c_str(), 1), setenv("TERM", term, 1);
        const int r = tinit(term);
        return trinit(itrans, iqueue), r;
    }
    std::string press(int code) { return sent.clear(), fnkey(code), sent; }
    // The console's key strings are these and no others.
    void usekeys(const std::vector<std::pair<const char*, std::string>>& caps) {
        keyreset();
        for (auto& c : caps)
            setrealkey(c.first, c.second.c_str());
        trinit(itrans, iqueue), addkeystrings();
    }
    V typed(const std::string& bytes) {
        for (unsigned char c : bytes)
            trans(c, itrans);
        V v;
        for (int c; (c = unqchar(iqueue)) >= 0;)
            v.push_back(c);
        return v;
    }
};

#define E "\033"
enum { APPCUR = 1, APPKEY = 2, C1 = 4, BSBS = 8 /* VT220 backspace sends BS */, GOLD = 16 };

// clang-format off
const struct {
    int em, modes, code;
    const char* bytes;
    const char* shown = ""; // on the console (full duplex)
} sends[] = {
    // The DEC family where the end-to-end run does not reach. Keypad *, + and / borrow comma,
    // enter and a plain slash; control-F1..F10 are F11..F20 on a VT220.
    {EM_VT100, 0, 260, ""},          {EM_VT100, 0, 261, ""},          {EM_VT100, 0, 308, "\177"},
    {EM_VT100, APPKEY, 314, E "Ol"}, {EM_VT100, APPKEY, 315, E "OM"}, {EM_VT100, APPKEY, 316, "/"},
    {EM_VT100, APPKEY, 290, E "Oy"}, {EM_VT100, APPKEY, 291, E "Om"}, {EM_ANSI, 0, 257, E "OQ"},
    {EM_VT100, APPCUR, 278, E "OC"}, {EM_VT100, APPKEY, 293, E "On"}, {EM_ANSI, 0, 277, E "[B"},
    {EM_ANSI, APPCUR, 277, E "OB"},  {EM_VT2207, 0, 265, E "[21~"},   {EM_VT2207, 0, 270, E "[28~"},
    {EM_VT2207, 0, 275, E "[34~"},   {EM_VT2207, 0, 349, E "[23~"},   {EM_VT2207, 0, 359, ""},
    {EM_VT2207, 0, 295, E "[6~"},    {EM_VT2207, 0, 297, ""},         {EM_VT2207, 0, 299, ""},
    {EM_VT2207, 0, 260, ""},         {EM_VT2207, BSBS, 319, "\b"},    {EM_VT2208, C1, 319, "\177"},
    {EM_VT52, BSBS, 319, "\b"},      {EM_VT52, APPCUR, 279, E "D"},  {EM_VT52, APPKEY, 285, E "?t"},
    {EM_VT52, APPKEY, 294, E "?M"},
    // After GOLD: keypad and PF keys through the GOLD map, others as they are or a bell.
    {EM_VT100, GOLD, '5', "5"},      {EM_VT100, GOLD | APPKEY, '5', E "Ou"},
    {EM_VT100, GOLD | APPKEY, '\r', E "OM"}, {EM_VT100, GOLD | APPKEY, '*', E "Ol"},
    {EM_VT100, GOLD, 259, E "OS"},   {EM_VT100, GOLD, 261, "", "\a"}, {EM_VT100, GOLD, 'x', "x"},
    {EM_VT2207, GOLD, 261, E "[17~"}, {EM_VT2207, GOLD, 276, "", "\a"}, {EM_TTY, GOLD, 'x', "x"},
    // SCO-ANSI: 48 function keys (F13..F20 are shifted F1..F8), five and back tab; IBM 3101.
    {EM_SCOANSI, 0, 268, E "[Y"}, {EM_SCOANSI, 0, 340, E "[j"}, {EM_SCOANSI, 0, 349, E "[k"},
    {EM_SCOANSI, 0, 389, E "[w"}, {EM_SCOANSI, 0, 393, E "[@"}, {EM_SCOANSI, 0, 400, E "[{"},
    {EM_SCOANSI, 0, 324, E "[E"}, {EM_SCOANSI, 0, 305, E "[Z"}, {EM_SCOANSI, 0, 267, E "[X"},
    {EM_SCOANSI, 0, 295, E "[G"}, {EM_IB3101, 0, 256, E "a\r"}, {EM_IB3101, 0, 267, E "l\r"},
    {EM_IB3101, 0, 268, ""},      {EM_IB3101, 0, 280, E "H"},   {EM_IB3101, 0, 278, E "C"},
    // TeleVideo and Wyse.
    {EM_TV925, 0, 256, "\001@\r"}, {EM_TV925, 0, 271, "\001O\r"}, {EM_TV925, 0, 329, "\001`\r"},
    {EM_TV925, 0, 349, "\001J\r"}, {EM_TV925, 0, 394, "\001o\r"}, {EM_TV925, 0, 277, "\026"},
    {EM_TV912, 0, 277, "\n"},      {EM_TV912, 0, 280, "\036"},    {EM_WYSE50, 0, 295, E "K"},
    {EM_WYSE50, 0, 296, E "J"},    {EM_WYSE50, 0, 298, ""},       {EM_WYSE60, 0, 298, E "T"},
    {EM_WYSE50, APPKEY, 256, "\x80"}, {EM_WYSE50, APPKEY, 344, "\x9f"},
    {EM_WYSE60, APPKEY, 276, "\xd3"}, {EM_WYSE60, APPKEY, 301, "\xdd"},
    {EM_WYSE60, APPKEY, 292, ""},      {EM_TV925, APPKEY, 256, "\001@\r"},
};
// clang-format on

TEST_F(Keys, EachEmulationSendsItsSequences) {
    for (const auto& s : sends) {
        vemode = s.em;
        appcur = s.modes & APPCUR, appkey = (s.modes & APPKEY) / APPKEY;
        vtc18out = (s.modes & C1) / C1, vbsdel = !(s.modes & BSBS);
        sent.clear();
        auto key = [&] { s.modes& GOLD ? goldkey(s.code) : void(fnkey(s.code)); };
        EXPECT_EQ(captureconsole(key) + "|" + sent, std::string(s.shown) + "|" + s.bytes)
            << "emulation " << s.em << " key " << s.code;
    }
    // TTY and no emulation send the console's own strings, and nothing for a key it lacks.
    usekeys({{"k1", E "OP"}, {"ku", E "OA"}, {"kb", "\177"}});
    for (int em : {int(EM_TTY), 0}) {
        vemode = emode = em;
        EXPECT_EQ(press(256) + press(276) + press(319) + press(277), E "OP" E "OA\177");
    }
}

TEST_F(Keys, HostProgrammedKeysComposeAndTheKeyMap) {
    const struct {
        int em, modes, slot;
        const char* text;
        int code;
    } cases[] = {
        {EM_VT2207, 0, 5, "ls\r", 261},  {EM_VT2207, 0, 10, E "x", 266},
        {EM_VT2207, 0, 10, E "x", 349},  // control-F1 acts as F11
        {EM_VT2207, C1, 10, E "x", 266}, // the host's own bytes are not converted
        {EM_SCOANSI, 0, 12, "sf1", 329}, {EM_WYSE50, APPKEY, 20, "w", 329},
    };
    for (auto& c : cases) {
        vemode = c.em, appkey = c.modes == APPKEY, vtc18out = c.modes == C1;
        ASSERT_EQ(setprgkey(c.slot, c.text), 0);
        EXPECT_EQ(press(c.code), c.text) << c.code;
    }
    EXPECT_EQ(setprgkey(48, "x"), -1);
    clrprgkeys();
    vemode = EM_VT2207, vtc18out = 0;
    EXPECT_EQ(press(261), E "[17~");
    dupmode = 2; // half duplex: what is sent is also shown
    EXPECT_EQ(captureconsole([this] { press(256); }), E "OP");
    const int compose[][3] = {
        {'e', '\'', 0xe9}, {'\'', 'e', 0xe9}, {'"', ' ', 0x22}, {' ', '"', 0x22}, {'s', 's', 0xdf},
        {'1', '2', 0xbd},  {'2', '1', 0xbd},  {'C', ',', 0xc7}, {'/', '<', 0x5c}, {'A', 'E', 0xc6},
        {'o', 'e', 0xf7},  {'c', '|', 0xa2},  {'q', 'q', -2},   {'e', 'E', -2}};
    for (const auto& c : compose) {
        EXPECT_EQ(comkey(c[0]), -1);
        EXPECT_EQ(comkey(c[1]), c[2]) << char(c[0]) << char(c[1]);
    }
    EXPECT_EQ(comkey('x'), -1); // a failed pair left nothing pending
    // Macros and "@@" commands stay when the command file's event markers go.
    EXPECT_EQ(defkey(256, "@@dial", 0) + defkey(257, nullptr, 1234), 0);
    EXPECT_EQ(map_key[257], "\xff"
                            "1234");
    EXPECT_EQ(defkey(449, "x", 0) + defkey(-1, "x", 0), -2);
    unmapkey();
    EXPECT_EQ(map_key[256] + "|" + map_key[257], "@@dial|");
}

// ---- console key strings -----------------------------------------------------------------

TEST_F(Keys, FunctionKeyNumberingEndBareKeysAndOverlongStrings) {
    // k0 sorting before k9: k0..k9 are F1..F10; after it, k1..k9 and then k0; without k0, k;.
    std::vector<std::pair<const char*, std::string>> caps;
    for (const char* k : {"k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9"})
        caps.push_back({k, E "[" + std::to_string(10 + k[1] - '0') + "~"});
    usekeys(caps);
    EXPECT_EQ(typed(E "[10~" E "[11~" E "[19~"), (V{256, 257, 265}));
    for (auto& c : caps)
        c.second = c.first[1] == '0' ? E "[21~" : E "O" + std::string(1, 'O' + c.first[1] - '0');
    usekeys(caps);
    EXPECT_EQ(typed(E "OP" E "OX" E "[21~"), (V{256, 264, 265}));
    EXPECT_EQ(conskeys[265], E "[21~");
    usekeys({{"k1", E "OP"}, {"k;", E "[21~"}});
    EXPECT_EQ(typed(E "OP" E "[21~"), (V{256, 265}));
    usekeys({{"@7", E "[F"}, {"kE", E "[K"}}); // kE wins over @7 (which is then unknown)
    EXPECT_EQ(typed(E "[K" E "[F"
                      "f"),
              (V{298, 'f'}));
    // A bare backspace left arrow and return down arrow need the alternate keyboard.
    usekeys({{"kl", "\b"}, {"kd", "\r"}});
    EXPECT_EQ(typed("\b\r"), (V{8, 13}));
    aflag = 1;
    usekeys({{"kl", "\b"}, {"kd", "\r"}});
    EXPECT_EQ(typed("\b\r"), (V{279, 277}));
    std::string huge(1000, 'x');
    huge[0] = '\033';
    auto overlong = [&] { usekeys({{"ku", huge}, {"kd", E "[B"}}); };
    EXPECT_EQ(captureconsole(overlong), "No memory for termcap/terminfo key definition\r\n");
    EXPECT_EQ(typed(E "[B"), V{277});
}

TEST_F(Keys, TinitReadsTheKeyStringsAndSetcapRebuilds) {
    // Delays skipped, an empty kE (so @7 is End), and one key of each range of the table.
    ASSERT_EQ(console("keytest|keys:co#80:li#24:ku=20*\\EOA:k1=\\EOP:kE=:@7=\\E[F:kb=^H:n5=\\EOu:"
                      "F1=\\E[23~:F6=\\E[29~:kh=\\EOH:nr=\\EOM:kN=\\E[6~:kF=\\E[1;2B:%9=\\E[i:"
                      "KJ=\\E[1;5A:KM=\\E[3;5~:F7=\\E[1;2P:FM=\\E[24;2~:FN=\\E[1;5P:Fc=\\E[18;5~:"
                      "Fd=\\E[1;3P:Fs=\\E[19;3~:Ft=\\E[1;6P:KI=\\E[29;6~:",
                      "keytest"),
              0);
    EXPECT_EQ(keycapstr[17], E "OA"); // ku
    EXPECT_EQ(addkeystrings(), 22);
    EXPECT_EQ(typed(E "OA" E "OP" E "[F\b" E "Ou" E "[23~" E "[29~" E "OH" E "OM" E "[6~" E
                      "[1;2B" E "[i" E "[1;5A" E "[3;5~" E "[1;2P" E "[24;2~" E "[1;5P" E "[18;5~" E
                      "[1;3P" E "[19;3~" E "[1;6P" E "[29;6~"),
              (V{276, 256, 298, 319, 286, 266, 271, 280, 294, 295, 307,
                 304, 320, 323, 329, 344, 349, 364, 369, 384, 389, 404}));
    EXPECT_EQ(conskeys[404], E "[29;6~");
    // A key string changed at run time takes effect at once; a name that is no key is refused.
    EXPECT_EQ(setcap("ku", E "[A"), 1);
    // The old string is now a key string of the terminal's syntax that nothing takes: dropped.
    EXPECT_EQ(typed(E "[A" E "OA"), (V{276}));
    EXPECT_EQ(setkeycap("zz", "x") + setrealkey("xx", "a"), 0);
}

// The shipped descriptions of the common consoles hold what those terminals send (keypad in
// application mode, editing keys, the control forms the command keys use), within the
// description's size limits; a key string they lack never reaches the host as typed.
TEST_F(Keys, ShippedConsoleDescriptionsKnowTheirTerminalsKeys) {
    using K = std::pair<const char*, int>;
    const std::vector<K> keypad = {{E "Op", 281}, {E "Ot", 285}, {E "Oy", 290}, {E "Om", 291},
                                   {E "Ol", 292}, {E "On", 293}, {E "OM", 294}, {E "OA", 276},
                                   {E "OB", 277}, {E "OC", 278}, {E "OD", 279}, {E "OP", 256},
                                   {E "OS", 259}};
    const std::vector<K> editing = {{E "[2~", 300},  {E "[3~", 301},  {E "[5~", 296},
                                    {E "[6~", 295},  {E "[Z", 305},   {E "[15~", 260},
                                    {E "[21~", 265}, {E "[23~", 266}, {E "[24~", 267}};
    const std::vector<K> control = {{E "[1;5A", 320}, {E "[1;5B", 321}, {E "[1;5C", 302},
                                    {E "[1;5D", 303}, {E "[5;5~", 306}, {E "[6;5~", 307},
                                    {E "[2;5~", 322}, {E "[3;5~", 323}};
    const struct {
        const char* term;
        std::vector<std::vector<K>> keys;
    } cases[] = {
        {"xterm", {keypad, editing, control, {{E "OH", 280}, {E "OF", 298}}}},
        {"xterm-256color", {keypad, editing, control, {{E "OH", 280}, {E "OF", 298}}}},
        {"screen", {keypad, editing, {{E "[1~", 280}, {E "[4~", 298}}}},
        {"tmux", {keypad, editing, control, {{E "[1~", 280}, {E "[4~", 298}}}},
        {"vt100", {keypad}},
    };
    const std::string shipped = std::string(VORN_SOURCE_DIR) + "/data/termcap.qal";
    for (const auto& c : cases) {
        ASSERT_EQ(console(shipped, c.term), 0) << c.term;
        addkeystrings();
        std::string bytes;
        V codes;
        for (const auto& group : c.keys)
            for (const auto& [str, code] : group)
                bytes += str, codes.push_back(code);
        // Keys of other terminals and modified keys no entry holds are dropped whole.
        EXPECT_EQ(typed(bytes + E "[1;2A" E "Oj" E "[200~x"), (codes.push_back('x'), codes))
            << c.term;
    }
}

// ---- key names -----------------------------------------------------------------------------

// The code setch2 reads from `text`, -99 after a message (stored in *msg).
int parse(const std::string& text, std::string* msg = nullptr) {
    int r = -99;
    const char* e = nullptr;
    std::string shown = captureconsole([&] { e = setch2(text.c_str(), "Key designator", &r); });
    if (msg) *msg = shown;
    return e ? r : -99;
}

TEST_F(Keys, KeyNamesPrintedNamesAndTheMessages) {
    for (const KeyName& k : keytrans) {
        EXPECT_EQ(parse(k.name), k.code) << k.name;
        EXPECT_EQ(k.ccode ? parse(std::string("c-") + k.name) : 0, k.ccode) << k.name;
    }
    for (int code = -1; code < NKEYS; code += code == -1 ? 257 : 1) // as %kk prints them
        EXPECT_EQ(parse(sfmt("%kk", code)), code) << sfmt("%kk", code);
    const char* expected = "Key designator expected\r\n";
    const char* number = "Function key#\r\n"; // a script error: after a caret line
    // clang-format off
    const struct {
        const char* text;
        int code;
        const char* msg;
    } cases[] = {
        {"c-up", 320, ""},   {"alta", 409, ""},  {"af3", 371, ""},    {"f21", 276, ""},
        {"f192", 447, ""},   {"k1", 256, ""},    {"k73", 328, ""},    {"cf20", 368, ""},
        {"csf20", 408, ""},  {"alt0", 444, ""},  {"alt-", 445, ""},   {"alt=", 446, ""},
        {"none", -1, ""},    {"'a'", 'a', ""},   {"'^C'", 3, ""},     {"\"\\e\"", 27, ""},
        {"'\\033'", 27, ""}, {"'\\x41'", 'A', ""}, {"'\\''", '\'', ""}, {"  kp,", 292, ""},
        {"enter", 13, ""},   {"c-enter", 309, ""}, {"KPENTER", 294, ""},
        {"bogus", -99, expected}, {"f", -99, expected},    {"fx", -99, expected},
        {"c-kp5", -99, expected}, {"'ab'", -99, expected}, {"''", -99, expected},
        {"'\\q'", -99, expected}, {"'^", -99, expected},   {"alt", -99, expected},
        {"altab", -99, expected}, {"", -99, expected},     {"f0", -99, number},
        {"f193", -99, number},    {"sf21", -99, number},   {"csf99999999999", -99, number},
        {"alt15", -99, number},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::string msg;
        EXPECT_EQ(parse(c.text, &msg), c.code) << c.text;
        EXPECT_EQ(c.msg == number ? msg.substr(msg.find(number)) : msg, c.msg) << c.text;
    }
    int code = 0;
    const char* line = "f3 \"text\""; // the key ends at the blank
    EXPECT_EQ(P(setch2(line, "Key designator", &code) - line, code), P(2, 258));
}

} // namespace
