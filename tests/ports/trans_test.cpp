// The key-sequence matcher: console bytes in, characters and key numbers out, in order.
#include <gtest/gtest.h>

#include "ports/trans.h"

#include <string>
#include <vector>

namespace {

class Matcher : public ::testing::Test {
  protected:
    CharQueue q;
    TransTable t;
    void SetUp() override {
        qinit(q, 128);
        trinit(t, q);
    }
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

TEST_F(Matcher, BytesPassStraightThroughAnEmptyTable) {
    EXPECT_EQ(feed("\033[A"), (V{27, '[', 'A'}));
}

TEST_F(Matcher, RecognisesAndReleasesInOrder) {
    add("\033[A", 276);
    add("\033[B", 277);
    add("\033OP", 256);
    struct Case {
        const char* in;
        V out;
    };
    const Case cases[] = {
        {"\033[A", {276}},
        {"\033[B", {277}},
        {"x\033[Ay", {'x', 276, 'y'}},
        {"\033[x", {27, '[', 'x'}},      // partial match fails: held bytes first, then the byte
        {"\033O\033[B", {27, 'O', 277}}, // a failed prefix, then a new match starting at ESC
        {"\033\033[A", {27, 276}},
        {"\033[A\033[B\033OP", {276, 277, 256}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(feed(c.in), c.out) << c.in;
}

TEST_F(Matcher, HeldBytesOnlyTheFailedEntryWaitedForAreReleased) {
    add("abcx", 1000);
    add("bcy", 1001);
    EXPECT_EQ(feed("abcy"), (V{'a', 1001}));
    EXPECT_EQ(feed("abcz"), (V{'a', 'b', 'c', 'z'}));
    EXPECT_EQ(feed("abcx"), (V{1000}));
}

TEST_F(Matcher, FirstCompletedPatternWinsAndLongerOnesAreTriedFirst) {
    add("ab", 500);
    add("abc", 501); // goes before the shorter one
    EXPECT_EQ(t.ent.front().pattern, "abc");
    EXPECT_EQ(feed("ab"), V{500});
}

TEST_F(Matcher, PseudoKeyBreaksAMatch) {
    add("\033[A", 276);
    feed("\033[");
    trans(448, t);
    EXPECT_EQ(drain(), (V{27, '[', 448}));
}

TEST_F(Matcher, FlushReleasesAStalledPrefix) {
    add("\033[A", 276);
    EXPECT_EQ(feed("\033["), V{});
    EXPECT_EQ(trheld(t), 2);
    EXPECT_EQ(trflush(t), 2);
    EXPECT_EQ(drain(), (V{27, '['}));
    EXPECT_EQ(feed("\033[A"), V{276});
}

TEST_F(Matcher, TableAndPatternLimits) {
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
    std::string almost(TRMAXPAT - 1, 'a');
    V want(almost.begin(), almost.end());
    want.push_back('b');
    EXPECT_EQ(feed(almost + "b"), want);
    EXPECT_EQ(feed(longest), V{300});
}

TEST(Str16, CopiesUpToTheTerminator) {
    const uint16_t s[] = {276, 'a', 0, 5};
    EXPECT_EQ(str16save(s), (std::vector<uint16_t>{276, 'a'}));
    EXPECT_TRUE(str16save(nullptr).empty());
}

} // namespace
