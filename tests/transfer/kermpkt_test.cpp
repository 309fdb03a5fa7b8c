// Kermit packets: layout and check, the parser's refusals, Send-Init bounds, prefix agreement,
// and encoding round trips of every byte value under every prefix combination.
#include "transfer/kermpkt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const uint8_t* u(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// Ten data characters under each check: LEN '-' (45) for type 1, growing by the longer checks'
// extra characters; the check covers LEN, SEQ, TYPE and DATA, and its values were worked out
// independently (6-bit folded sum, 12-bit sum, bitwise CRC).
TEST(KermPkt, LayoutAndChecks) {
    const char* packets[] = {"-%D0123456789E", ".%D0123456789*D", "/%D0123456789.<F"};
    for (int bct = 1; bct <= 3; bct++) {
        const std::string p = kpack(5, 'D', "0123456789", '\r', bct);
        EXPECT_EQ(p, std::string("\x01") + packets[bct - 1] + "\r") << bct;
        int used = 0;
        KPacket k = kparse(u(p) + 1, static_cast<int>(p.size() - 1), used, bct);
        ASSERT_TRUE(k.ok) << bct;
        EXPECT_EQ(used, static_cast<int>(p.size() - 2)); // the EOL stays behind
        EXPECT_EQ(k.seq, 5);
        EXPECT_EQ(k.type, 'D');
        EXPECT_EQ(k.data, "0123456789");
        // Read with another check type, or with any one check character changed, it is bad.
        for (int other = 1; other <= 3; other++) {
            if (other == bct) continue;
            EXPECT_FALSE(kparse(u(p) + 1, static_cast<int>(p.size() - 1), used, other).ok)
                << bct << " read as " << other;
        }
        for (int i = 0; i < bct; i++) {
            std::string bad = p;
            bad[bad.size() - 2 - static_cast<size_t>(i)] ^= 1;
            EXPECT_FALSE(kparse(u(bad) + 1, static_cast<int>(bad.size() - 1), used, bct).ok)
                << bct << " check character " << i;
        }
    }
    EXPECT_EQ(kcrc16(u(std::string("123456789")), 9), 0x2189); // the CRC's published check value
    // A LEN too short to hold SEQ, TYPE and the check is refused, never read before LEN.
    std::string shortlen = "\x24\x25Y";
    int used = 0;
    EXPECT_FALSE(kparse(u(shortlen), 3, used, 3).ok);
    EXPECT_EQ(used, 1);
    // C-Kermit sends LEN 95 (DEL) with the 3-character check; only then is 95 taken.
    for (int bct = 1; bct <= 3; bct++) {
        std::string big = std::string("\x7f'D") + std::string(static_cast<size_t>(93 - bct), 'x');
        big += kcheck(u(big), big.size(), bct);
        EXPECT_EQ(kparse(u(big), static_cast<int>(big.size()), used, bct).ok, bct == 3) << bct;
    }
}

// Long packets: a blank LEN, the length in two characters and a header check; data past the
// basic limit go long, and a damaged header or a length above the agreed maximum is refused.
TEST(KermPkt, LongPackets) {
    for (int bct = 1; bct <= 3; bct++) {
        const std::string data(4000, 'q');
        const std::string p = kpack(9, 'D', data, '\r', bct);
        ASSERT_EQ(p.size(), 1 + 6 + data.size() + static_cast<size_t>(bct) + 1);
        EXPECT_EQ(p[1], ' ');
        EXPECT_EQ((p[4] - 32) * 95 + (p[5] - 32), 4000 + bct);
        int used = 0;
        KPacket k = kparse(u(p) + 1, static_cast<int>(p.size() - 1), used, bct, kp::MAXLONG);
        ASSERT_TRUE(k.ok) << bct;
        EXPECT_EQ(k.seq, 9);
        EXPECT_EQ(k.data, data);
        EXPECT_EQ(used, static_cast<int>(p.size() - 2));
        // Not agreed, or longer than agreed: not a packet.
        EXPECT_FALSE(kparse(u(p) + 1, static_cast<int>(p.size() - 1), used, bct, 0).ok);
        EXPECT_FALSE(kparse(u(p) + 1, static_cast<int>(p.size() - 1), used, bct, 3000).ok);
        EXPECT_TRUE(kparse(u(p) + 1, static_cast<int>(p.size() - 1), used, bct, 3990).ok);
        // Damage in the data leaves the header telling which packet it was; in the header not.
        for (size_t at : {size_t{4}, size_t{6}, p.size() / 2, p.size() - 2}) {
            std::string bad = p;
            bad[at] ^= 1;
            k = kparse(u(bad) + 1, static_cast<int>(bad.size() - 1), used, bct, kp::MAXLONG);
            EXPECT_FALSE(k.ok) << bct << " at " << at;
            EXPECT_EQ(k.head, at > 6) << bct << " at " << at;
            if (k.head) {
                EXPECT_EQ(std::string(1, k.type) + std::to_string(k.seq), "D9");
            }
        }
    }
    // The capability fields: offered long packets, the window and the length survive the trip;
    // without them a peer gets the nine basic fields.
    KParams mine;
    mine.capas = kp::CAP_LONG;
    mine.window = 4;
    mine.maxlx = 9024;
    const std::string s = spar(mine);
    ASSERT_EQ(s.size(), 13u);
    KParams back = rpar(u(s), 13);
    EXPECT_EQ(back.capas, kp::CAP_LONG);
    EXPECT_EQ(back.window, 4);
    EXPECT_EQ(back.maxlx, 9024);
    EXPECT_EQ(kroom(back, kp::CAP_LONG, 3), 9024 - 10);
    EXPECT_EQ(kroom(back, 0, 1), 80 - 3);
    KParams basic = rpar(u(s), 9);
    EXPECT_EQ(basic.capas, 0);
    EXPECT_EQ(spar(KParams{}).size(), 9u);
    // A continued mask skips to the fields after its last character; bad values take defaults.
    const std::string cont = s.substr(0, 9) + "#!" + "~" + "\x7f\x7f";
    KParams c = rpar(u(cont), static_cast<int>(cont.size()));
    EXPECT_EQ(c.capas, kp::CAP_LONG);
    EXPECT_EQ(c.window, 1);
    EXPECT_EQ(c.maxlx, 500);
}

TEST(KermPkt, CheckTypeAgreement) {
    // mine, the peer's, the type used; a Send-Init that stops before CHKT means type 1.
    for (const char* c : {"333", "222", "311", "131", "321", "3B1", "BB1", "111"}) {
        KParams m, p;
        m.chkt = static_cast<uint8_t>(c[0]), p.chkt = static_cast<uint8_t>(c[1]);
        EXPECT_EQ(agreechk(m, p), c[2] - '0') << c;
        EXPECT_EQ(agreechk(m, rpar(u(std::string("~* @-#")), 6)), 1);
    }
}

TEST(KermPkt, ParserRefusals) {
    const std::string good = kpack(1, 'Y', "abc", '\r').substr(1);
    std::string badcheck = good;
    badcheck[good.size() - 2] ^= 1;
    std::string cut = good.substr(0, 4) + '\x01' + good.substr(4);
    struct Row {
        const char* what;
        std::string in;
        bool ok;
        bool needmore;
    };
    const Row rows[] = {
        {"good", good, true, false},
        {"bad check", badcheck, false, false},
        {"LEN below 3", std::string("\"") + "AB", false, false},
        {"LEN above 94", std::string(1, static_cast<char>(127)) + "xxxx", false, false},
        {"short", good.substr(0, 3), false, true},
        {"MARK inside", cut, false, false},
        {"empty", "", false, true},
    };
    for (const auto& r : rows) {
        int used = -1;
        KPacket k = kparse(u(r.in), static_cast<int>(r.in.size()), used);
        EXPECT_EQ(k.ok, r.ok) << r.what;
        EXPECT_EQ(used == 0, r.needmore) << r.what;
        EXPECT_LE(used, static_cast<int>(r.in.size())) << r.what;
    }
}

TEST(KermPkt, SendInitBounds) {
    // The fields read, then MAXL, TIME, NPAD and EOL as taken.
    const std::tuple<std::string, int, int, int, int> rows[] = {
        {"", 80, 10, 0, 13},           {"~* @-#", 94, 10, 0, 13},
        {"%", 80, 10, 0, 13},          // MAXL 5: too small to carry data
        {"~ ~@ \x01", 94, 10, 94, 13}, // TIME 0 -> default, EOL 0 -> CR
        {"5\"!@.!", 21, 2, 1, 14},     // QCTL '!' is a valid prefix
    };
    for (const auto& [in, maxl, time, npad, eol] : rows) {
        KParams p = rpar(u(in), static_cast<int>(in.size()));
        EXPECT_EQ(std::vector<int>({p.maxl, p.time, p.npad, p.eol}),
                  std::vector<int>({maxl, time, npad, eol}))
            << in;
    }
    KParams mine;
    mine.maxl = 94, mine.qbin = 'Y', mine.rept = '~';
    EXPECT_EQ(spar(mine), std::string("~* @-#Y1~"));
    EXPECT_EQ(rpar(u(spar(mine)), 9).rept, '~');
}

TEST(KermPkt, PrefixAgreement) {
    struct Row {
        uint8_t myqbin, peerqbin, myrept, peerrept, qbin, rept;
    };
    const Row rows[] = {
        {'Y', '&', '~', '~', '&', '~'}, {'&', 'Y', ' ', '~', '&', 0},   {'Y', 'Y', '~', ' ', 0, 0},
        {'Y', 'N', '~', '~', 0, '~'},   {'&', '&', '~', '~', '&', '~'}, {'Y', '#', '#', '#', 0, 0},
        {'Y', '~', '~', '~', '~', 0}, // the same prefix for both: repeats off
    };
    for (const auto& r : rows) {
        KParams a, b;
        a.qbin = r.myqbin, b.qbin = r.peerqbin, a.rept = r.myrept, b.rept = r.peerrept;
        KCoding k = agree(a, b);
        EXPECT_EQ(k.qbin, r.qbin) << r.myqbin << r.peerqbin;
        EXPECT_EQ(k.rept, r.rept) << r.myrept << r.peerrept;
    }
}

TEST(KermPkt, EncodingEdgesAndRoundTrips) {
    // 0x83 with and without 8-bit prefixing (the control test looks at the low 7 bits), and
    // text mode's LF.
    KCoding plain, eight, text;
    eight.qbin = '&';
    text.image = false;
    for (const auto& [k, in, want] :
         {std::tuple{eight, std::string("\x83"), std::string("&#C")},
          std::tuple{plain, std::string("\x83"), std::string("#\xC3")},
          std::tuple{text, std::string("ab\n"), std::string("ab#M#J")}}) {
        std::string o;
        for (char c : in)
            kencode(static_cast<uint8_t>(c), k, o);
        EXPECT_EQ(o, want);
    }
    // A received repeat: '~', count '%' (5), 'x'.
    KCoding rep;
    rep.rept = '~';
    std::vector<uint8_t> out;
    ASSERT_TRUE(kdecode(u(std::string("~%x")), 3, rep, out));
    EXPECT_EQ(std::string(out.begin(), out.end()), "xxxxx");
    for (const std::string bad : {"~", "~%", "~ x", "#", "~%&"}) {
        KCoding all = rep;
        all.qbin = '&';
        out.clear();
        EXPECT_FALSE(kdecode(u(bad), static_cast<int>(bad.size()), all, out)) << bad;
    }
    out.clear();
    EXPECT_FALSE(kdecode(u(std::string("~~x")), 3, rep, out, 10)); // 94 bytes > the bound
    // Every byte value survives every combination of prefixes.
    for (int q : {0, int{'&'}}) {
        for (int r : {0, int{'~'}}) {
            KCoding k;
            k.qbin = static_cast<uint8_t>(q), k.rept = static_cast<uint8_t>(r);
            std::string enc;
            std::vector<uint8_t> want;
            for (int c = 0; c < 256; c++) {
                kencode(static_cast<uint8_t>(c), k, enc);
                want.push_back(static_cast<uint8_t>(c));
            }
            for (char c : enc)
                EXPECT_TRUE((static_cast<uint8_t>(c) & 0x7f) >= 32 && c != 127);
            out.clear();
            ASSERT_TRUE(kdecode(u(enc), static_cast<int>(enc.size()), k, out));
            EXPECT_EQ(out, want) << int(q) << int(r);
        }
    }
}

} // namespace
