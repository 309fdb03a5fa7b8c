// Line settings and the byte path to the line, against a recording driver table.
#include <gtest/gtest.h>

#include "core/term.h"
#include "ports/com.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "support/portsupport.h"

#include <string>
#include <tuple>
#include <vector>

namespace {

// Records what the settings code hands the driver: bytes, line words, speed codes.
struct Rec {
    static inline std::string out;
    static inline std::vector<int> words, codes;
    static inline int bouts = 0;
    static void clear() { out.clear(), words.clear(), codes.clear(), bouts = 0; }
    static int z() { return 0; }
    static int init(int, const char*) { return 0; }
    static int vt(const char*) { return 0; }
    static int put(int c) { return out += static_cast<char>(c), 1; }
    static int block(const uint8_t* b, int n) { return bouts++, out.append((const char*)b, n), n; }
    static int set(int w) { return words.push_back(w), 0; }
    static int speed(int c) { return codes.push_back(c), 0; }
};
ComDriver recdrv = {Rec::init, Rec::vt,    Rec::z, Rec::z, Rec::z, Rec::z,   Rec::put, Rec::block,
                    Rec::set,  Rec::speed, Rec::z, Rec::z, Rec::z, serbauds, 0,        COMBUFSIZ};

using V = std::vector<int>;
const char* const badparity = "NONE, EVEN, ODD, MARK or SPACE expected\r\n";
const char* const badwdlen = "Invalid word length, (5-8) expected\r\n";
const char* const badstop = "Invalid stop bits, (1-2) expected\r\n";
const char* const badspeed = "Invalid baud rate, try one of:\r\n115200, 57600, 38400, 19200, "
                             "9600, 4800, 2400, 1800, 1200, 600, 300, 200, 150, 134, 110, 75, "
                             "50, \r\n";

class Settings : public ::testing::Test {
  protected:
    ComDriver* keep = COM;
    void SetUp() override { COM = &recdrv, settingsreset(), Rec::clear(); }
    void TearDown() override { COM = keep, settingsreset(); }
    // parity, word length, stop bits and protocol as one number, e.g. 2721 for E,7,2,Xon/Xoff
    static int pwsp() { return parity * 1000 + wdlen * 100 + stopbits * 10 + prot; }
};

TEST_F(Settings, SettersApplyTheWholeWordUnlessInTheSystemFileAndTransferStateAndBack) {
    for (auto [fn, value] : {std::pair<int (*)(int), int>{setparity, 1},
                             {setwdlen, 7},
                             {setstbits, 2},
                             {setprot, 0}}) // in this order: each applies once
        EXPECT_EQ(fn(value), 0);
    EXPECT_EQ(Rec::words,
              (V{501, 64 + 48 + 4 + 1 + 256, 64 + 48 + 12 + 1 + 256, 64 + 48 + 12 + 1}));
    const std::tuple<int (*)(int), int, const char*> bad[] = {
        {setparity, 5, badparity},
        {setparity, -1, badparity},
        {setwdlen, 4, badwdlen},
        {setstbits, 0, badstop}}; // the upper bounds go through the set command's tests
    for (auto [fn, value, msg] : bad)
        EXPECT_EQ(captureconsole([&] { EXPECT_EQ(fn(value), -1); }), msg);
    EXPECT_EQ(pwsp(), 1720);
    EXPECT_EQ(Rec::words.size(), 4u);
    settingsreset();
    insysfile = 1;
    EXPECT_EQ(setbaud(2400) | setparity(2) | setwdlen(7) | setstbits(2) | setprot(3), 0);
    EXPECT_EQ(baud, 2400);
    EXPECT_EQ(pwsp(), 2723);
    EXPECT_EQ(Rec::words.size(), 4u);
    EXPECT_TRUE(Rec::codes.empty());
    settingsreset(), insysfile = 0; // the transfer state and back
    setparms("1200,E,7,2");
    Rec::clear();
    EXPECT_EQ(xferprot() + xferprot(), 0); // already saved: nothing changes, nothing applied
    EXPECT_EQ(pwsp(), 810);
    EXPECT_EQ(restprot() + restprot(), 0);
    EXPECT_EQ(pwsp(), 2721);
    EXPECT_EQ(Rec::words, (V{192 + 48 + 4, 64 + 48 + 12 + 3 + 256 + 1024}));
}

TEST_F(Settings, ParameterStrings) {
    struct Case {
        const char* text;
        int result, baud, pwsp;
        const char* msg;
    };
    // Fields before a bad one stay recorded; the line is not touched.
    // clang-format off
    const Case cases[] = {
        {"2400,E,7,1", 0, 2400, 2711, ""},   {",,,2", 0, 9600, 821, ""},
        {"19,o", 0, 19200, 1811, ""},        {"115,mark", 0, 115200, 3811, ""},
        {",n,6,2,junk", 0, 9600, 621, ""},   {"", -1, 9600, 811, "Baud rate expected\r\n"},
        {",X", -1, 9600, 811, badparity},    {"300,E,9", -1, 9600, 2811, badwdlen},
        {",,7,0", -1, 9600, 711, badstop},   {"56000,E", -1, 9600, 2811, badspeed},
        {"99999999999999999999", -1, 9600, 811, badspeed}};
    // clang-format on
    for (const Case& c : cases) {
        settingsreset();
        Rec::clear();
        std::string out = captureconsole([&] { EXPECT_EQ(setparms(c.text), c.result) << c.text; });
        EXPECT_EQ(out, c.msg) << c.text;
        EXPECT_EQ(baud, c.baud) << c.text;
        EXPECT_EQ(pwsp(), c.pwsp) << c.text;
        // the line changes once, with the whole word, or not at all
        EXPECT_EQ(Rec::words.size(), c.result == 0 ? 1u : 0u) << c.text;
    }
}

TEST_F(Settings, BlocksGoWholeWithoutDelaysAndByteWiseWithThem) {
    const uint8_t data[] = "ab\tc\n";
    // A connection (flag 2) sends the block whole even with delays.
    using T = std::tuple<int, int, int>;
    for (auto [delay, flags, bouts] : std::initializer_list<T>{{0, 0, 1}, {1, 0, 0}, {1, 2, 1}}) {
        Rec::clear();
        ldelay = delay, recdrv.flags = flags;
        qcomout(data, 5, 0);
        EXPECT_EQ(Rec::bouts, bouts) << delay << flags;
        EXPECT_EQ(Rec::out, "ab\tc\n");
    }
    recdrv.flags = 0;
    Rec::clear();
    EXPECT_EQ(qcomout(data, 0, 0) + qcomout(nullptr, 5, 0), 0);
    scmd("ATDT123\r"); // modem strings go byte by byte
    EXPECT_EQ(Rec::out, "ATDT123\r");
    EXPECT_EQ(Rec::bouts, 0);
}

// What arrives from the line passes the input tables on its way to the screen (before the
// screen exists, bytes reach the console as they are). The output side is pinned on a real
// line by the socat test.
TEST(InputTables, ChangeExactlyTheirBytes) {
    // amode, addcr, addlf, vmaskpar; translations, ignored bytes; received, shown
    const std::tuple<std::array<int, 4>, std::vector<std::pair<int, int>>, V, std::string,
                     std::string>
        cases[] = {{{1, 0, 0, 0},
                    {{'a', 'A'}, {0xE9, 'e'}},
                    {'x', 0x7F, 0xFF},
                    "abx\x7f\xe9z\xff",
                    "Abez"},
                   {{1, 1, 0, 0}, {}, {}, "l1\nl2\r\n", "l1\r\nl2\r\r\n"},
                   {{1, 0, 1, 0}, {}, {}, "l1\rl2\r\n", "l1\r\nl2\r\n\n"},
                   {{1, 0, 0, 1}, {}, {}, "\xc1\xe2", "Ab"},
                   {{0, 1, 1, 0}, {{'a', 'A'}}, {'b'}, "ab\r\n", "ab\r\n"}}; // ascii mode
    for (const auto& [modes, trans, ignore, received, shown] : cases) {
        settingsreset();
        wrustr[0] = 0;
        amode = modes[0], addcr = modes[1], addlf = modes[2], vmaskpar = modes[3];
        for (auto [from, to] : trans)
            mktrtab(1)[from] = static_cast<unsigned char>(to);
        for (int b : ignore)
            inigtab[b] = 1;
        EXPECT_EQ(captureconsole([&] {
                      for (char ch : received)
                          dispcapt(static_cast<unsigned char>(ch));
                  }),
                  shown)
            << received;
    }
    cleartrtab();
    EXPECT_TRUE(intrtab == nullptr && inigtab['b'] == 0);
    settingsreset();
}

} // namespace
