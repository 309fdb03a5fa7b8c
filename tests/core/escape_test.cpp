// The escape prompt's letters, selection by name, line input, and terminal mode's duplex and
// dump modes, run in-process with the console and the line as pipes.
#include "core/escape.h"
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "screen/keyboard.h"
#include "support/console_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {
const std::string back = "Returning to terminal mode\r\n";
const std::string modes =
    "?\r\nAllowable options are: F)ull, H)alf, T)alk, D)ump, M)nemonic, C)ontrol, \r\n";
const std::string protos = "?\r\nAllowable options are: T)vorncrc, W)vorncrc, 5)vorn5, "
                           "M)odem7, C)xmodem, Y)modem, Z)modem, K)ermit, \r\n";
const std::string protletters =
    "A)scii B)inary X)on/Xoff E)tx/Ack R)ts/Cts N)one Q)uiet D)cd Check\r\n";
const std::string emuls = "?\r\nAllowable options are: T)ty, V)t100, 5)vt52, A)nsi, L)tv950, "
                          "9)tv925, 1)tv912, W)yse50, D)adm1, 3)ib3101, 8)vt220-8, 2)vt220-7, "
                          "S)coansi, 0)vt102, 6)wyse60, P)cterm, X)term, \r\n";
} // namespace

TEST(Escape, LettersPrintTheirWordsAndAct) {
    // Where a configuration file is looked for: home, then VORNDIR.
    const char* home = getenv("HOME");
    const char* vd = getenv("VORNDIR");
    const std::string searched =
        std::string(home && *home ? home + std::string(", ") : "") + (vd ? vd : "/usr/vorn");
    struct Case {
        const char* keys;
        std::string shown; // after "\r\r\nc=>"
        int dupmode, emode, errprot;
    };
    // clang-format off
    const Case cases[] = {
        {"mt", "Mode T\bTALK\r\n", 0, 8, 0},
        {"MF", "Mode F\bFULL\r\n" + back, 1, 8, 0},
        {"mh", "Mode H\bHALF\r\n" + back, 2, 8, 0},
        {"mz", "Mode Z" + modes + back, 1, 8, 0},
        // A new emulation ends with a line break on the last emulated row, which this console
        // (no cursor addressing) reaches by line feeds; PCTERM needs 25 rows.
        {"e5", "Emulate 5\bVT52\r\n" + std::string(23, '\n') + "\r\n" + back, 1, 16, 0},
        {"ep", "Emulate P\bPCTERM\r\nScreen must have at least 25 lines\r\n" + back, 1, 16384, 0},
        {"eq", "Emulate Q" + emuls + back, 1, 8, 0},
        {"ax", "Answer X?\r\nAllowable options are: A)uto, N)ow, W)ait, O)ff, \r\n" + back, 1, 8,
         0},
        {"bf", "Buffer Flush\r\n" + back, 1, 8, 0},
        {"bq", "Buffer Q?\r\nAllowable options are F(lush\r\n" + back, 1, 8, 0},
        {"pbqdn\r", "Protocol Binary Quiet On DCD Check On None \r\nProtocol Binary, No line "
                    "protocol, Quiet On, Dcd Check On, VORNCRC Protocol\r\n" + back, 1, 8, 0},
        {"pe\r", "Protocol Etx/Ack \r\nProtocol Ascii, Etx/Ack protocol, VORNCRC Protocol\r\n"
                 + back, 1, 8, 0},
        {"pkrv", "Protocol K\bKERMIT Rts/Cts V" + protos + protletters + back, 1, 8, 3},
        {"k", "K ? for help\r\n" + back, 1, 8, 0},
        {"\r", "\r\n" + back, 1, 8, 0},
        {"?", "?\r\nVORN system helpfiles not present\r\n", 1, 8, 0},
        {"w", "Writing... No capture file\r\n" + back, 1, 8, 0},
        {"cabc\r", "Connect to configuration:abc\r\nCan't find command file abc.con (looked in "
                   + searched + ")\r\n" +
                   back, 1, 8, 0},
        {"c555\r", "Connect to configuration:555\r\nNo connection specified\r\n" + back, 1, 8, 0},
        {"c\r", "Connect to configuration:\r\n" + back, 1, 8, 0},
        {"c12\x1b", "Connect to configuration:12" + back, 1, 8, 0},
        {"n\r", "N\bConnect to Node/Number:\r\n" + back, 1, 8, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        ConsoleFixture f(false);
        emreset0(); // each row starts from the power-on emulation
        f.type(c.keys);
        escape();
        EXPECT_EQ(f.output(), "\r\r\nc=>" + c.shown) << c.keys;
        EXPECT_EQ(dupmode, c.dupmode) << c.keys;
        EXPECT_EQ(emode, c.emode) << c.keys;
        EXPECT_EQ(errprot, c.errprot) << c.keys;
    }
}

TEST(Selection, NamesNeedFourCharactersToAbbreviateAndTableOrderDecides) {
    // clang-format off
    struct { const SelEntry* list; const char* word; int want; } rows[] = {
        {modelist, "mnem", 4},    {modelist, "Full", 1},      {modelist, "ful", -1},
        {modelist, "fullx", -1},  {modelist, "", -1},         {parlist, "even", 2},
        {termlist, "tty", 4},     {termlist, "vt22", 8192},   {termlist, "vt220-7", 4096},
    };
    // clang-format on
    for (auto& r : rows)
        EXPECT_EQ(selvalue(r.list, r.word), r.want) << r.word;
    EXPECT_STREQ(selname(termlist, 8), "VT100"); // the first entry with the value
}

TEST(Ngets, EditingKeysAndEndings) {
    struct Case {
        std::string keys;
        int flags, result;
        const char* text;
        std::string shown;
    };
    // clang-format off
    const Case cases[] = {
        {"abc\r", NG_ECHO, 0, "abc", "abc\r\n"},
        {"abc\r", 0, 0, "abc", "\r\n"},
        {"ab\bc\x7f" "d\r", NG_ECHO, 0, "ad", "ab\b \bc\b \bd\r\n"},
        {"abc\x18" "de\r", NG_ECHO, 0, "de", "abc\b \b\b \b\b \bde\r\n"},
        {"\b\b\r", NG_ECHO, 0, "", "\r\n"},
        {"ab\x1b", NG_ECHO | NG_ESC, 1, nullptr, "ab"},
        {"a\x1b" "b\r", NG_ECHO, 0, "ab", "ab\r\n"},
        {"a\x03", NG_ECHO | NG_ABORT, 1, nullptr, "a"},
        {"\x04", NG_EOF, 1, nullptr, ""},
        {"a\x04" "b\r", NG_ECHO | NG_EOF, 0, "ab", "ab\r\n"},
        {"\x01\x7f\x02x\r", NG_ECHO, 0, "x", "x\r\n"},
        {"\xe9\r", 0, 0, "\xe9", "\r\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        ConsoleFixture f(false);
        f.type(c.keys);
        char buf[NGETS_MAX + 1];
        EXPECT_EQ(ngets(buf, c.flags), c.result) << c.keys;
        EXPECT_STREQ(c.text ? buf : nullptr, c.text) << c.keys; // aborted: no text
        EXPECT_EQ(f.output(), c.shown) << c.keys;
    }
}

TEST(Ngets, KeypadKeysLengthLimitAndRecall) {
    char buf[NGETS_MAX + 1];
    {
        ConsoleFixture f(false);
        const int keys[] = {KC_KP0 + 1, KC_KP0 + 9, KC_KPMINUS, KC_KPSTAR,  KC_KPPERIOD,
                            KC_KPSLASH, KC_KPCOMMA, 276,        KC_KPENTER, 0};
        std::copy(std::begin(keys), std::end(keys), consbuf);
        consp = 0;
        EXPECT_EQ(ngets(buf, 0), 0);
        EXPECT_STREQ(buf, "19-,./,");
    }
    {
        // Seventy-nine characters are kept; the 80th key is taken and dropped, the 81st waits.
        ConsoleFixture f(false);
        f.type(std::string(80, 'a') + "Z");
        EXPECT_EQ(ngets(buf, 0), 0);
        EXPECT_EQ(std::string(buf), std::string(79, 'a'));
        EXPECT_EQ(chrin(), 'Z');
    }
    // ^R recalls the last line that was not empty, and only on an empty line.
    ConsoleFixture f(false);
    const std::pair<const char*, const char*> steps[] = {
        {"first\r", "first"}, {"\r", ""}, {"\x12\r", "first"}, {"x\x12\r", "x"}};
    for (const auto& [keys, want] : steps) {
        f.type(keys);
        ASSERT_EQ(ngets(buf, 0), 0);
        EXPECT_STREQ(buf, want) << keys;
    }
}

TEST(Term, CommandKeysEchoDumpModesAndAnswerBack) {
    struct Case {
        int dupmode, terchar;
        std::string fromline, keys;
        int result;
        std::string toline, shown;
    };
    const Case cases[] = {
        // TALK shows what arrives and echoes it with bit 7 set; a line feed brings a new prompt.
        {0, 0, "a\341b\n", "\x1a", 0, "\xe1\xe2\x8a", "t=>aab\nt=>"},
        {1, 0, "", "hi\x05", 1, "hi", ""},
        {2, 0, "", "hi\x05", 1, "hi", "hi"}, // HALF echoes what is typed
        {1, 'T', "", "hiT", 3, "hi", ""},
        {3, 0, "A\x1b\x01\xe1", "\x05", 1, "", "41 1b 01 e1 "},
        {4, 0, "A\x1b\x01\xe1", "\x05", 1, "", "A<ESC><SOH>+a"},
        {5, 0, "A\x1b\x01\xe1", "\x05", 1, "", "A^[^A+a"},
        {1, 0, "\x05k", "\x05", 1, "ID42\r", "k"}, // ENQ sends the answer-back, unseen
    };
    for (const Case& c : cases) {
        ConsoleFixture f;
        dupmode = c.dupmode;
        if (c.terchar) terchar = c.terchar;
        std::strcpy(wrustr, "ID42\r");
        // Line bytes are queued before the keys are typed, so they are shown first.
        f.send(c.fromline);
        while (qcount(comq) < static_cast<int>(c.fromline.size()))
            waitread(1);
        f.type(c.keys);
        EXPECT_EQ(term(nullptr), c.result) << c.keys;
        EXPECT_EQ(f.received(c.toline.size()), c.toline) << c.dupmode;
        EXPECT_EQ(f.output(), c.shown) << c.dupmode;
    }
}
