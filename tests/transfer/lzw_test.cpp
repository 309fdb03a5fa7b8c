// The LZW coder and decoder: exact stream bytes where they are fixed, round trips split at
// random packet boundaries, the packet bound of group-aligned packets, and the decoder's
// refusals of what the coder never produces.
#include "transfer/lzw.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string compress(const std::string& in, LzwCoder& c) {
    c.start();
    c.put(reinterpret_cast<const uint8_t*>(in.data()), in.size());
    c.finish();
    std::string out(c.avail(), '\0');
    c.take(reinterpret_cast<uint8_t*>(out.data()), out.size());
    return out;
}

// Decodes `z` pushed in random pieces (1 to maxpiece bytes, so splits fall inside codes and
// groups); the status of the last call.
LzwDecoder::Status expand(LzwDecoder& d, const std::string& z, std::string& out, unsigned seed,
                          size_t maxpiece, long limit = -1) {
    out.clear();
    d.start(
        [&](const uint8_t* p, size_t n) {
            out.append(reinterpret_cast<const char*>(p), n);
            return true;
        },
        limit);
    std::mt19937 g(seed);
    for (size_t at = 0; at < z.size();) {
        size_t n = std::min(z.size() - at, 1 + g() % maxpiece);
        auto s = d.push(reinterpret_cast<const uint8_t*>(z.data() + at), n);
        if (s != LzwDecoder::OK) return s;
        at += n;
    }
    return d.finish();
}

std::string randomdata(size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(g());
    return s;
}

std::string text(size_t n) {
    std::string s;
    for (int i = 0; s.size() < n; i++)
        s += "line " + std::to_string(i * 7919 % 1000) + " of the transfer log\n";
    s.resize(n);
    return s;
}

TEST(Lzw, FixedBytesAndRatio) {
    LzwCoder c;
    EXPECT_EQ(compress("", c), std::string("\x1c\x92\x8c", 3)); // the header alone
    // "a" then "aa": codes 97, 257 at width 9, LSB first, the partial group cut to 3 bytes.
    EXPECT_EQ(compress("aaa", c), std::string("\x1c\x92\x8c\x61\x02\x02", 6));
    const std::string as(10000, 'a');
    const std::string z = compress(as, c);
    EXPECT_LT(z.size(), 300u);
    EXPECT_EQ(prratio(c.incount() - c.bytesout(), c.incount()).substr(0, 2), "98");
    EXPECT_EQ(prratio(750, 1000), "75.00%");
    EXPECT_EQ(prratio(-250, 1000), "-25.00%");
    EXPECT_EQ(prratio(5, 1), "0.00%");
}

TEST(Lzw, RoundTripsSplitAnywhere) {
    // Random data fills the table and the coder starts again at width 9 (a CLEAR inside any
    // packet split). Several MiB of output put early strings outside the decoder's output
    // window, so they come from the table. A limit of exactly the size passes, one less fails.
    LzwCoder c;
    LzwDecoder d;
    std::string letters = randomdata(3 << 20, 7);
    for (auto& ch : letters)
        ch = "abcdefgh"[static_cast<uint8_t>(ch) % 8];
    const std::string inputs[] = {"",
                                  "x",
                                  randomdata(4096, 1),
                                  randomdata(1 << 20, 2),
                                  std::string(1 << 20, '\0'),
                                  text(3 << 20),
                                  letters};
    unsigned seed = 10;
    for (const auto& in : inputs) {
        const std::string z = compress(in, c);
        const long size = static_cast<long>(in.size());
        if (in.size() == 1 << 20 && in[0] != 0) {
            EXPECT_GT(c.clears(), 0);
        }
        for (size_t piece : {1, 7, 128, 70000}) {
            std::string out;
            ASSERT_EQ(expand(d, z, out, seed++, piece, size), LzwDecoder::OK)
                << size << "/" << piece;
            EXPECT_TRUE(out == in) << size << "/" << piece;
        }
        EXPECT_EQ(d.decoded(), size);
        EXPECT_EQ(c.pos(), size); // every byte is in an emitted code
        std::string out;
        if (size > 4096) {
            EXPECT_EQ(expand(d, z, out, seed++, 5000, size - 1), LzwDecoder::TOOLONG);
        }
    }
}

TEST(Lzw, GroupAlignedPacketsStayWithinTheBound) {
    // A packet ends once it holds at least `paksiz` bytes and the group is complete; one input
    // byte can flush a code and then a CLEAR group, so the bound is paksiz + 23. Each such
    // packet decodes whole: the receiver's count is the coder's pos(), which ZMODEM positions
    // rely on.
    for (unsigned seed : {1u, 2u}) {
        const std::string in = seed == 1 ? randomdata(400000, 9) : text(400000);
        LzwCoder c;
        c.start();
        LzwDecoder d;
        std::string out;
        d.start([&](const uint8_t* p, size_t n) {
            out.append(reinterpret_cast<const char*>(p), n);
            return true;
        });
        const size_t paksiz = 1012;
        size_t biggest = 0;
        for (char ch : in) {
            c.put(reinterpret_cast<const uint8_t*>(&ch), 1);
            if (c.avail() >= paksiz && c.atgroup()) {
                biggest = std::max(biggest, c.avail());
                uint8_t buf[XBUFSIZ + 64];
                ASSERT_LE(c.avail(), paksiz + 23);
                const size_t n = c.take(buf, sizeof buf);
                ASSERT_EQ(d.push(buf, n), LzwDecoder::OK);
                ASSERT_EQ(d.decoded(), c.pos());
                ASSERT_EQ(d.pending(), 0u);
            }
        }
        EXPECT_GE(biggest, paksiz);
        c.finish();
        uint8_t buf[XBUFSIZ + 64];
        ASSERT_EQ(d.push(buf, c.take(buf, sizeof buf)), LzwDecoder::OK);
        ASSERT_EQ(d.finish(), LzwDecoder::OK);
        EXPECT_TRUE(out == in) << seed;
    }
}

TEST(Lzw, DecoderRefusesWhatTheCoderNeverWrites) {
    LzwDecoder d;
    std::string out;
    struct Bad {
        std::string stream;
        LzwDecoder::Status want;
    };
    const Bad cases[] = {
        {std::string("\x1f\x9d\x90\x61", 4), LzwDecoder::BADMAGIC},        // compress(1)'s magic
        {std::string("\x1c\x92\x90\x61\x00", 5), LzwDecoder::BADMAGIC},    // 16 bits
        {std::string("\x1c\x92\x0c\x61\x00", 5), LzwDecoder::BADMAGIC},    // no block mode
        {std::string("\x1c\x92\x8c\x01\x03", 5), LzwDecoder::BADCODE},     // first code 257
        {std::string("\x1c\x92\x8c\x61\xfe\x03", 6), LzwDecoder::BADCODE}, // 97 then 511
        {std::string("\x1c\x92", 2), LzwDecoder::SHORT},
    };
    for (const Bad& b : cases)
        EXPECT_EQ(expand(d, b.stream, out, 1, 3), b.want) << b.stream.size();
    // A bomb: far more output than announced.
    LzwCoder c;
    const std::string z = compress(std::string(100000, 'z'), c);
    EXPECT_EQ(expand(d, z, out, 1, 64, 5000), LzwDecoder::TOOLONG);
    EXPECT_LE(out.size(), 5000u);
    // The first code, a plain character, counts against the limit too.
    EXPECT_EQ(expand(d, std::string("\x1c\x92\x8c\x0e\x36", 5), out, 1, 1, 0), LzwDecoder::TOOLONG);
    EXPECT_EQ(out, "");
    // The decoder is usable again after any of these.
    EXPECT_EQ(expand(d, compress("again", c), out, 1, 2), LzwDecoder::OK);
    EXPECT_EQ(out, "again");
}

} // namespace
