#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/BitMask32.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "base/TextOf.h"
#include "network/protocol/Packet.h"
#include "network/protocol/PacketAssembler.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int BigFrameLength = 100000;  // more than a packet's initial 81920 bytes

uint8_t frameByte(int i) { return static_cast<uint8_t>((i * 131 + 7) ^ (i >> 9)); }

const DateTime Stamp(2008, 2, 29, 23, 59, 58);
const Interval Span(DateTime(2009, 12, 31, 23, 0, 0), DateTime(2010, 1, 1, 1, 2, 3));

void append(Bytes& wire, Packet& packet) {
    wire.insert(wire.end(), packet.data(), packet.data() + packet.limit());
}

// Several different packets back to back, as a recorder would send them: values of
// every encoding, an empty payload, a payload larger than the initial capacity, a padded
// string, and an empty payload last.
Bytes buildStream(bool withBigFrame) {
    Bytes wire;
    Packet p;

    p.begin(PacketType::SyncRequest);
    p.putInt(0xDEADBEEF);
    p.putShort(0x1234);
    p.putLong(0x0102030405060708ull);
    p.putBool(true);
    p.putString("hello");
    p.putDate(Date(2009, 3, 1));
    p.putDateTime(Stamp);
    p.putInterval(Span);
    p.putInt(BitMask32(0x80000005).value());
    p.finish(true);
    append(wire, p);

    p.begin(PacketType::AliveCheck);
    p.finish(true);
    append(wire, p);

    if (withBigFrame) {
        p.begin(PacketType::MediaFrame);
        p.putInt(42);
        Bytes frame(BigFrameLength);
        for (int i = 0; i < BigFrameLength; ++i) frame[static_cast<size_t>(i)] = frameByte(i);
        p.put(frame.data(), BigFrameLength);
        p.finish(true);
        append(wire, p);
    }

    p.begin(PacketType::StorageList);
    p.putString("abc");
    p.finish(true);
    append(wire, p);

    p.begin(PacketType::FinNotice);
    p.finish(true);
    append(wire, p);
    return wire;
}

// Checks every value of the packets buildStream wrote; returns how many were seen.
struct StreamChecker {
    bool withBigFrame;
    int seen = 0;

    void operator()(Packet& p) {
        std::vector<uint16_t> types = {PacketType::SyncRequest, PacketType::AliveCheck};
        if (withBigFrame) types.push_back(PacketType::MediaFrame);
        types.push_back(PacketType::StorageList);
        types.push_back(PacketType::FinNotice);
        ASSERT_LT(seen, static_cast<int>(types.size()));
        uint16_t type = types[static_cast<size_t>(seen++)];
        ASSERT_EQ(p.type(), type);
        ASSERT_TRUE(p.isValid());
        ASSERT_EQ(p.position(), 8);
        ASSERT_EQ(static_cast<uint32_t>(p.remaining()), p.payloadLength());
        switch (type) {
            case PacketType::SyncRequest: {
                EXPECT_EQ(p.getInt(), 0xDEADBEEFu);
                EXPECT_EQ(p.getShort(), 0x1234u);
                EXPECT_EQ(p.getLong(), 0x0102030405060708ull);
                EXPECT_TRUE(p.getBool());
                EXPECT_STREQ(p.getString(), "hello");
                EXPECT_EQ(textOf(p.getDate()), "2009/03/01");
                EXPECT_EQ(textOf(p.getDateTime()), textOf(Stamp));
                EXPECT_EQ(textOf(p.getInterval()), textOf(Span));
                EXPECT_EQ(p.getInt(), 0x80000005u);
                EXPECT_EQ(p.payloadLength() % 4, 0u);
                EXPECT_LT(p.remaining(), 4);
                break;
            }
            case PacketType::MediaFrame: {
                EXPECT_EQ(p.payloadLength(), 4u + BigFrameLength);
                EXPECT_EQ(p.getInt(), 42u);
                Bytes frame(BigFrameLength);
                p.get(frame.data(), BigFrameLength);
                int wrong = 0;
                for (int i = 0; i < BigFrameLength; ++i) wrong += frame[static_cast<size_t>(i)] != frameByte(i);
                EXPECT_EQ(wrong, 0);
                break;
            }
            case PacketType::StorageList:
                EXPECT_EQ(p.payloadLength(), 8u);
                EXPECT_STREQ(p.getString(), "abc");
                break;
            default:
                EXPECT_EQ(p.payloadLength(), 0u);
                break;
        }
    }
};

// Feeds `wire` in the pieces ending at `cuts` (ascending) and checks every packet.
void feedInPieces(const Bytes& wire, const std::vector<size_t>& cuts, bool withBigFrame, int expectedPackets) {
    PacketAssembler assembler;
    StreamChecker checker{withBigFrame};
    size_t from = 0;
    for (size_t cut : cuts) {
        ASSERT_TRUE(assembler.feedAll(wire.data() + from, cut - from, [&](Packet& p) { checker(p); }));
        from = cut;
    }
    ASSERT_TRUE(assembler.feedAll(wire.data() + from, wire.size() - from, [&](Packet& p) { checker(p); }));
    EXPECT_EQ(checker.seen, expectedPackets);
    EXPECT_EQ(assembler.state(), PacketAssembler::State::Header);
}

Bytes header(uint16_t type, uint32_t payloadLength) {
    return {0x06, 0x17, static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type),
            static_cast<uint8_t>(payloadLength >> 24), static_cast<uint8_t>(payloadLength >> 16),
            static_cast<uint8_t>(payloadLength >> 8), static_cast<uint8_t>(payloadLength)};
}

}  // namespace

TEST(PacketAssembler, StreamSplitInTwoAtEveryByteBoundaryDecodesToTheSameValues) {
    Bytes wire = buildStream(false);
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        SCOPED_TRACE(cut);
        feedInPieces(wire, {cut}, false, 4);
        if (HasFatalFailure()) return;
    }
}

TEST(PacketAssembler, StreamWithLargeFrameFedByteByByteDecodesToTheSameValues) {
    Bytes wire = buildStream(true);
    PacketAssembler assembler;
    StreamChecker checker{true};
    for (uint8_t byte : wire) {
        ASSERT_EQ(assembler.feed(&byte, 1), 1u);
        if (assembler.hasPacket()) {
            checker(assembler.packet());
            assembler.next();
        }
    }
    EXPECT_EQ(checker.seen, 5);
}

TEST(PacketAssembler, StreamWithLargeFrameInRandomPiecesDecodesToTheSameValues) {
    Bytes wire = buildStream(true);
    std::mt19937 random(20240611);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        // Small pieces in some rounds, socket-sized ones in others.
        size_t largest = round % 2 == 0 ? 17 : 70000;
        std::vector<size_t> cuts;
        size_t at = 0;
        while (true) {
            at += std::uniform_int_distribution<size_t>(1, largest)(random);
            if (at >= wire.size()) break;
            cuts.push_back(at);
        }
        feedInPieces(wire, cuts, true, 5);
        if (HasFatalFailure()) return;
    }
}

TEST(PacketAssembler, ReadingStraightIntoTheReceiveWindowAssemblesPackets) {
    Bytes wire = buildStream(true);
    PacketAssembler assembler;
    StreamChecker checker{true};
    size_t at = 0;
    while (at < wire.size()) {
        // As a socket read of at most 4096 bytes would.
        int n = std::min({assembler.wanted(), 4096, static_cast<int>(wire.size() - at)});
        ASSERT_GT(n, 0);
        std::memcpy(assembler.receiveWindow(), wire.data() + at, static_cast<size_t>(n));
        assembler.received(n);
        at += static_cast<size_t>(n);
        if (assembler.hasPacket()) {
            checker(assembler.packet());
            assembler.next();
        }
    }
    EXPECT_EQ(checker.seen, 5);
}

TEST(PacketAssembler, ZeroPayloadHeaderIsAPacketAtOnce) {
    PacketAssembler assembler;
    Bytes h = header(PacketType::AliveCheck, 0);
    EXPECT_EQ(assembler.feed(h.data(), 7), 7u);
    EXPECT_FALSE(assembler.hasPacket());
    EXPECT_EQ(assembler.feed(h.data() + 7, 1), 1u);
    ASSERT_TRUE(assembler.hasPacket());
    EXPECT_EQ(assembler.packet().type(), PacketType::AliveCheck);
    EXPECT_EQ(assembler.packet().remaining(), 0);
    // Nothing more is taken until the packet has been handled.
    EXPECT_EQ(assembler.feed(h.data(), 8), 0u);
}

TEST(PacketAssembler, HeaderAnnouncingMoreThanTheMaximumStopsTheStream) {
    for (uint32_t length : {1048577u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        PacketAssembler assembler(PacketFormat::MaxClientPayloadLength);
        Bytes wire = header(PacketType::MediaFrame, length);
        wire.resize(64, 0xAB);
        EXPECT_EQ(assembler.feed(wire.data(), wire.size()), 8u);
        EXPECT_TRUE(assembler.failed());
        EXPECT_EQ(assembler.announcedPayloadLength(), length);
        EXPECT_EQ(assembler.feed(wire.data() + 8, wire.size() - 8), 0u);
        EXPECT_FALSE(assembler.feedAll(wire.data(), 1, [](Packet&) { FAIL(); }));
    }
}

TEST(PacketAssembler, PayloadOfExactlyTheMaximumIsAccepted) {
    PacketAssembler assembler(1048576);
    Bytes wire = header(PacketType::MediaFrame, 1048576);
    wire.resize(8 + 1048576, 0x5A);
    EXPECT_EQ(assembler.feed(wire.data(), wire.size()), wire.size());
    ASSERT_TRUE(assembler.hasPacket());
    EXPECT_EQ(assembler.packet().remaining(), 1048576);
    EXPECT_EQ(assembler.packet().getAt(8 + 1048575), 0x5A);
}
