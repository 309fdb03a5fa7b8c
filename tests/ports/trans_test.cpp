// Character rings, and the key-sequence matcher: console bytes in, characters and key numbers
// out, in order.
#include <gtest/gtest.h>

#include "ports/trans.h"

#include <string>
#include <vector>

namespace {

class Matcher : public ::testing::Test {
  protected:
    CharQueue q;
    TransTable t;
    void SetUp() override { qinit(q, 128), trinit(t, q); }
    void add(const std::string& pat, int code) { ASSERT_EQ(traddstr(t, pat, {uint16_t(code)}), 1); }
    std::vector<int> feed(const std::string& bytes) {
        for (unsigned char c : bytes)
            trans(c, t);
        return drain();
    }
    std::vector<int> drain() {
        std::vector<int> v;
        for (int c; (c = unqchar(q)) >= 0;)
            v.push_back(c);
        return v;
    }
};

using V = std::vector<int>;

// A partial match that fails releases the held bytes first, then the byte; a failed prefix
// is followed by a new match starting at ESC; only the held bytes the failed entry waited for
// are released.
TEST_F(Matcher, RecognisesAndReleasesInOrder) {
    // clang-format off
    for (auto [pat, code] : {std::pair<const char*, int>{"\033[A", 276}, {"\033[B", 277},
                             {"\033OP", 256}, {"abcx", 1000}, {"bcy", 1001}})
        add(pat, code);
    const std::pair<const char*, V> cases[] = {
        {"x\033[Ay", {'x', 276, 'y'}}, {"\033[x", {27, '[', 'x'}}, {"\033O\033[B", {27, 'O', 277}},
        {"\033\033[A", {27, 276}},     {"\033[A\033[B\033OP", {276, 277, 256}},
        {"abcy", {'a', 1001}},         {"abcz", {'a', 'b', 'c', 'z'}}, {"abcx", {1000}}};
    // clang-format on
    for (const auto& [in, out] : cases)
        EXPECT_EQ(feed(in), out) << in;
}

TEST_F(Matcher, ShortPatternCompletesFirstPseudoKeyOrFlushEndsAMatchAndLimits) {
    add("ab", 500);
    add("abc", 501);
    EXPECT_EQ(feed("ab"), V{500});
    add("\033[A", 276);
    feed("\033[");
    trans(448, t);
    EXPECT_EQ(drain(), (V{27, '[', 448}));
    EXPECT_EQ(feed("\033["), V{});
    EXPECT_EQ(trflush(t), 2);
    EXPECT_EQ(drain(), (V{27, '['}));
    EXPECT_EQ(feed("\033[A"), V{276});
    trinit(t, q); // the limits of the table and of a pattern
    for (int i = 0; i < TRMAXENT; i++)
        ASSERT_EQ(traddstr(t, "\033[" + std::to_string(i) + "~", {uint16_t(300 + i)}), 1);
    EXPECT_EQ(traddstr(t, "\033[x", {1}), 0); // the 121st
    EXPECT_EQ(feed("\033[119~"), V{419});
    trinit(t, q);
    EXPECT_EQ(traddstr(t, "", {1}), 0);
    EXPECT_EQ(traddstr(t, std::string(TRMAXPAT + 1, 'a'), {1}), 0);
    EXPECT_EQ(traddstr(t, "ab", {}), 0);
    EXPECT_EQ(traddstr(t, "ab", std::vector<uint16_t>(TRMAXREP + 1, 1)), 0);
}

TEST_F(Matcher, QueueGrowsToTakeTheLongestRelease) {
    qinit(q, 5);
    std::string longest(TRMAXPAT, 'a');
    longest.back() = 'z';
    add(longest, 300);
    EXPECT_GT(q.size, TRMAXPAT);
    V want(TRMAXPAT, 'a');
    want.back() = 'b';
    EXPECT_EQ(feed(std::string(TRMAXPAT - 1, 'a') + "b"), want);
    EXPECT_EQ(feed(longest), V{300});
}

} // namespace

// Character rings: 16-bit entries, wrap-around, and what happens at full and empty.
TEST(Queue, KeepsSixteenBitEntriesInOrderAcrossTheWrapAndDropsWhenFull) {
    CharQueue q;
    EXPECT_EQ(qchar(1, q) + unqchar(q), -2); // not allocated yet: refuses everything
    ASSERT_EQ(qinit(q, 4), 0);
    EXPECT_EQ(unqchar(q), -1);
    for (int round = 0; round < 5; round++) {
        // Three fit in four slots; the positions wrap on every round.
        for (int c : {448, 0xff, 276 + round})
            EXPECT_EQ(qchar(c, q), 0);
        EXPECT_EQ(qchar('x', q), -1);
        EXPECT_EQ(qcount(q), 3);
        for (int c : {448, 0xff, 276 + round, -1})
            EXPECT_EQ(unqchar(q), c);
    }
    // A resize keeps the entries in order across the wrap and never drops one.
    qchar(7, q), qchar(8, q);
    ASSERT_EQ(qresize(q, 64), 0);
    EXPECT_EQ(q.size, 64);
    ASSERT_EQ(qresize(q, 2), 0);
    EXPECT_EQ(q.size, 3);
    for (int c : {7, 8, -1})
        EXPECT_EQ(unqchar(q), c);
    // A new init empties the ring.
    qchar(9, q);
    ASSERT_EQ(qinit(q, 128), 0);
    EXPECT_TRUE(qempty(q));
}

// Blocks in and out: the same order and limits as entry by entry, at every wrap position.
TEST(Queue, BlocksWrapDropTheOverflowAndStopAtTheStopByteOrAWideEntry) {
    CharQueue q;
    const unsigned char in[] = "abcdefghij";
    unsigned char out[16];
    EXPECT_EQ(qwrite(q, in, 3) + unqbytes(q, out, 16, -1), 0); // not allocated
    ASSERT_EQ(qinit(q, 8), 0);
    for (int start = 0; start < 8; start++) {
        qclear(q);
        for (int k = 0; k < start; k++) // move the positions round the ring
            qchar(0, q), unqchar(q);
        EXPECT_EQ(qwrite(q, in, 10), 7) << start; // seven fit; the rest is dropped
        EXPECT_EQ(qwrite(q, in, 1), 0) << start;
        EXPECT_EQ(unqbytes(q, out, 2, -1), 2) << start;       // at most max
        EXPECT_EQ(unqbytes(q, out + 2, 16, 'f'), 3) << start; // stops before the stop byte
        EXPECT_EQ(unqchar(q), 'f') << start;
        EXPECT_EQ(unqbytes(q, out + 5, 16, -1), 1) << start;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), "abcdeg") << start;
        EXPECT_TRUE(qempty(q)) << start;
    }
    qchar('a', q);
    qchar(448, q); // an entry wider than a byte is never taken as one
    EXPECT_EQ(unqbytes(q, out, 16, -1), 1);
    EXPECT_EQ(unqchar(q), 448);
    // Runs are taken several entries at a time: a stop byte or a wide entry anywhere in one.
    ASSERT_EQ(qinit(q, 64), 0);
    for (int at = 0; at < 13; at++) {
        for (int wide = 0; wide < 2; wide++) {
            qclear(q);
            for (int k = 0; k < 13; k++)
                qchar(k != at ? 'a' + k : wide ? 0x100 + 'z' : 'z', q);
            EXPECT_EQ(unqbytes(q, out, 16, wide ? -1 : 'z'), at) << at;
            EXPECT_EQ(unqchar(q), wide ? 0x100 + 'z' : 'z') << at;
        }
    }
}

// The console's table drops a key string in the terminal's own syntax that no pattern takes
// (ESC [ params final, ESC O byte), whole; anything else that is not a key goes out as typed.
TEST_F(Matcher, ConsoleTableDropsUnknownKeyStringsWhole) {
    const struct {
        bool patterns; // the table knows ESC O A (up) and ESC [ 2 ~ (insert)
        const char* typed;
        V out;
    } cases[] = {
        {true, "\033[4~", {}},                              // End of another terminal
        {true, "\033[1;2A", {}},                            // shift-up: a known prefix, then not
        {true, "\033Oj", {}},                               // keypad star in application mode
        {true, "\033[2~", {300}},                           // known
        {true, "a\033[200~b\033OAc", {'a', 'b', 276, 'c'}}, // paste bracket dropped
        {true, "\033x\033\033OA", {27, 'x', 27, 276}},      // alt-x and ESC before a key stay
        {true, "\033[1\003", {3}},                          // a control ends the string
        {false, "\033[A\033OPq", {'q'}},                    // no patterns at all (TERM=dumb)
        {false, "\033b", {27, 'b'}},
    };
    for (const auto& c : cases) {
        trinit(t, q);
        t.dropunknown = true;
        if (c.patterns) {
            add("\033OA", 276);
            add("\033[2~", 300);
        }
        EXPECT_EQ(feed(c.typed), c.out) << c.typed + 1;
        EXPECT_EQ(trheld(t), 0) << c.typed + 1;
    }
}
