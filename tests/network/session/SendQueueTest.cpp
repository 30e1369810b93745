#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "network/session/SendQueue.h"

namespace {

std::vector<uint8_t> record(int length, int seed) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(seed * 31 + i);
    }
    return bytes;
}

}  // namespace

TEST(SendQueue, RecordsComeOutWholeAndInOrderAcrossManyWraps) {
    SendQueue queue(1000);
    std::deque<std::vector<uint8_t>> model;
    unsigned state = 12345;  // fixed seed
    for (int step = 0; step < 20000; ++step) {
        state = state * 1103515245u + 12345u;
        bool pushing = (state >> 16) % 3 != 0;
        if (pushing) {
            int length = 1 + static_cast<int>((state >> 8) % 300);
            auto bytes = record(length, step);
            bool fits = length <= queue.freeSpace();
            ASSERT_EQ(queue.push(bytes.data(), length), fits);
            if (fits) {
                model.push_back(bytes);
            }
        } else if (!model.empty()) {
            ASSERT_FALSE(queue.isEmpty());
            std::vector<uint8_t> front(queue.frontData(), queue.frontData() + queue.frontLength());
            ASSERT_EQ(front, model.front());
            queue.popFront();
            model.pop_front();
        }
        ASSERT_EQ(queue.count(), static_cast<int>(model.size()));
    }
}

TEST(SendQueue, RecordLargerThanTheQueueIsRefusedAndARefusedQueueRecovers) {
    SendQueue queue(5120);
    auto tooBig = record(5117, 1);
    EXPECT_FALSE(queue.push(tooBig.data(), 5117));
    auto largest = record(5116, 2);
    EXPECT_TRUE(queue.push(largest.data(), 5116));
    auto small = record(10, 3);
    EXPECT_FALSE(queue.push(small.data(), 10));
    queue.popFront();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_TRUE(queue.push(small.data(), 10));
    EXPECT_EQ(queue.frontLength(), 10);
}
