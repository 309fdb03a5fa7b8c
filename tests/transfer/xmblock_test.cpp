// Blocks of the XMODEM family: the CRC check value, framing with either check, the refusal of
// damaged blocks, and block 0 as lrzsz and as the minimal layout write it.
#include "transfer/xmblock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(XmBlock, FrameAndCheckEverySizeAndCheck) {
    EXPECT_EQ(mdm7crc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);
    EXPECT_EQ(mdm7crc(nullptr, 0), 0);
    // The checksum is the sum of the data.
    const std::vector<uint8_t> ones(128, 0xff);
    uint8_t sum[133];
    xmframe(sum, 1, ones.data(), 128, false);
    EXPECT_EQ(sum[131], static_cast<uint8_t>(128 * 0xff));
    for (int n : {xm::SMALL, xm::BIG}) {
        for (bool crc : {false, true}) {
            for (int blk : {0, 1, 255, 256 + 7}) {
                std::vector<uint8_t> data(static_cast<size_t>(n));
                for (int i = 0; i < n; i++)
                    data[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 31 + blk);
                uint8_t out[xm::BIG + 5];
                const size_t len = xmframe(out, blk, data.data(), n, crc);
                ASSERT_EQ(len, static_cast<size_t>(1 + xm::restlen(n, crc)));
                EXPECT_EQ(out[0], n == xm::BIG ? xm::STX : xm::SOH);
                EXPECT_EQ(out[1] + out[2], 255);
                EXPECT_EQ(xmcheck(out + 1, n, crc), blk & 0xff);
                // Every single-byte change after the type byte is refused by the CRC; the sum
                // misses a change of a data byte that cancels, never one of a single byte.
                for (size_t at : {size_t{1}, size_t{2}, size_t{3}, len / 2, len - 1}) {
                    out[at] ^= 0x10;
                    EXPECT_EQ(xmcheck(out + 1, n, crc), -1) << n << crc << at;
                    out[at] ^= 0x10;
                }
            }
        }
    }
}

struct HdrCase {
    const char* what;
    std::vector<uint8_t> block;
    bool end;
    std::string name;
    long size;
};

std::vector<uint8_t> blk0(const std::string& text, size_t n = 128) {
    std::vector<uint8_t> b(n, 0);
    std::memcpy(b.data(), text.data(), std::min(text.size(), n));
    return b;
}

TEST(XmBlock, HeaderParsing) {
    std::vector<uint8_t> nonul(128, 'a');
    std::vector<uint8_t> lrzszend = blk0("");
    lrzszend[126] = 0x33, lrzszend[127] = 0x44; // block counts from an uninitialised stat
    // clang-format off
    const HdrCase cases[] = {
        {"minimal", blk0(std::string("f.txt\0" "1234", 10)), false, "f.txt", 1234},
        {"lrzsz fields", blk0(std::string("f\0" "99 14523452 100644 0 1 99", 26)), false, "f", 99},
        {"no size", blk0("name"), false, "name", -1},
        {"negative", blk0(std::string("n\0-1", 4)), false, "n", -1},
        {"overflow", blk0(std::string("n\0" "99999999999999999999999", 25)), false, "n", -1},
        {"junk digits", blk0(std::string("n\0" "12x", 5)), false, "n", -1},
        {"no NUL", nonul, false, std::string(128, 'a'), -1},
        {"path kept for rcvname", blk0(std::string("../../x\0" "5", 9)), false, "../../x", 5},
        {"end", blk0(""), true, "", -1},
        {"lrzsz end", lrzszend, true, "", -1},
        {"long block", blk0(std::string(200, 'b') + std::string("\0" "7", 2), 1024), false,
         std::string(200, 'b'), 7},
    };
    // clang-format on
    for (const auto& c : cases) {
        YHeader h = parseyhdr(c.block.data(), static_cast<int>(c.block.size()));
        EXPECT_EQ(h.end, c.end) << c.what;
        EXPECT_EQ(h.name, c.name) << c.what;
        EXPECT_EQ(h.size, c.size) << c.what;
    }
}

TEST(XmBlock, HeaderPackingRoundTripsAndGrows) {
    uint8_t out[xm::BIG];
    for (const auto& [name, size, want] :
         std::vector<std::tuple<std::string, long, int>>{{"a", 0, 128},
                                                         {"file.bin", 307200, 128},
                                                         {std::string(120, 'n'), 5, 128},
                                                         {std::string(126, 'n'), 5, 1024},
                                                         {std::string(1000, 'n'), 12345, 1024},
                                                         {std::string(1023, 'n'), 1, 0},
                                                         {"", 1, 0}}) {
        const int n = packyhdr(name, size, out);
        EXPECT_EQ(n, want) << name.size();
        if (n == 0) continue;
        YHeader h = parseyhdr(out, n);
        EXPECT_FALSE(h.end);
        EXPECT_EQ(h.name, name);
        EXPECT_EQ(h.size, size);
    }
}

} // namespace
