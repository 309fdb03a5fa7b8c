// Character rings: 16-bit entries, wrap-around, and what happens at full and empty.
#include "ports/queue.h"

#include <gtest/gtest.h>

TEST(Queue, KeepsSixteenBitEntriesInOrderAcrossTheWrap) {
    CharQueue q;
    ASSERT_EQ(qinit(q, 4), 0);
    for (int round = 0; round < 5; round++) {
        // Three fit in four slots; the positions wrap on every round.
        EXPECT_EQ(qchar(448, q), 0);
        EXPECT_EQ(qchar(0xff, q), 0);
        EXPECT_EQ(qchar(276 + round, q), 0);
        EXPECT_EQ(qcount(q), 3);
        EXPECT_EQ(unqchar(q), 448);
        EXPECT_EQ(unqchar(q), 0xff);
        EXPECT_EQ(unqchar(q), 276 + round);
        EXPECT_TRUE(qempty(q));
    }
}

TEST(Queue, DropsNewEntriesWhenFullAndAnswersMinusOneWhenEmpty) {
    CharQueue q;
    ASSERT_EQ(qinit(q, 3), 0);
    EXPECT_EQ(unqchar(q), -1);
    EXPECT_EQ(qchar('a', q), 0);
    EXPECT_EQ(qchar('b', q), 0);
    EXPECT_EQ(qchar('c', q), -1);
    EXPECT_EQ(unqchar(q), 'a');
    EXPECT_EQ(unqchar(q), 'b');
    EXPECT_EQ(unqchar(q), -1);
}

TEST(Queue, InitEmptiesAndKeepsTheBlockOfTheSameSize) {
    CharQueue q;
    ASSERT_EQ(qinit(q, 2500), 0);
    const uint16_t* block = q.buf.get();
    qchar(1, q);
    qchar(2, q);
    ASSERT_EQ(qinit(q, 2500), 0);
    EXPECT_EQ(q.buf.get(), block);
    EXPECT_TRUE(qempty(q));
    ASSERT_EQ(qinit(q, 128), 0);
    EXPECT_EQ(q.size, 128);
    qchar(9, q);
    qclear(q);
    EXPECT_TRUE(qempty(q));
}

TEST(Queue, AnUnallocatedQueueRefusesEverything) {
    CharQueue q;
    EXPECT_EQ(qchar(1, q), -1);
    EXPECT_EQ(unqchar(q), -1);
    EXPECT_EQ(qcount(q), 0);
}
