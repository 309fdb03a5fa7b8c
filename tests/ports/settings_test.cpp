// Line settings and the byte path to the line, against a recording driver table.
#include <gtest/gtest.h>

#include "core/term.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "support/portsupport.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Record {
    std::string out;        // bytes sent through out/bout
    std::vector<int> words; // words given to set
    std::vector<int> codes; // codes given to baud
    int bouts = 0;          // calls of bout
};
Record rec;

// clang-format off
const BaudEntry recbauds[] = {
    {115200, 15}, {57600, 14}, {38400, 13}, {19200, 12}, {9600, 11}, {4800, 10}, {2400, 9},
    {1800, 8},    {1200, 7},   {600, 6},    {300, 5},    {200, 4},   {150, 3},   {134, 2},
    {110, 1},     {75, 16},    {50, 17},    {0, 0},
};
// clang-format on

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
    rec.out += static_cast<char>(c);
    return 1;
}
int rbout(const uint8_t* b, int n) {
    rec.bouts++;
    rec.out.append(reinterpret_cast<const char*>(b), n);
    return n;
}
int rset(int w) {
    rec.words.push_back(w);
    return 0;
}
int rbaud(int c) {
    rec.codes.push_back(c);
    return 0;
}

ComDriver recdrv = {rinit, rvt,   r0, r0, r0, r0,       rout, rbout,
                    rset,  rbaud, r0, r0, r0, recbauds, 0,    COMBUFSIZ};

// Everything the program wrote to the console while `fn` ran.
template <class F> std::string console(F fn) {
    oflush();
    std::string s;
    setconswriter([&s](const char* p, size_t n) { s.append(p, n); });
    fn();
    oflush();
    setconswriter(nullptr);
    return s;
}

class Settings : public ::testing::Test {
  protected:
    ComDriver* keep = nullptr;
    void SetUp() override {
        keep = COM;
        COM = &recdrv;
        settingsreset();
        rec = {};
    }
    void TearDown() override {
        COM = keep;
        settingsreset();
    }
};

TEST_F(Settings, DefaultWordIsEightBitsOneStopDtrRtsXonXoff) {
    EXPECT_EQ(linestat(), 192 + 32 + 16 + 4 + 256);
}

TEST_F(Settings, WordBits) {
    struct Case {
        int wdlen, stopbits, parity, prot, dtr, rts, resetixon, word;
    };
    // clang-format off
    const Case cases[] = {
        {8, 1, 0, 1, 1, 1, 0, 500},
        {7, 1, 2, 1, 1, 1, 0, 375},            // 2400,E,7,1
        {5, 2, 1, 0, 0, 0, 0, 0 + 12 + 1},
        {6, 1, 0, 0, 0, 0, 0, 128 + 4},
        {8, 1, 3, 0, 0, 0, 0, 192 + 4},        // mark adds nothing
        {8, 1, 4, 0, 0, 0, 0, 192 + 4},        // space adds nothing
        {8, 1, 0, 3, 0, 0, 0, 192 + 16 + 4},   // Rts/Cts requests RTS
        {8, 1, 0, 2, 1, 0, 0, 192 + 32 + 4},   // Etx/Ack has no bits
        {8, 1, 0, 4, 0, 0, 0, 192 + 4 + 512},
        {8, 1, 0, 0, 0, 0, 1, 192 + 4 + 1024},
    };
    // clang-format on
    for (const Case& c : cases) {
        wdlen = c.wdlen, stopbits = c.stopbits, parity = c.parity, prot = c.prot;
        dtr = c.dtr, rts = c.rts, resetixon = c.resetixon;
        EXPECT_EQ(linestat(), c.word) << c.wdlen << " " << c.parity << " " << c.prot;
    }
}

TEST_F(Settings, SpeedShorthandsAndCodes) {
    struct Case {
        long asked, rate;
        int code;
    };
    const Case cases[] = {{9, 9600, 11},     {19, 19200, 12}, {38, 38400, 13}, {57, 57600, 14},
                          {115, 115200, 15}, {3, 300, 5},     {12, 1200, 7},   {24, 2400, 9},
                          {48, 4800, 10},    {134, 134, 2},   {50, 50, 17},    {1800, 1800, 8}};
    for (const Case& c : cases) {
        rec = {};
        EXPECT_EQ(setbaud(c.asked), 0) << c.asked;
        EXPECT_EQ(baud, c.rate);
        ASSERT_EQ(rec.codes.size(), 1u);
        EXPECT_EQ(rec.codes[0], c.code);
        ASSERT_EQ(rec.words.size(), 1u);
        EXPECT_EQ(rec.words[0], 500);
    }
}

TEST_F(Settings, InvalidSpeedListsTheTable) {
    std::string out = console([] { EXPECT_EQ(setbaud(56000), -1); });
    EXPECT_EQ(out, "Invalid baud rate, try one of:\r\n115200, 57600, 38400, 19200, 9600, 4800, "
                   "2400, 1800, 1200, 600, 300, 200, 150, 134, 110, 75, 50, \r\n");
    EXPECT_EQ(baud, 9600);
    EXPECT_TRUE(rec.codes.empty());
    EXPECT_TRUE(rec.words.empty());
}

TEST_F(Settings, SystemFileRecordsWithoutApplying) {
    insysfile = 1;
    EXPECT_EQ(setbaud(2400), 0);
    EXPECT_EQ(setparity(2), 0);
    EXPECT_EQ(setwdlen(7), 0);
    EXPECT_EQ(setstbits(2), 0);
    EXPECT_EQ(setprot(3), 0);
    EXPECT_EQ(baud, 2400);
    EXPECT_EQ(parity, 2);
    EXPECT_EQ(wdlen, 7);
    EXPECT_EQ(stopbits, 2);
    EXPECT_EQ(prot, 3);
    EXPECT_TRUE(rec.words.empty());
    EXPECT_TRUE(rec.codes.empty());
}

TEST_F(Settings, SettersApplyTheWholeWord) {
    EXPECT_EQ(setparity(1), 0);
    EXPECT_EQ(setwdlen(7), 0);
    EXPECT_EQ(setstbits(2), 0);
    EXPECT_EQ(setprot(0), 0);
    EXPECT_EQ(rec.words, (std::vector<int>{501, 64 + 48 + 4 + 1 + 256, 64 + 48 + 12 + 1 + 256,
                                           64 + 48 + 12 + 1}));
}

TEST_F(Settings, BadValuesKeepTheOldOnesWithTheirMessages) {
    struct Case {
        int (*fn)(int);
        int value;
        const char* msg;
    };
    const Case cases[] = {
        {setparity, 5, "NONE, EVEN, ODD, MARK or SPACE expected\r\n"},
        {setparity, -1, "NONE, EVEN, ODD, MARK or SPACE expected\r\n"},
        {setwdlen, 4, "Invalid word length, (5-8) expected\r\n"},
        {setwdlen, 9, "Invalid word length, (5-8) expected\r\n"},
        {setstbits, 0, "Invalid stop bits, (1-2) expected\r\n"},
        {setstbits, 3, "Invalid stop bits, (1-2) expected\r\n"},
    };
    for (const Case& c : cases) {
        std::string out = console([&] { EXPECT_EQ(c.fn(c.value), -1); });
        EXPECT_EQ(out, c.msg);
    }
    EXPECT_EQ(parity, 0);
    EXPECT_EQ(wdlen, 8);
    EXPECT_EQ(stopbits, 1);
    EXPECT_TRUE(rec.words.empty());
}

TEST_F(Settings, ParameterStrings) {
    struct Case {
        const char* text;
        int result;
        long baud;
        int parity, wdlen, stopbits;
        const char* msg;
    };
    // clang-format off
    const Case cases[] = {
        {"2400,E,7,1", 0, 2400, 2, 7, 1, ""},
        {",,,2",       0, 9600, 0, 8, 2, ""},
        {"19",         0, 19200, 0, 8, 1, ""},
        {"1200,o",     0, 1200, 1, 8, 1, ""},
        {",mark",      0, 9600, 3, 8, 1, ""},
        {",S,5",       0, 9600, 4, 5, 1, ""},
        {",n,6,2,junk",0, 9600, 0, 6, 2, ""},
        {"",           -1, 9600, 0, 8, 1, "Baud rate expected\r\n"},
        {",X",         -1, 9600, 0, 8, 1, "NONE, EVEN, ODD, MARK or SPACE expected\r\n"},
        // fields before the bad one stay recorded, the line is not touched
        {"300,E,9",    -1, 9600, 2, 8, 1, "Invalid word length, (5-8) expected\r\n"},
        {",,7,0",      -1, 9600, 0, 7, 1, "Invalid stop bits, (1-2) expected\r\n"},
        {"56000,E",    -1, 9600, 2, 8, 1, "Invalid baud rate, try one of:\r\n115200, 57600, "
            "38400, 19200, 9600, 4800, 2400, 1800, 1200, 600, 300, 200, 150, 134, 110, 75, 50, \r\n"},
        {"99999999999999999999", -1, 9600, 0, 8, 1, "Invalid baud rate, try one of:\r\n115200, "
            "57600, 38400, 19200, 9600, 4800, 2400, 1800, 1200, 600, 300, 200, 150, 134, 110, 75, 50, \r\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        settingsreset();
        rec = {};
        std::string out = console([&] { EXPECT_EQ(setparms(c.text), c.result) << c.text; });
        EXPECT_EQ(out, c.msg) << c.text;
        EXPECT_EQ(baud, c.baud) << c.text;
        EXPECT_EQ(parity, c.parity) << c.text;
        EXPECT_EQ(wdlen, c.wdlen) << c.text;
        EXPECT_EQ(stopbits, c.stopbits) << c.text;
        EXPECT_EQ(rec.words.size(), c.result == 0 ? 1u : 0u) << c.text;
    }
}

TEST_F(Settings, ParameterStringChangesTheLineOnceWithTheWholeWord) {
    EXPECT_EQ(setparms("2400,E,7,1"), 0);
    EXPECT_EQ(rec.words, std::vector<int>{375});
    EXPECT_EQ(rec.codes, std::vector<int>{9});
}

TEST_F(Settings, TransferStateAndBack) {
    setparms("1200,E,7,2");
    rec = {};
    EXPECT_EQ(xferprot(), 0);
    EXPECT_EQ(xferprot(), 0); // already saved: nothing changes, nothing applied
    EXPECT_EQ(parity, 0);
    EXPECT_EQ(wdlen, 8);
    EXPECT_EQ(stopbits, 1);
    EXPECT_EQ(prot, 0);
    EXPECT_EQ(restprot(), 0);
    EXPECT_EQ(restprot(), 0);
    EXPECT_EQ(parity, 2);
    EXPECT_EQ(wdlen, 7);
    EXPECT_EQ(stopbits, 2);
    EXPECT_EQ(prot, 1);
    EXPECT_EQ(resetixon, 0);
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(rec.words, (std::vector<int>{192 + 48 + 4, 64 + 48 + 12 + 3 + 256 + 1024}));
}

TEST_F(Settings, TypedCharacters) {
    struct Case {
        int amode, addcr, addlf;
        const char* typed;
        const char* sent;
    };
    // clang-format off
    const Case cases[] = {
        {1, 0, 1, "a\r", "a\r\n"},
        {0, 0, 1, "a\r", "a\r"},
        {1, 1, 0, "x\n", "x\r\n"},
        {0, 1, 0, "x\n", "x\n"},
        {1, 1, 1, "\r\n", "\r\n\r\n"},
        {1, 0, 0, "\r\n", "\r\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        rec = {};
        amode = c.amode, addcr = c.addcr, addlf = c.addlf;
        for (const char* p = c.typed; *p; p++)
            xcomout(*p);
        EXPECT_EQ(rec.out, c.sent) << c.amode << c.addcr << c.addlf;
    }
}

TEST_F(Settings, TranslationAndIgnoreTablesTouchOnlyTheirBytes) {
    amode = 1;
    unsigned char* t = mktrtab(0);
    t['a'] = 'A';
    t['\\'] = '\n'; // a translation into a line feed is expanded too
    t[0xE9] = 'e';
    ouigtab['z'] = 1;
    ouigtab[0xFF] = 1;
    addcr = 1;
    std::string all;
    for (int c = 0; c < 256; c++)
        xcomout(c);
    for (int c = 0; c < 256; c++) {
        if (c == 'z' || c == 0xFF) continue;
        if (c == '\n' || c == '\\') all += '\r';
        all += static_cast<char>(c == 'a' ? 'A' : c == '\\' ? '\n' : c == 0xE9 ? 'e' : c);
    }
    EXPECT_EQ(rec.out, all);
    // The same table set but ascii mode: every byte unchanged.
    rec = {};
    amode = 0;
    for (int c = 0; c < 256; c++)
        xcomout(c);
    ASSERT_EQ(rec.out.size(), 256u);
    for (int c = 0; c < 256; c++)
        EXPECT_EQ(static_cast<unsigned char>(rec.out[c]), c);
}

TEST_F(Settings, TablesAreCreatedAsIdentityAndCleared) {
    EXPECT_EQ(intrtab, nullptr);
    unsigned char* t = mktrtab(1);
    EXPECT_EQ(t, intrtab);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(t[i], i);
    t[1] = 2;
    EXPECT_EQ(mktrtab(1)[1], 2); // existing table kept
    inigtab[3] = 1;
    cleartrtab();
    EXPECT_EQ(intrtab, nullptr);
    EXPECT_EQ(inigtab[3], 0);
}

TEST_F(Settings, BlocksGoWholeWithoutDelaysAndByteWiseWithThem) {
    const uint8_t data[] = "ab\tc\n";
    qcomout(data, 5, 0);
    EXPECT_EQ(rec.bouts, 1);
    EXPECT_EQ(rec.out, "ab\tc\n");
    rec = {};
    ldelay = 1;
    qcomout(data, 5, 0);
    EXPECT_EQ(rec.bouts, 0);
    EXPECT_EQ(rec.out, "ab\tc\n");
    // A connection sends the block whole even with delays.
    rec = {};
    recdrv.flags = COMF_CONNECTION;
    qcomout(data, 5, 0);
    recdrv.flags = 0;
    EXPECT_EQ(rec.bouts, 1);
    EXPECT_EQ(qcomout(data, 0, 0), 0);
    EXPECT_EQ(qcomout(nullptr, 5, 0), 0);
}

TEST_F(Settings, ModemStringsGoByteByByte) {
    scmd("ATDT123\r");
    EXPECT_EQ(rec.out, "ATDT123\r");
    EXPECT_EQ(rec.bouts, 0);
    scmd(nullptr);
}

TEST_F(Settings, DelaysWaitAtLeastTheirUnits) {
    using clk = std::chrono::steady_clock;
    auto t0 = clk::now();
    delayunits(20);
    auto spent = std::chrono::duration_cast<std::chrono::nanoseconds>(clk::now() - t0).count();
    EXPECT_GE(spent, 20 * DELAYUNIT_NS);
    t0 = clk::now();
    cdelay = 3, ldelay = 10, tdelay = 5;
    tcomout('\n');
    spent = std::chrono::duration_cast<std::chrono::nanoseconds>(clk::now() - t0).count();
    EXPECT_GE(spent, 13 * DELAYUNIT_NS);
}

} // namespace

namespace {

// What arrives from the line passes the same tables on its way to the screen (before the
// screen exists, bytes reach the console as they are).
TEST(InputTables, ChangeExactlyTheirBytes) {
    struct Case {
        int amode, addcr, addlf, vmaskpar;
        std::vector<std::pair<int, int>> trans;
        std::vector<int> ignore;
        std::string received, shown;
    };
    const Case cases[] = {
        {1, 0, 0, 0, {{'a', 'A'}, {0xE9, 'e'}}, {'x', 0x7F}, "abx\x7f\xe9z", "Abez"},
        {1, 1, 0, 0, {}, {}, "l1\nl2\r\n", "l1\r\nl2\r\r\n"},
        {1, 0, 1, 0, {}, {}, "l1\rl2\r\n", "l1\r\nl2\r\n\n"},
        {1, 0, 0, 1, {}, {}, "\xc1\xe2", "Ab"},
        {0, 1, 1, 0, {{'a', 'A'}}, {'b'}, "ab\r\n", "ab\r\n"}, // ascii mode
    };
    for (const Case& c : cases) {
        settingsreset();
        wrustr[0] = 0;
        amode = c.amode, addcr = c.addcr, addlf = c.addlf, vmaskpar = c.vmaskpar;
        for (auto [from, to] : c.trans)
            mktrtab(1)[from] = static_cast<unsigned char>(to);
        for (int b : c.ignore)
            inigtab[b] = 1;
        std::string out = captureconsole([&] {
            for (char ch : c.received)
                dispcapt(static_cast<unsigned char>(ch));
        });
        EXPECT_EQ(out, c.shown) << c.received;
    }
    settingsreset();
}

} // namespace
