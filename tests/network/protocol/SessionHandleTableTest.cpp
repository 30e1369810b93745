#include <gtest/gtest.h>

#include "network/protocol/SessionHandleTable.h"

TEST(SessionHandleTable, SizedFromTheNextPrimeAboveThePool) {
    EXPECT_EQ(SessionHandleTable(100).capacity(), 407);
    EXPECT_EQ(SessionHandleTable(1).capacity(), 11);
}

TEST(SessionHandleTable, CollidingHandlesSurviveRemovalEarlierInTheProbeChain) {
    SessionHandleTable table(100);
    // 1000, 1407 and 1814 all hash to the same slot.
    table.insert(1000, 0);
    table.insert(1407, 1);
    table.insert(1814, 2);
    table.remove(1407);
    EXPECT_EQ(table.find(1000), 0);
    EXPECT_EQ(table.find(1407), -1);
    EXPECT_EQ(table.find(1814), 2);
    // The freed slot is reused and the others stay reachable.
    table.insert(2221, 3);
    EXPECT_EQ(table.find(2221), 3);
    EXPECT_EQ(table.find(1814), 2);
    EXPECT_EQ(table.find(999), -1);
}

TEST(SessionHandleTable, FullTableIgnoresFurtherInserts) {
    SessionHandleTable table(1);
    for (int i = 0; i < table.capacity(); ++i) {
        table.insert(5000 + i, i);
    }
    table.insert(9999, 42);
    EXPECT_EQ(table.find(9999), -1);
    EXPECT_EQ(table.find(5000 + table.capacity() - 1), table.capacity() - 1);
}
