// ZMODEM framing: CRC check values, the escape rules byte by byte, golden headers checked
// against CRCs computed elsewhere (Python's binascii.crc_hqx and zlib.crc32), round trips of
// every header form and frame end, and the readers' refusals of damaged or overlong input.
#include "transfer/zmframe.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

using namespace zm;

namespace {

std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int c : v)
        s += static_cast<char>(c);
    return s;
}

TEST(ZmFrame, CrcCheckValues) {
    const auto* d = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(crc16(0, d, 9), 0x31C3);
    EXPECT_EQ(crc32(0, d, 9), 0xCBF43926u);
    EXPECT_EQ(crc32(crc32(0, d, 4), d + 4, 5), 0xCBF43926u); // chained as zlib's
    // Long runs go eight bytes a step: any split gives zlib.crc32 of the whole.
    std::vector<uint8_t> v(1000);
    for (size_t i = 0; i < v.size(); i++)
        v[i] = static_cast<uint8_t>(i * 7 + 3);
    for (size_t cut : {0, 1, 7, 8, 13, 999, 1000})
        EXPECT_EQ(crc32(crc32(0, v.data(), cut), v.data() + cut, v.size() - cut), 0x17bc2a46u)
            << cut;
}

TEST(ZmFrame, EscapeRules) {
    // byte, control escaping, previous byte, expected output
    const std::vector<std::tuple<int, bool, int, std::string>> rows = {
        {0x18, false, 0, bytes({0x18, 0x58})},   {0x11, false, 0, bytes({0x18, 0x51})},
        {0x91, false, 0, bytes({0x18, 0xd1})},   {0x13, false, 0, bytes({0x18, 0x53})},
        {0x93, false, 0, bytes({0x18, 0xd3})},   {0x10, false, 0, bytes({0x18, 0x50})},
        {0x90, false, 0, bytes({0x18, 0xd0})},   {0x0d, false, 'A', bytes({0x0d})},
        {0x0d, false, '@', bytes({0x18, 0x4d})}, {0x8d, false, 0xc0, bytes({0x18, 0xcd})},
        {0x0d, true, 'A', bytes({0x18, 0x4d})},  {0x01, false, 0, bytes({0x01})},
        {0x01, true, 0, bytes({0x18, 0x41})},    {0x7f, false, 0, bytes({0x7f})},
        {0x7f, true, 0, bytes({0x18, 'l'})},     {0xff, true, 0, bytes({0x18, 'm'})},
        {0xff, false, 0, bytes({0xff})},         {'A', true, 0, "A"},
        {0x81, true, 0, bytes({0x18, 0xc1})},    {0x81, false, 0, bytes({0x81})},
    };
    for (const auto& [c, esc, prev, want] : rows) {
        ZmOut o;
        o.ctlesc = esc;
        if (prev) o.zsendline(static_cast<uint8_t>(prev));
        o.clear();
        o.zsendline(static_cast<uint8_t>(c));
        EXPECT_EQ(o.buf, want) << std::hex << c << " esc " << esc;
    }
}

TEST(ZmFrame, EveryByteRoundTripsAndNoFlowByteGoesRaw) {
    for (bool esc : {false, true})
        for (int prev : {'@', 'x'})
            for (int c = 0; c < 256; c++) {
                ZmOut o;
                o.ctlesc = esc;
                o.zsendline(static_cast<uint8_t>(prev));
                o.zsendline(static_cast<uint8_t>(c));
                ZmOut run; // the one-pass escaping of data subpackets gives the same bytes
                run.ctlesc = esc;
                const uint8_t two[2] = {static_cast<uint8_t>(prev), static_cast<uint8_t>(c)};
                run.zsendrun(two, 2);
                EXPECT_EQ(run.buf, o.buf) << c << " esc " << esc << " prev " << prev;
                const std::string s = o.buf.substr(1);
                for (size_t i = 0; i < s.size(); i++) {
                    const int b = static_cast<uint8_t>(s[i]);
                    EXPECT_TRUE(b != 0x10 && b != 0x11 && b != 0x13 && b != 0x90 && b != 0x91 &&
                                b != 0x93)
                        << c;
                    if (b == ZDLE) {
                        EXPECT_EQ(i, 0u) << c; // every 0x18 starts the escape
                    }
                    if (esc) {
                        EXPECT_TRUE(b & 0x60 || b == ZDLE) << c;
                    }
                }
                StrSource src(s);
                ZmIn in(src);
                in.ctlesc = esc;
                EXPECT_EQ(in.zdlread(), c) << c << " esc " << esc << " prev " << prev;
            }
}

TEST(ZmFrame, GoldenHeaders) {
    uint8_t h[4] = {0, 0, 0, 0x27}; // ZRINIT with CANFDX|CANOVIO|CANBRK|CANFC32
    ZmOut o;
    o.zshhdr(ZRINIT, h);
    EXPECT_EQ(o.buf, "**\x18"
                     "B0100000027fed4\r\n\x11");
    o.clear();
    h[3] = 0x17;
    o.zshhdr(ZRINIT, h);
    EXPECT_EQ(o.buf, "**\x18"
                     "B0100000017c887\r\n\x11");
    o.clear();
    o.zshhdr(ZFIN, h); // no XON after ZFIN and ZACK
    EXPECT_NE(o.buf.back(), '\x11');
    o.clear();
    stohdr(h, 0x12345678);
    o.zsbhdr(ZDATA, h, true);
    EXPECT_EQ(o.buf,
              bytes({0x2a, 0x18, 'C', 0x0a, 0x78, 0x56, 0x34, 0x12, 0x72, 0xb7, 0xbb, 0x02}));
}

TEST(ZmFrame, ArmouredGroups) {
    const uint8_t z[3] = {0, 0, 0}, ff[1] = {0xff};
    EXPECT_EQ(conv34(z, 3), "    ");
    EXPECT_EQ(conv34(ff, 1), bytes({0x5f, 0x23, 'p', 'p'}));
    std::mt19937 g(5);
    for (size_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1024}) {
        std::vector<uint8_t> d(n);
        for (auto& b : d)
            b = static_cast<uint8_t>(g());
        const std::string s = conv34(d.data(), n);
        EXPECT_EQ(s.size() % 4, 0u);
        std::vector<uint8_t> out(n + 3);
        EXPECT_EQ(conv43(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out.data(), n),
                  static_cast<long>(n));
        EXPECT_TRUE(std::equal(d.begin(), d.end(), out.begin())) << n;
        if (n) { // one byte short of room, a character out of range, and data after the end
            EXPECT_EQ(
                conv43(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out.data(), n - 1),
                -1);
            std::string bad = s;
            bad[0] = 0x60;
            EXPECT_EQ(
                conv43(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), out.data(), n),
                -1);
        }
    }
    const std::string early = bytes({0x5f, 0x23, 'p', 'p', ' ', ' ', ' ', ' '});
    uint8_t out[8];
    EXPECT_EQ(conv43(reinterpret_cast<const uint8_t*>(early.data()), 8, out, 8), -1);
}

// Every header form carries type and position through, after leading noise.
TEST(ZmFrame, HeaderFormsRoundTrip) {
    for (int form : {'A', 'B', 'C', 'D'})
        for (bool esc : {false, true})
            for (uint32_t pos : {0u, 1u, 0x18111393u, 0xffffffffu}) {
                ZmOut o;
                o.ctlesc = esc;
                o.esc8 = form == 'D';
                uint8_t h[4];
                stohdr(h, pos);
                o.buf = "garbage\r\n*x";
                if (form == 'B')
                    o.zshhdr(ZRPOS, h);
                else
                    o.zsbhdr(ZRPOS, h, form == 'C');
                StrSource src(o.buf);
                ZmIn in(src);
                in.ctlesc = esc;
                in.esc8 = form == 'D';
                EXPECT_EQ(in.zgethdr(), ZRPOS) << char(form) << pos;
                EXPECT_EQ(in.rxpos(), pos);
                EXPECT_EQ(in.frameind, form);
            }
}

// Subpackets with every frame end and CRC kind, at the edge lengths.
TEST(ZmFrame, SubpacketsRoundTrip) {
    std::mt19937 g(9);
    for (int form : {'A', 'C', 'D'})
        for (int fe : {ZCRCE, ZCRCG, ZCRCQ, ZCRCW, ZCRCN})
            for (size_t n : {0, 1, 2, 3, 1023, 1024, 8192}) {
                std::vector<uint8_t> d(n);
                for (auto& b : d)
                    b = static_cast<uint8_t>(g());
                ZmOut o;
                o.esc8 = form == 'D';
                uint8_t h[4] = {};
                o.zsbhdr(ZDATA, h, form == 'C');
                o.zsdata(d.data(), n, fe);
                o.zsdata(d.data(), n / 2, ZCRCE);
                StrSource src(o.buf);
                ZmIn in(src);
                in.esc8 = form == 'D';
                ASSERT_EQ(in.zgethdr(), ZDATA);
                std::vector<uint8_t> got(MAXBLK);
                EXPECT_EQ(in.zrdata(got.data(), MAXBLK), fe | GOTOR) << char(form) << n;
                EXPECT_EQ(in.rxcount, n);
                EXPECT_TRUE(std::equal(d.begin(), d.end(), got.begin()));
                EXPECT_EQ(in.zrdata(got.data(), MAXBLK), GOTCRCE);
                EXPECT_EQ(in.rxcount, n / 2);
                if (n > 1) { // a buffer one byte short refuses the subpacket
                    StrSource s2(o.buf);
                    ZmIn in2(s2);
                    in2.esc8 = form == 'D';
                    ASSERT_EQ(in2.zgethdr(), ZDATA);
                    EXPECT_EQ(in2.zrdata(got.data(), n - 1), ERROR) << char(form) << n;
                }
            }
}

// The reader copies plain runs straight from the source: however the line cuts the bytes into
// reads, every byte value comes through, and the flow-control bytes (and raw control bytes from
// a peer that escapes them all) a line adds on the way are dropped.
TEST(ZmFrame, SubpacketAcrossReads) {
    std::vector<uint8_t> d(3000);
    for (size_t i = 0; i < d.size(); i++)
        d[i] = static_cast<uint8_t>(i * 7 + i / 256);
    for (bool esc : {false, true}) {
        ZmOut o;
        o.ctlesc = esc;
        const uint8_t h[4] = {};
        o.zsbhdr(ZDATA, h, true);
        const size_t hdrlen = o.buf.size();
        o.zsdata(d.data(), d.size(), ZCRCG);
        std::string s = o.buf.substr(0, hdrlen);
        for (size_t i = hdrlen; i < o.buf.size(); i++) { // noise between the bytes, not in escapes
            if (i % 97 == 0 && o.buf[i - 1] != ZDLE) s += esc ? "\x13\x01\x91" : "\x11\x93";
            s += o.buf[i];
        }
        for (size_t chunk : {size_t{1}, size_t{3}, size_t{4096}, SIZE_MAX}) {
            StrSource src(s, chunk);
            ZmIn in(src);
            in.ctlesc = esc;
            ASSERT_EQ(in.zgethdr(), ZDATA);
            std::vector<uint8_t> got(MAXBLK);
            EXPECT_EQ(in.zrdata(got.data(), d.size()), GOTCRCG) << esc << " " << chunk;
            got.resize(in.rxcount);
            EXPECT_EQ(got, d) << esc << " " << chunk;
        }
    }
}

// Damage anywhere in a header or subpacket is caught, never taken as good data.
TEST(ZmFrame, DamageIsRefused) {
    std::vector<uint8_t> d(300);
    for (size_t i = 0; i < d.size(); i++)
        d[i] = static_cast<uint8_t>(i * 13);
    for (int form : {'A', 'C'}) {
        ZmOut o;
        uint8_t h[4] = {1, 2, 3, 4};
        o.zsbhdr(ZDATA, h, form == 'C');
        const size_t hdrlen = o.buf.size();
        o.zsdata(d.data(), d.size(), ZCRCW);
        for (size_t at = 3; at + 1 < o.buf.size(); at++) { // the XON after ZCRCW is no part of it
            std::string s = o.buf;
            s[at] = static_cast<char>(s[at] ^ 0x04);
            StrSource src(s);
            ZmIn in(src);
            in.allowance = 50;
            std::vector<uint8_t> got(MAXBLK);
            const int t = in.zgethdr();
            if (at < hdrlen) {
                EXPECT_TRUE(t == ERROR || t == TIMEOUT || in.rxpos() != 0x04030201) << at;
                continue;
            }
            ASSERT_EQ(t, ZDATA);
            const int r = in.zrdata(got.data(), MAXBLK);
            EXPECT_TRUE(r == ERROR || r == TIMEOUT) << char(form) << " at " << at << " " << r;
        }
    }
}

TEST(ZmFrame, ReaderEdges) {
    struct Row {
        const char* what;
        std::string in;
        bool data; // read a subpacket after a good 16-bit header
        int want;
    };
    ZmOut o;
    uint8_t h[4] = {};
    o.zsbhdr(ZDATA, h, false);
    const std::string dh = o.buf;
    const std::vector<Row> rows = {
        {"five CANs in a subpacket", dh + "abc" + std::string(5, CAN), true, ZCAN},
        {"five CANs in the hunt", std::string(5, CAN), false, ZCAN},
        {"bad escape", dh + "ab" + bytes({ZDLE, 0x05}), true, ERROR},
        {"upper-case hex",
         "**\x18"
         "B01000000270FED4\r\n",
         false, ERROR},
        {"hex CRC wrong",
         "**\x18"
         "B0100000027fed5\r\n",
         false, ERROR},
        {"garbage beyond the allowance", std::string(20, 'x') + dh, false, ERROR},
        {"silence", "", false, TIMEOUT},
        {"CAN then k", bytes({CAN, 'k'}), false, ERROR},
        {"unknown type",
         "**\x18"
         "B1400000000" +
             [] {
                 uint8_t b[5] = {20, 0, 0, 0, 0};
                 char x[5];
                 snprintf(x, sizeof x, "%04x", crc16(0, b, 5));
                 return std::string(x);
             }() +
             "\r\n",
         false, ERROR},
    };
    for (const auto& r : rows) {
        StrSource src(r.in);
        ZmIn in(src);
        in.allowance = 10;
        int got = in.zgethdr();
        if (r.data) {
            ASSERT_EQ(got, ZDATA) << r.what;
            uint8_t buf[64];
            got = in.zrdata(buf, sizeof buf);
        }
        EXPECT_EQ(got, r.want) << r.what;
    }
}

} // namespace
