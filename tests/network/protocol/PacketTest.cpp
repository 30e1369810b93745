#include <gtest/gtest.h>

#include <vector>

#include "base/DateTime.h"
#include "base/TextOf.h"
#include "network/protocol/Packet.h"

namespace {

std::vector<uint8_t> sent(const Packet& p) { return {p.data(), p.data() + p.limit()}; }

}  // namespace

TEST(Packet, AliveCheckCarryingTrueIsTwelveBytesOnTheWire) {
    Packet p;
    p.begin(PacketType::AliveCheck);
    p.putBool(true);
    p.finish(true);
    EXPECT_EQ(sent(p), (std::vector<uint8_t>{0x06, 0x17, 0x00, 0x07, 0x00, 0x00, 0x00, 0x04, 0xFF, 0x00, 0x00, 0x00}));
    EXPECT_EQ(p.position(), 0);
}

TEST(Packet, PayloadIsPaddedToFourBytesOnlyWhenAsked) {
    Packet p;
    p.begin(PacketType::StorageList);
    p.putString("abc");
    p.finish(true);
    EXPECT_EQ(sent(p), (std::vector<uint8_t>{0x06, 0x17, 0x02, 0x12, 0, 0, 0, 8, 0x00, 0x03, 'a', 'b', 'c', 0, 0, 0}));
    EXPECT_EQ(p.payloadLength(), 8u);

    p.begin(PacketType::StorageList);
    p.putString("abc");
    p.finish(false);
    EXPECT_EQ(p.payloadLength(), 6u);
    EXPECT_EQ(p.limit(), 14);

    // A payload already aligned gains nothing; an empty one stays empty.
    p.begin(PacketType::AliveCheck);
    p.putInt(1);
    p.finish(true);
    EXPECT_EQ(p.payloadLength(), 4u);
    p.begin(PacketType::AliveCheck);
    p.finish(true);
    EXPECT_EQ(p.limit(), 8);
    EXPECT_EQ(p.payloadLength(), 0u);
}

TEST(Packet, BulkPutGrowsByExactlyTheShortfallAndKeepsTheHeader) {
    Packet p;
    EXPECT_EQ(p.capacity(), 81920);
    p.begin(PacketType::MediaFrame);
    std::vector<uint8_t> frame(100000);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    p.put(frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(p.capacity(), 100008);
    p.finish(true);
    EXPECT_EQ(p.type(), PacketType::MediaFrame);
    EXPECT_TRUE(p.isValid());
    EXPECT_EQ(p.payloadLength(), 100000u);
    EXPECT_EQ(std::vector<uint8_t>(p.data() + 8, p.data() + 100008), frame);

    // Another buffer put into a full packet also grows by what is missing.
    Packet q;
    q.begin(PacketType::MediaFrame);
    p.payload();
    q.put(p);
    EXPECT_EQ(q.capacity(), 100008);
    EXPECT_EQ(p.remaining(), 0);
}

TEST(Packet, ValuePutsIntoAFullPacketGrowByTheFixedStep) {
    Packet p;
    p.begin(PacketType::MediaFrame);
    std::vector<uint8_t> filler(81910, 0xEE);
    p.put(filler.data(), static_cast<int>(filler.size()));
    EXPECT_EQ(p.remaining(), 2);
    p.putInt(0xA1B2C3D4);  // straddles the old end
    EXPECT_EQ(p.capacity(), 81920 * 2);
    p.put(uint8_t{0x77});
    p.finish(true);
    p.payload();
    p.skip(81910);
    EXPECT_EQ(p.getInt(), 0xA1B2C3D4u);
    EXPECT_EQ(p.get(), 0x77);
}

TEST(Packet, DateAndTimeUseTheWireFormWithoutOffset) {
    Packet p;
    p.begin(PacketType::RecordingTimeTable);
    p.putDateTime(DateTime(2009, 3, 1, 23, 5, 7, 32400));
    p.putTimeOfDay(Time(1, 2, 3, -18000));
    p.finish(true);
    EXPECT_EQ(std::vector<uint8_t>(p.data() + 8, p.data() + 20),
              (std::vector<uint8_t>{0x07, 0xD9, 3, 1, 23, 5, 7, 0, 1, 2, 3, 0}));

    p.payload();
    DateTime read = p.getDateTime();
    EXPECT_EQ(textOf(read), "2009/03/01 23:05:07");
    EXPECT_EQ(read.utcOffset(), 0);
    EXPECT_EQ(p.getTimeOfDay().utcOffset(), 0);
}

TEST(Packet, ReadingPastTheReceivedPayloadFails) {
    Packet p;
    p.begin(PacketType::LoginResponse);
    p.putShort(5);  // a string length with no characters or terminator behind it
    p.putShort(0);
    p.finish(true);
    p.payload();
    try {
        p.getString();
        FAIL() << "a string running past the payload was read";
    } catch (const ByteBufferException& e) {
        EXPECT_EQ(e.reason(), ByteBufferException::IllegalArgument);
    }

    p.payload();
    p.getInt();
    try {
        p.get();
        FAIL();
    } catch (const ByteBufferException& e) {
        EXPECT_EQ(e.reason(), ByteBufferException::Underflow);
    }
}

TEST(Packet, ReceiveBufferGrowsForALargePayloadAndRejectsNegativeGrowth) {
    Packet p;
    p.prepareHeader();
    EXPECT_EQ(p.remaining(), 8);
    const uint8_t header[8] = {0x06, 0x17, 0x02, 0x05, 0x00, 0x01, 0x86, 0xA0};  // 100000 bytes
    p.put(header, 8);
    p.preparePayload();
    EXPECT_EQ(p.capacity(), 100008);
    EXPECT_EQ(p.position(), 8);
    EXPECT_EQ(p.limit(), 100008);
    EXPECT_EQ(p.type(), PacketType::MediaFrame);

    try {
        p.grow(-1);
        FAIL();
    } catch (const ByteBufferException& e) {
        EXPECT_EQ(e.reason(), ByteBufferException::IllegalArgument);
    }
}
