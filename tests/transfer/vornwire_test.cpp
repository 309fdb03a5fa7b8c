// Wire format of the native protocol: the CRC, the framing of each variant, the header and
// header acknowledgement layouts, and the refusal of counts a block cannot hold.
#include "transfer/vornwire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> frame(Variant v, uint8_t type, const std::vector<uint8_t>& data, int count,
                           int seq) {
    std::vector<uint8_t> out(framelen(v, static_cast<int>(data.size())));
    EXPECT_EQ(frameblk(v, type, data.data(), static_cast<int>(data.size()), count, seq, out.data()),
              out.size());
    return out;
}

TEST(VornWire, CrcCheckValue) {
    const char* digits = "123456789";
    EXPECT_EQ(ccittcrc(0, reinterpret_cast<const uint8_t*>(digits), 9), 0x2189);
    EXPECT_EQ(ccittcrc(0x1234, nullptr, 0), 0x1234);
}

TEST(VornWire, ThreeHundredBytesInEachVariant) {
    // Counts 128, 128, 44 with sequences 1, 2, 3; the short block padded with the fill byte.
    std::vector<uint8_t> file(300);
    for (size_t i = 0; i < file.size(); i++)
        file[i] = static_cast<uint8_t>(i * 7);
    const int counts[] = {128, 128, 44};
    for (Variant v : {Variant::VornCRC, Variant::Vorn5, Variant::OldVorn}) {
        for (int b = 0; b < 3; b++) {
            std::vector<uint8_t> data(128, 0);
            std::memcpy(data.data(), file.data() + b * 128, static_cast<size_t>(counts[b]));
            auto f = frame(v, 'G', data, counts[b], b + 1);
            ASSERT_EQ(f.size(), v == Variant::VornCRC ? 133u : v == Variant::Vorn5 ? 131u : 130u);
            EXPECT_EQ(f[0], 'G');
            int seq = -1;
            const int want = v == Variant::OldVorn ? 128 : counts[b];
            EXPECT_EQ(checkblk(v, f.data() + 1, 128, &seq), want);
            if (v == Variant::VornCRC) {
                EXPECT_EQ(f[1], counts[b]);
                EXPECT_EQ(seq, b + 1);
                uint16_t crc = static_cast<uint16_t>(~ccittcrc(0, f.data() + 1, 130));
                EXPECT_EQ(f[131], crc & 0xff);
                EXPECT_EQ(f[132], crc >> 8);
            } else if (v == Variant::Vorn5) {
                EXPECT_EQ(f[1], counts[b]);
                uint8_t x = 0;
                for (size_t i = 1; i < 130; i++)
                    x ^= f[i];
                EXPECT_EQ(f[130], x);
            }
            f[20] ^= 0x10; // any damage is caught
            EXPECT_EQ(checkblk(v, f.data() + 1, 128, &seq), 0);
        }
    }
    // The sequence wraps from 127 to 0.
    int seq = -1;
    auto f = frame(Variant::VornCRC, 'G', std::vector<uint8_t>(128, 1), 128, 128);
    EXPECT_EQ(checkblk(Variant::VornCRC, f.data() + 1, 128, &seq), 128);
    EXPECT_EQ(seq, 0);
}

TEST(VornWire, CountsABlockCannotHoldAreBad) {
    // A peer can compute a good check over any count; only 1..N is a block.
    for (int count : {0, 129, 255}) {
        for (Variant v : {Variant::VornCRC, Variant::Vorn5}) {
            auto f = frame(v, 'G', std::vector<uint8_t>(128, 0x45), count, 1);
            EXPECT_EQ(checkblk(v, f.data() + 1, 128, nullptr), 0) << count;
        }
    }
    VornHeader h;
    auto good = std::vector<uint8_t>(128);
    h.name = "x";
    ASSERT_TRUE(packheader(Variant::VornCRC, h, good.data()));
    EXPECT_FALSE(parseheader(Variant::VornCRC, good.data(), 31, h));
    EXPECT_FALSE(parseheader(Variant::VornCRC, good.data(), 33, h));
    EXPECT_FALSE(parseheader(Variant::Vorn5, good.data(), 32, h));
    VornKblock k;
    uint8_t kd[vorn::KN] = {};
    EXPECT_FALSE(parsek(kd, 15, k));
}

TEST(VornWire, HeaderAndAcknowledgementLayouts) {
    VornHeader h;
    h.machine = 1;
    h.name = "report.txt";
    h.mode = 0100644;
    h.size = 0x01020304;
    h.flags = vorn::HF_RESTART | vorn::HF_COMPRESS;
    uint8_t d[128];
    ASSERT_TRUE(packheader(Variant::VornCRC, h, d));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d + 1)), "report.txt");
    EXPECT_EQ((std::vector<int>{d[0], d[15], d[16] | (d[17] << 8), d[18], d[27], d[30], d[31]}),
              (std::vector<int>{1, 0, 0100644 & 0xffff, 2, 4, 1, 3}));
    VornHeader back;
    ASSERT_TRUE(parseheader(Variant::VornCRC, d, 32, back));
    EXPECT_EQ(back.name + " " + std::to_string(back.size) + " " + std::to_string(back.flags),
              "report.txt 16909060 3");
    // A full 14-byte name with garbage after it: never read past the field.
    std::memcpy(d + 1, "abcdefghijklmn", 14);
    d[15] = 'Z';
    ASSERT_TRUE(parseheader(Variant::VornCRC, d, 32, back));
    EXPECT_EQ(back.name, "abcdefghijklmn");
    h.name = "abcdefghijklmno"; // does not fit: refused, never cut
    EXPECT_FALSE(packheader(Variant::VornCRC, h, d));
    // Vorn5: bytes 0-17 only.
    h.name = "a";
    ASSERT_TRUE(packheader(Variant::Vorn5, h, d));
    EXPECT_EQ(d[18], 0);
    EXPECT_EQ(d[27], 0);
    // OldVorn: 8+3, upper case, space-padded.
    ASSERT_TRUE(packheader(Variant::OldVorn, VornHeader{1, "readme.md", 0, 0, -1, 0}, d));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d), 12), std::string("\0README  MD ", 12));
    ASSERT_TRUE(parseheader(Variant::OldVorn, d, 128, back));
    EXPECT_EQ(back.name, "README.MD");
    EXPECT_FALSE(packheader(Variant::OldVorn, VornHeader{1, "longername.txt", 0, 0, -1, 0}, d));
    // K block.
    uint8_t k[vorn::KN];
    packk(VornKblock{1, true, 4096 + 5, vorn::OPT_Z | 0x4000}, k);
    EXPECT_EQ((std::vector<int>{k[9], k[10] | (k[11] << 8), k[14] | (k[15] << 8)}),
              (std::vector<int>{1, 4101, 0x4800}));
    VornKblock kb;
    ASSERT_TRUE(parsek(k, 16, kb));
    EXPECT_TRUE(kb.restart);
    EXPECT_EQ(kb.offset, 4101);
    k[13] = 0xff; // negative offsets come through as negative, for the sender to refuse
    ASSERT_TRUE(parsek(k, 16, kb));
    EXPECT_LT(kb.offset, 0);
}

} // namespace
