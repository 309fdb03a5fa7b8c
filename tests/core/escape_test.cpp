// The escape prompt's letters, selection failures, the protocol sub-prompt, line input, and
// terminal mode's TALK echo, run in-process with the console and the line as pipes.
#include "core/escape.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/serial.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "support/console_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <thread>

namespace {
const std::string back = "Returning to terminal mode\r\n";
const std::string modes =
    "?\r\nAllowable options are: F)ull, H)alf, T)alk, D)ump, M)nemonic, C)ontrol, \r\n";
const std::string protos = "?\r\nAllowable options are: T)vorncrc, W)vorncrc, 5)vorn5, "
                           "M)odem7, C)xmodem, Y)modem, Z)modem, K)ermit, \r\n";
const std::string protletters =
    "A)scii B)inary X)on/Xoff E)tx/Ack R)ts/Cts N)one Q)uiet D)cd Check\r\n";
} // namespace

TEST(Escape, LettersPrintTheirWordsAndAct) {
    struct Case {
        const char* keys;
        std::string shown; // after "\r\r\nc=>"
        int dupmode, emode, errprot;
    };
    const Case cases[] = {
        {"mt", "Mode T\bTALK\r\n", 0, 8, 0},
        {"MF", "Mode F\bFULL\r\n" + back, 1, 8, 0},
        {"mh", "Mode H\bHALF\r\n" + back, 2, 8, 0},
        {"mz", "Mode Z" + modes + back, 1, 8, 0},
        // A new emulation ends with a line break on the last emulated row; PCTERM needs 25 rows.
        {"e5", "Emulate 5\bVT52\r\n\r\n" + back, 1, 16, 0},
        {"e0", "Emulate 0\bVT102\r\n\r\n" + back, 1, 8, 0},
        {"ep", "Emulate P\bPCTERM\r\nScreen must have at least 25 lines\r\n" + back, 1, 16384, 0},
        {"ex",
         "Emulate X?\r\nAllowable options are: T)ty, V)t100, 5)vt52, A)nsi, L)tv950, "
         "9)tv925, 1)tv912, W)yse50, D)adm1, 3)ib3101, 8)vt220-8, 2)vt220-7, S)coansi, "
         "0)vt102, 6)wyse60, P)cterm, \r\n" +
             back,
         1, 8, 0},
        {"an", "Answer N\bNOW\r\nAnswer mode is not built yet\r\n" + back, 1, 8, 0},
        {"ax", "Answer X?\r\nAllowable options are: A)uto, N)ow, W)ait, O)ff, \r\n" + back, 1, 8,
         0},
        {"bf", "Buffer Flush\r\n" + back, 1, 8, 0},
        {"bq", "Buffer Q?\r\nAllowable options are F(lush\r\n" + back, 1, 8, 0},
        {"pz\r",
         "Protocol Z\bZMODEM \r\nProtocol Ascii, Xon/Xoff protocol, ZMODEM Protocol\r\n" + back, 1,
         8, 7},
        {"pbqdn\r",
         "Protocol Binary Quiet On DCD Check On None \r\nProtocol Binary, No line "
         "protocol, Quiet On, Dcd Check On, VORNCRC Protocol\r\n" +
             back,
         1, 8, 0},
        {"pkrv", "Protocol K\bKERMIT Rts/Cts V" + protos + protletters + back, 1, 8, 3},
        {"k", "K ? for help\r\n" + back, 1, 8, 0},
        {"\r", "\r\n" + back, 1, 8, 0},
        {"?", "?\r\nHelp is not built yet\r\n", 1, 8, 0},
        {"2", "2\r\nHelp is not built yet\r\n", 1, 8, 0},
        {"w", "Writing... No capture file\r\n" + back, 1, 8, 0},
        {"d", "Data Capture is not built yet\r\n" + back, 1, 8, 0},
        {"cabc\r",
         "Connect to configuration:abc\r\nConnecting to a configuration is not built yet\r\n" +
             back,
         1, 8, 0},
        {"c555\r", "Connect to configuration:555\r\nDialing is not built yet\r\n" + back, 1, 8, 0},
        {"c\r", "Connect to configuration:\r\n" + back, 1, 8, 0},
        {"c12\x1b", "Connect to configuration:12" + back, 1, 8, 0},
        {"n\r", "N\bConnect to Node/Number:\r\n" + back, 1, 8, 0},
        {"sf\r", "Send file:f\r\nFile transfer is not built yet\r\n" + back, 1, 8, 0},
        {"h",
         "Hangup"
         "Hang-up is not built yet\r\n" +
             back,
         1, 8, 0},
    };
    for (const Case& c : cases) {
        ConsoleFixture f(false);
        f.type(c.keys);
        escape();
        EXPECT_EQ(f.output(), "\r\r\nc=>" + c.shown) << c.keys;
        EXPECT_EQ(dupmode, c.dupmode) << c.keys;
        EXPECT_EQ(emode, c.emode) << c.keys;
        EXPECT_EQ(errprot, c.errprot) << c.keys;
    }
}

TEST(Escape, TalkModeSuppressesTheReturningLine) {
    ConsoleFixture f(false);
    dupmode = 0;
    f.type("k");
    escape();
    EXPECT_EQ(f.output(), "\r\r\nc=>K ? for help\r\n");
}

TEST(Selection, KeysNamesAndAbbreviations) {
    EXPECT_EQ(selkey(modelist, 'T'), 0);
    EXPECT_EQ(selkey(modelist, 'C'), 5);
    EXPECT_EQ(selkey(modelist, 't'), -1);
    EXPECT_EQ(selkey(termlist, '0'), 8);
    EXPECT_EQ(selkey(xprotlist, 'W'), 6);
    EXPECT_STREQ(selname(termlist, 8), "VT100"); // the first entry with the value
    EXPECT_STREQ(selname(xprotlist, 9), "?");
    EXPECT_STREQ(selname(answlist, 0), "WAIT");
    EXPECT_EQ(selvalue(modelist, "mnem"), 4);
    EXPECT_EQ(selvalue(parlist, "even"), 2);
    EXPECT_EQ(selvalue(modelist, "fullx"), -1);
    EXPECT_EQ(selvalue(modelist, "ful"), -1); // abbreviations need four characters
    EXPECT_EQ(selvalue(modelist, "Full"), 1);
    EXPECT_EQ(selvalue(termlist, "vt220-7"), 4096);
    EXPECT_EQ(selvalue(termlist, "vt22"), 8192); // table order decides
    EXPECT_EQ(selvalue(termlist, "tty"), 4);
    EXPECT_EQ(selvalue(xprotlist, "wvorn"), 6);
    EXPECT_EQ(selvalue(modelist, ""), -1);
}

TEST(Dispprot, LineProtocolNames) {
    struct Case {
        int amode, prot, quiet, dcdchk, errprot;
        const char* line;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0, "Protocol Ascii, No line protocol, VORNCRC Protocol\r\n"},
        {1, 1, 0, 0, 3, "Protocol Binary, Xon/Xoff protocol, KERMIT Protocol\r\n"},
        {0, 2, 1, 0, 4, "Protocol Ascii, Etx/Ack protocol, Quiet On, XMODEM Protocol\r\n"},
        {0, 3, 0, 1, 9, "Protocol Ascii, Rts/Cts protocol, Dcd Check On, ? Protocol\r\n"},
    };
    for (const Case& c : cases) {
        ConsoleFixture f(false);
        amode = c.amode, prot = c.prot, quiet = c.quiet, dcdchk = c.dcdchk, errprot = c.errprot;
        dispprot();
        EXPECT_EQ(f.output(), c.line);
        amode = prot = quiet = dcdchk = 0;
    }
}

TEST(Ngets, EditingKeysAndEndings) {
    struct Case {
        std::string keys;
        int flags;
        int result;
        const char* text;
        std::string shown;
    };
    const Case cases[] = {
        {"abc\r", NG_ECHO, 0, "abc", "abc\r\n"},
        {"abc\r", 0, 0, "abc", "\r\n"},
        {"ab\bc\x7f"
         "d\r",
         NG_ECHO, 0, "ad", "ab\b \bc\b \bd\r\n"},
        {"abc\x18"
         "de\r",
         NG_ECHO, 0, "de", "abc\b \b\b \b\b \bde\r\n"},
        {"\b\b\r", NG_ECHO, 0, "", "\r\n"},
        {"ab\x1b", NG_ECHO | NG_ESC, 1, nullptr, "ab"},
        {"a\x1b"
         "b\r",
         NG_ECHO, 0, "ab", "ab\r\n"},
        {"a\x03", NG_ECHO | NG_ABORT, 1, nullptr, "a"},
        {"\x04", NG_EOF, 1, nullptr, ""},
        {"a\x04"
         "b\r",
         NG_ECHO | NG_EOF, 0, "ab", "ab\r\n"},
        {"\x01\x7f\x02x\r", NG_ECHO, 0, "x", "x\r\n"},
        {"\xe9\r", 0, 0, "\xe9", "\r\n"},
    };
    for (const Case& c : cases) {
        ConsoleFixture f(false);
        f.type(c.keys);
        char buf[NGETS_MAX + 1];
        EXPECT_EQ(ngets(buf, c.flags), c.result) << c.keys;
        if (c.text) {
            EXPECT_STREQ(buf, c.text) << c.keys;
        }
        EXPECT_EQ(f.output(), c.shown) << c.keys;
    }
}

TEST(Ngets, KeypadKeysBecomeCharacters) {
    ConsoleFixture f(false);
    const int keys[] = {K_KP0 + 1, K_KP0 + 9, K_KPMINUS, K_KPSTAR,  K_KPDOT,
                        K_KPSLASH, K_KPCOMMA, 276,       K_KPENTER, 0};
    int n = 0;
    for (int k : keys)
        consbuf[n++] = static_cast<uint16_t>(k);
    consp = 0;
    char buf[NGETS_MAX + 1];
    EXPECT_EQ(ngets(buf, 0), 0);
    EXPECT_STREQ(buf, "19-,./,");
}

TEST(Ngets, KeepsSeventyNineCharactersAndTheEightiethEndsTheLine) {
    ConsoleFixture f(false);
    std::string typed;
    for (int i = 0; i < 100; i++)
        typed += static_cast<char>('!' + i % 90);
    f.type(typed);
    char buf[NGETS_MAX + 1];
    EXPECT_EQ(ngets(buf, NG_ECHO), 0);
    EXPECT_EQ(std::string(buf), typed.substr(0, 79));
    EXPECT_EQ(f.output(), typed.substr(0, 79) + "\r\n");
    // The 80th key was taken and dropped; the 81st is still waiting.
    EXPECT_EQ(chrin(), typed[80]);
}

TEST(Ngets, CtrlRRecallsTheLastNonEmptyLineOnAnEmptyLineOnly) {
    ConsoleFixture f(false);
    char buf[NGETS_MAX + 1];
    f.type("first\r");
    ASSERT_EQ(ngets(buf, 0), 0);
    f.type("\r");
    ASSERT_EQ(ngets(buf, 0), 0);
    f.type("\x12\r");
    ASSERT_EQ(ngets(buf, NG_ECHO), 0);
    EXPECT_STREQ(buf, "first");
    f.type("x\x12\r");
    ASSERT_EQ(ngets(buf, 0), 0);
    EXPECT_STREQ(buf, "x");
}

TEST(Getch, UpperCasesAndEchoesPrintableKeys) {
    ConsoleFixture f(false);
    f.type("a\x05Z");
    EXPECT_EQ(getch(), 'A');
    EXPECT_EQ(getch(), 5);
    EXPECT_EQ(getch(), 'Z');
    EXPECT_EQ(f.output(), "AZ");
}

TEST(Term, TalkShowsReceivedBytesAndEchoesThemWithBitSeven) {
    ConsoleFixture f;
    dupmode = 0;
    f.send("a\xe1"
           "b\n");
    // The person at the console ends TALK with ^Z once the peer has its echoes.
    std::thread user([&] {
        f.received(3);
        f.type("\x1a");
    });
    int r = term(nullptr);
    user.join();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(f.received(), "\xe1\xe2\x8a");
    // A new "t=>" prompt follows the line feed.
    EXPECT_EQ(f.output(), "t=>aab\nt=>");
}

TEST(Term, CommandKeysLeaveWithTheirResults) {
    struct Case {
        std::string keys;
        int result;
    };
    const Case cases[] = {{"\x05", 1}, {"x\x05", 1}};
    for (const Case& c : cases) {
        ConsoleFixture f;
        f.type(c.keys);
        EXPECT_EQ(term(nullptr), c.result);
    }
    ConsoleFixture f;
    terchar = 'T';
    f.type("abT");
    EXPECT_EQ(term(nullptr), 3);
    EXPECT_EQ(f.received(2), "ab"); // keys before it went to the line
}

TEST(Term, HalfDuplexEchoesTypedKeysAndFullDoesNot) {
    for (int mode : {1, 2}) {
        ConsoleFixture f;
        dupmode = mode;
        f.type("hi\x05");
        EXPECT_EQ(term(nullptr), 1);
        EXPECT_EQ(f.received(2), "hi");
        EXPECT_EQ(f.output(), mode == 2 ? "hi" : "");
    }
}

TEST(Term, LostLineEndsWithFour) {
    ConsoleFixture f;
    f.send("ok");
    f.received(0, 0);
    ::shutdown(f.peerfd(), SHUT_WR);
    EXPECT_EQ(term(nullptr), 4);
    EXPECT_EQ(f.output(), "ok\r\n[Disconnected]\r\n");
}

TEST(Term, ServerModeEndsOnCtrlCFromTheLine) {
    ConsoleFixture f;
    xflag = 1;
    f.send("x\x03");
    EXPECT_EQ(term(nullptr), 0);
    EXPECT_EQ(f.output(), "x");
}

TEST(Dispcapt, AnswerBackIsSentNotShown) {
    ConsoleFixture f;
    std::strcpy(wrustr, "ID42\r");
    dispcapt(5);
    dispcapt('k');
    EXPECT_EQ(f.received(5), "ID42\r");
    EXPECT_EQ(f.output(), "k");
}

TEST(Term, DumpModesShowReceivedBytesInTheirVisibleForm) {
    struct Case {
        int mode;
        const char* shown;
    };
    const Case cases[] = {
        {3, "41 1b 01 e1 "},
        {4, "A<ESC><SOH>+a"},
        {5, "A^[^A+a"},
    };
    for (const Case& c : cases) {
        ConsoleFixture f;
        dupmode = c.mode;
        f.send("A\x1b\x01\xe1");
        // The bytes are queued before the command key is typed, and line bytes come first.
        while (qcount(comq) < 4)
            waitread(1);
        f.type("\x05");
        EXPECT_EQ(term(nullptr), 1);
        EXPECT_EQ(f.output(), c.shown) << c.mode;
    }
}

TEST(Start, HintLineNamesTheMenuAndHelpKeys) {
    struct Case {
        int menu, help;
        const char *first, *second;
    };
    const Case cases[] = {{K_F1, K_F2, "F1", "F2"}, {-1, K_ALTK, "NONE", "ALTK"}};
    for (const Case& c : cases) {
        ConsoleFixture f(false);
        mnuchar = c.menu;
        hlpchar = c.help;
        hintline();
        const std::string out = f.output();
        size_t type = out.find("\r\nType ");
        size_t first = out.find(c.first);
        size_t menu = out.find(" for Command Menu ");
        size_t second = out.find(c.second, menu);
        size_t help = out.find(" for Help\r\n");
        EXPECT_EQ(type, 0u) << c.first;
        EXPECT_LT(type, first) << c.first;
        EXPECT_LT(first, menu) << c.first;
        EXPECT_LT(menu, second) << c.first;
        EXPECT_LT(second, help) << c.first;
    }
}
