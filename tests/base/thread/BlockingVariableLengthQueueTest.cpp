#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "base/thread/BlockingVariableLengthQueue.h"
#include "base/thread/Thread.h"
#include "ThreadTestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes filled(int length, uint8_t seed) {
    Bytes bytes(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

bool pushBytes(BlockingVariableLengthQueue& queue, const Bytes& bytes) {
    return queue.tryPush(bytes.data(), static_cast<int>(bytes.size()), 0);
}

Bytes popBytes(BlockingVariableLengthQueue& queue) {
    Bytes out(static_cast<size_t>(queue.capacity()));
    int length = queue.tryPop(out.data(), 0);
    out.resize(static_cast<size_t>(length));
    return out;
}

// A record of the stress test: producer, sequence number, then bytes derived from both.
struct Header {
    uint32_t producer;
    uint32_t sequence;
};

uint8_t payloadByte(const Header& h, size_t i) {
    return static_cast<uint8_t>(h.producer * 31 + h.sequence * 17 + i);
}

class Producer : public Thread {
public:
    Producer(BlockingVariableLengthQueue& queue, uint32_t id, int records, uint32_t seed)
        : Thread("producer"), _queue(queue), _id(id), _records(records), _random(seed) {}
    void run() override {
        std::uniform_int_distribution<int> extra(0, 300);
        for (int n = 0; n < _records; ++n) {
            Header h{_id, static_cast<uint32_t>(n)};
            Bytes payload(static_cast<size_t>(extra(_random)));
            for (size_t i = 0; i < payload.size(); ++i) payload[i] = payloadByte(h, i);
            // Two pieces, stored back to back as one record.
            const void* pieces[] = {&h, payload.data()};
            const int lengths[] = {static_cast<int>(sizeof h), static_cast<int>(payload.size())};
            if (!_queue.push(pieces, lengths, 2)) return;
        }
    }

private:
    BlockingVariableLengthQueue& _queue;
    uint32_t _id;
    int _records;
    std::mt19937 _random;
};

class Consumer : public Thread {
public:
    explicit Consumer(BlockingVariableLengthQueue& queue) : Thread("consumer"), _queue(queue) {}
    void run() override {
        Bytes buffer(static_cast<size_t>(_queue.maxRecordLength()));
        while (int length = _queue.pop(buffer.data())) {
            Header h;
            std::memcpy(&h, buffer.data(), sizeof h);
            bool intact = length >= static_cast<int>(sizeof h);
            for (size_t i = sizeof h; intact && i < static_cast<size_t>(length); ++i)
                intact = buffer[i] == payloadByte(h, i - sizeof h);
            if (!intact) ++corrupted;
            received.push_back((uint64_t(h.producer) << 32) | h.sequence);
            ++popped;
        }
    }
    std::vector<uint64_t> received;
    std::atomic<int> popped{0};
    std::atomic<int> corrupted{0};

private:
    BlockingVariableLengthQueue& _queue;
};

void runStress(int capacity, int maxRecords) {
    constexpr int Producers = 3, Consumers = 3, Records = 400;
    BlockingVariableLengthQueue queue(capacity, nullptr, maxRecords);
    std::vector<std::unique_ptr<Producer>> producers;
    std::vector<std::unique_ptr<Consumer>> consumers;
    for (int c = 0; c < Consumers; ++c) consumers.push_back(std::make_unique<Consumer>(queue));
    for (int p = 0; p < Producers; ++p)
        producers.push_back(std::make_unique<Producer>(queue, p, Records, 1000u + static_cast<uint32_t>(p)));
    AtScopeExit release([&] {
        queue.close();
        for (auto& p : producers) p->joinFor(WaitMs);
        for (auto& c : consumers) c->joinFor(WaitMs);
    });
    for (auto& c : consumers) c->start();
    for (auto& p : producers) p->start();
    // The whole exchange is bulk work: it gets a few deadlines' worth of time.
    for (auto& p : producers) ASSERT_TRUE(p->joinFor(4 * WaitMs)) << "a producer did not finish its records";
    auto poppedTotal = [&] {
        int total = 0;
        for (auto& c : consumers) total += c->popped;
        return total;
    };
    bool allArrived = eventually([&] { return poppedTotal() == Producers * Records; }, 4 * WaitMs);
    queue.close();
    for (auto& c : consumers) ASSERT_TRUE(c->joinFor(WaitMs)) << "close() did not release a consumer";
    ASSERT_TRUE(allArrived) << poppedTotal() << " of " << Producers * Records;

    std::set<uint64_t> seen;
    for (auto& c : consumers) {
        EXPECT_EQ(c->corrupted, 0);
        // Each consumer sees any one producer's records in the order they were pushed.
        std::vector<int> last(Producers, -1);
        for (uint64_t key : c->received) {
            EXPECT_TRUE(seen.insert(key).second) << "record delivered twice";
            int producer = static_cast<int>(key >> 32), sequence = static_cast<int>(key & 0xFFFFFFFF);
            ASSERT_LT(producer, Producers);
            EXPECT_GT(sequence, last[static_cast<size_t>(producer)]);
            last[static_cast<size_t>(producer)] = sequence;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(Producers * Records));
}

}  // namespace

TEST(BlockingVariableLengthQueue, ManyProducersAndConsumersDeliverEveryRecordOnceAndIntact) {
    runStress(1024, 0);
}

TEST(BlockingVariableLengthQueue, RecordLimitHoldsUnderManyProducersAndConsumers) {
    runStress(64 * 1024, 3);
}

TEST(BlockingVariableLengthQueue, WriterWrapsEarlyAndReaderFollows) {
    BlockingVariableLengthQueue queue(64);
    Bytes a = filled(20, 1), b = filled(20, 2), c = filled(20, 3), d = filled(16, 4);
    EXPECT_EQ(queue.freeSpace(), 60);
    ASSERT_TRUE(pushBytes(queue, a));  // [0, 24)
    ASSERT_TRUE(pushBytes(queue, b));  // [24, 48)
    EXPECT_EQ(queue.freeSpace(), 12);
    EXPECT_EQ(popBytes(queue), a);     // head 24: the front of the ring is free again
    EXPECT_EQ(queue.freeSpace(), 20);
    ASSERT_TRUE(pushBytes(queue, c));  // 16 bytes left at the end: starts again at 0
    EXPECT_EQ(queue.freeSpace(), 0);
    EXPECT_FALSE(pushBytes(queue, Bytes{}));  // not even an empty record: no room for its length
    EXPECT_EQ(popBytes(queue), b);     // reaches the early end: reading continues at 0
    EXPECT_EQ(queue.freeSpace(), 36);
    ASSERT_TRUE(pushBytes(queue, d));  // [24, 44)
    EXPECT_EQ(popBytes(queue), c);
    EXPECT_EQ(popBytes(queue), d);
    EXPECT_EQ(queue.count(), 0);
    EXPECT_EQ(queue.freeSpace(), 60);  // empty: every offset back to 0
}

TEST(BlockingVariableLengthQueue, RetainKeepsChosenRecordsInOrderAcrossAWrappedRing) {
    BlockingVariableLengthQueue queue(64);
    Bytes a = filled(20, 1), b = filled(20, 2), c = filled(20, 3);
    ASSERT_TRUE(pushBytes(queue, a));
    ASSERT_TRUE(pushBytes(queue, b));
    EXPECT_EQ(popBytes(queue), a);
    ASSERT_TRUE(pushBytes(queue, c));  // wrapped: c sits before b in memory
    queue.retainIf([](const uint8_t* data, int) { return data[0] == 2 || data[0] == 3; });
    EXPECT_EQ(queue.count(), 2);
    queue.retainIf([](const uint8_t* data, int) { return data[0] == 3; });
    EXPECT_EQ(queue.count(), 1);
    ASSERT_TRUE(pushBytes(queue, a));  // the room of the dropped record is free again
    EXPECT_EQ(popBytes(queue), c);
    EXPECT_EQ(popBytes(queue), a);
    EXPECT_EQ(queue.count(), 0);
}

TEST(BlockingVariableLengthQueue, RandomTrafficMatchesAPlainFifo) {
    struct Counting : BlockingVariableLengthQueue::Listener {
        int pushes = 0, pops = 0, clears = 0;
        void pushed(const void* const[], const int[], int) override { ++pushes; }
        void popped(const void*, int) override { ++pops; }
        void cleared() override { ++clears; }
    } listener;
    BlockingVariableLengthQueue queue(257, &listener);
    std::deque<Bytes> model;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> length(1, 120), coin(0, 2);
    int accepted = 0, refused = 0, taken = 0;
    for (int step = 0; step < 20000; ++step) {
        if (coin(random) != 0) {
            Bytes record = filled(length(random), static_cast<uint8_t>(step));
            int room = queue.freeSpace();
            bool pushed = pushBytes(queue, record);
            ASSERT_EQ(pushed, static_cast<int>(record.size()) <= room) << "step " << step;
            if (pushed) {
                model.push_back(record);
                ++accepted;
            } else {
                ++refused;
            }
        } else {
            Bytes got = popBytes(queue);
            if (model.empty()) {
                ASSERT_TRUE(got.empty());
            } else {
                ASSERT_EQ(got, model.front()) << "step " << step;
                model.pop_front();
                ++taken;
            }
        }
        ASSERT_EQ(queue.count(), static_cast<int>(model.size()));
    }
    EXPECT_GT(refused, 100);  // the ring was full often enough to matter
    queue.clear();
    EXPECT_EQ(queue.count(), 0);
    EXPECT_EQ(queue.freeSpace(), 253);
    EXPECT_EQ(listener.pushes, accepted);
    EXPECT_EQ(listener.pops, taken);
    EXPECT_EQ(listener.clears, 1);
}

TEST(BlockingVariableLengthQueue, CloseReleasesEveryBlockedProducerAndConsumer) {
    struct Blocked : Thread {
        enum Role { Push, Pop } role;
        BlockingVariableLengthQueue* queue;
        std::atomic<int> result{-1};
        Blocked(Role r, BlockingVariableLengthQueue* q) : Thread("blocked"), role(r), queue(q) {}
        void run() override {
            Bytes buffer(64);
            result = role == Push ? int(queue->push(buffer.data(), 40)) : queue->pop(buffer.data());
        }
    };
    BlockingVariableLengthQueue full(64), empty(64);
    Bytes record = filled(40, 9);
    ASSERT_TRUE(pushBytes(full, record));
    Blocked p1(Blocked::Push, &full), p2(Blocked::Push, &full);
    Blocked c1(Blocked::Pop, &empty), c2(Blocked::Pop, &empty);
    AtScopeExit release([&] {
        full.close();
        empty.close();
        for (Blocked* t : {&p1, &p2, &c1, &c2}) t->joinFor(WaitMs);
    });
    for (Blocked* t : {&p1, &p2, &c1, &c2}) t->start();
    ASSERT_TRUE(eventually([&] { return full.waitingProducers() == 2 && empty.waitingConsumers() == 2; }))
        << "waiting: " << full.waitingProducers() << " producers, " << empty.waitingConsumers() << " consumers";
    full.close();
    empty.close();
    for (Blocked* t : {&p1, &p2, &c1, &c2}) ASSERT_TRUE(t->joinFor(WaitMs)) << "close() did not release a waiter";
    for (Blocked* t : {&p1, &p2, &c1, &c2}) EXPECT_EQ(t->result, 0);
    EXPECT_FALSE(pushBytes(full, Bytes{1}));
    EXPECT_EQ(full.count(), 1);
}

TEST(BlockingVariableLengthQueue, RecordLargerThanTheRingWaitsUntilCloseThenFails) {
    BlockingVariableLengthQueue queue(64);
    Bytes huge = filled(61, 1);
    EXPECT_FALSE(queue.tryPush(huge.data(), 61, 5));
    std::atomic<int> result{-1};
    struct Pusher : IRunnable {
        BlockingVariableLengthQueue* queue;
        const Bytes* huge;
        std::atomic<int>* result;
        void run() override { *result = queue->push(huge->data(), static_cast<int>(huge->size())); }
    } body;
    body.queue = &queue;
    body.huge = &huge;
    body.result = &result;
    Thread pusher(&body, "pusher");
    AtScopeExit release([&] {
        queue.close();
        pusher.joinFor(WaitMs);
    });
    pusher.start();
    ASSERT_TRUE(eventually([&] { return queue.waitingProducers() == 1; })) << "the oversized record did not wait";
    // Smaller records still pass the waiting one, and a pop does not release it.
    Bytes small = filled(8, 2);
    ASSERT_TRUE(queue.push(small.data(), 8));
    EXPECT_EQ(popBytes(queue), small);
    // The pop released the producer; it counts as waiting again only once it has looked.
    ASSERT_TRUE(eventually([&] { return queue.waitingProducers() == 1 || result != -1; }))
        << "the woken producer neither waited again nor returned";
    EXPECT_EQ(result, -1);
    queue.close();
    ASSERT_TRUE(pusher.joinFor(WaitMs)) << "close() did not release the producer";
    EXPECT_EQ(result, 0);
}

TEST(BlockingVariableLengthQueue, ProducerWithAFittingRecordIsNotStarvedByOneWhoseRecordNeverFits) {
    BlockingVariableLengthQueue queue(64);
    Bytes filler = filled(50, 1), huge = filled(61, 2), small = filled(20, 3);
    ASSERT_TRUE(pushBytes(queue, filler));
    struct Pusher : Thread {
        BlockingVariableLengthQueue* queue;
        const Bytes* record;
        std::atomic<int> result{-1};
        Pusher(BlockingVariableLengthQueue* q, const Bytes* r) : Thread("pusher"), queue(q), record(r) {}
        void run() override { result = queue->push(record->data(), static_cast<int>(record->size())); }
    } big(&queue, &huge), fitting(&queue, &small);
    AtScopeExit release([&] {
        queue.close();
        big.joinFor(WaitMs);
        fitting.joinFor(WaitMs);
    });
    // The one that never fits waits first, so a pop that woke only the longest waiter
    // would leave the fitting record behind.
    big.start();
    ASSERT_TRUE(eventually([&] { return queue.waitingProducers() == 1; })) << "the big record did not wait";
    fitting.start();
    ASSERT_TRUE(eventually([&] { return queue.waitingProducers() == 2; })) << "the fitting record did not wait";
    EXPECT_EQ(popBytes(queue), filler);
    ASSERT_TRUE(eventually([&] { return fitting.result == 1; })) << "the fitting record stayed out after a pop";
    EXPECT_EQ(popBytes(queue), small);
    queue.close();
    ASSERT_TRUE(big.joinFor(WaitMs)) << "close() did not release the producer";
    ASSERT_TRUE(fitting.joinFor(WaitMs));
    EXPECT_EQ(big.result, 0);
}

TEST(BlockingVariableLengthQueue, SeveralRecordsAreTakenInOrderWhileTheyFitAndTheRestStays) {
    BlockingVariableLengthQueue queue(256);
    std::vector<Bytes> records = {filled(10, 1), filled(30, 2), filled(50, 3), filled(20, 4)};
    // Around the end of the ring, so the reader follows a wrap within one take.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(pushBytes(queue, filled(60, 9)));
    }
    for (int i = 0; i < 2; ++i) popBytes(queue);
    for (const Bytes& r : records) ASSERT_TRUE(pushBytes(queue, r));
    EXPECT_EQ(popBytes(queue), filled(60, 9));

    auto take = [&](int room, int maxRecords) {
        std::vector<uint8_t> out(static_cast<size_t>(room));
        int stored = queue.tryPopSeveral(out.data(), room, maxRecords);
        std::vector<Bytes> taken;
        for (int at = 0; at < stored;) {
            uint32_t length = 0;
            std::memcpy(&length, out.data() + at, 4);
            taken.emplace_back(out.begin() + at + 4, out.begin() + at + 4 + length);
            at += 4 + static_cast<int>(length);
        }
        return taken;
    };
    EXPECT_EQ(take(13, 10), std::vector<Bytes>{}) << "the front record and its length need 14 bytes";
    EXPECT_EQ(take(14 + 33, 10), (std::vector<Bytes>{records[0]})) << "the second needs 34";
    EXPECT_EQ(take(1000, 1), (std::vector<Bytes>{records[1]}));
    EXPECT_EQ(take(1000, 10), (std::vector<Bytes>{records[2], records[3]}));
    EXPECT_EQ(queue.count(), 0);
    EXPECT_EQ(take(1000, 10), std::vector<Bytes>{});
    ASSERT_TRUE(pushBytes(queue, records[0]));
    queue.close();
    EXPECT_EQ(take(1000, 10), std::vector<Bytes>{}) << "a closed queue gives nothing";
}
