#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "StorageFixture.h"
#include "base/TarsilException.h"
#include "storage/EventElement.h"
#include "storage/InfoElement.h"
#include "storage/LogElement.h"
#include "storage/MediaElement.h"
#include "storage/TextInElement.h"

namespace {

// The bytes of `element` written at an offset, and streamed at the cursor, over memory
// first filled with 0xAA so that unwritten reserved bytes would show.
template <typename E>
void expectSameBytesBothWays(const E& element, ByteOrder order) {
    std::vector<uint8_t> atOffset(512, 0xAA), streamed(512, 0xAA);
    Buffer a(atOffset.data(), 512, order);
    element.writeTo(a, 128);
    Buffer b(streamed.data(), 512, order);
    b.setPosition(128);
    element.appendHeader(b);
    EXPECT_EQ(b.position(), 128 + element.headerSize());
    EXPECT_EQ(atOffset, streamed);
    E fromOffset, fromStream;
    fromOffset.readFrom(a, 128);
    b.setPosition(128);
    fromStream.readFrom(b);
    EXPECT_EQ(b.position(), 128 + element.headerSize());
    std::vector<uint8_t> again(512, 0xAA);
    Buffer c(again.data(), 512, order);
    fromStream.writeTo(c, 128);
    EXPECT_EQ(again, atOffset);
    fromOffset.writeTo(c, 128);
    EXPECT_EQ(again, atOffset);
}

bool zeros(const std::vector<uint8_t>& bytes, int from, int count) {
    for (int i = from; i < from + count; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(Elements, MediaElementFormsAgreeAndReservedBytesAreZero) {
    MediaElement m;
    m.setMediaType(TimelineLinkedElement::Audio);
    m.setSyncIndex(3);
    m.setSyncKeyID(0x01020304);
    m.setChannelMask(BitMask32(0x5));
    m.setDataLength(100);
    m.setExtraLength(20);
    m.setMediaID(0x1122334455667788ull);
    m.setTime(DateTime(2024, 5, 1, 12, 30, 15));
    m.setFlag0(7);
    m.setFlag1(9);
    m.setParam32(42);
    m.setParam64(43);
    m.setLinkedChannelMask(BitMask32(0x30));
    EXPECT_EQ(m.dataSize(), 120);
    EXPECT_EQ(m.serializedSize(), 184);
    EXPECT_FALSE(m.countsInPageMask());
    for (ByteOrder order : {ByteOrder::BigEndian, ByteOrder::LittleEndian}) {
        expectSameBytesBothWays(m, order);
    }
    std::vector<uint8_t> bytes(64, 0xAA);
    Buffer b(bytes.data(), 64, ByteOrder::BigEndian);
    m.writeTo(b, 0);
    EXPECT_TRUE(zeros(bytes, 56, 8));
    EXPECT_EQ(bytes[33], 9);  // flag1 precedes flag0, as in the frame header
    EXPECT_EQ(bytes[35], 7);
    MediaElement back;
    back.readFrom(b, 0);
    EXPECT_EQ(back.extraLength(), 20u);
    EXPECT_EQ(back.linkedChannelMask().value(), 0x30u);
    EXPECT_TRUE(back.time().equals(m.time()));
}

TEST(Elements, TextInKeepsSixtyThreeCharactersAndZeroReserves) {
    TextInElement t;
    t.setText(std::string(80, 'q').c_str());
    EXPECT_EQ(std::strlen(t.text()), 63u);
    t.setPosition(PagePosition(7, 256));
    t.setSectionID(5);
    t.setFlags(3);
    t.setMediaID(99);
    EXPECT_EQ(t.serializedSize(), 128);
    EXPECT_FALSE(t.countsInPageMask());
    expectSameBytesBothWays(t, ByteOrder::LittleEndian);
    std::vector<uint8_t> bytes(128, 0xAA);
    Buffer b(bytes.data(), 128, ByteOrder::LittleEndian);
    t.writeTo(b, 0);
    EXPECT_TRUE(zeros(bytes, 12, 4));
    EXPECT_TRUE(zeros(bytes, 40, 8));
    EXPECT_TRUE(zeros(bytes, 124, 4));
    EXPECT_EQ(bytes[123], 0);
    // A stored text without its terminator is cut at 63 characters on reading.
    std::memset(bytes.data() + 60, 'z', 64);
    TextInElement back;
    back.readFrom(b, 0);
    EXPECT_EQ(std::strlen(back.text()), 63u);
    EXPECT_EQ(back.position(), PagePosition(7, 256));
    EXPECT_EQ(back.mediaType(), TimelineLinkedElement::TextIn);
}

TEST(Elements, EventLogAndInfoRecordsRoundTrip) {
    EventElement e;
    e.setEventType(4);
    e.setEventParam(2);
    e.setChannelMask(BitMask32(0x81));
    e.setMediaID(1234);
    e.setTime(DateTime(2024, 5, 1, 0, 0, 1));
    e.setTimelinePosition(PagePosition(3, 192));
    e.setSectionID(17);
    expectSameBytesBothWays(e, ByteOrder::BigEndian);
    std::vector<uint8_t> bytes(64, 0xAA);
    Buffer b(bytes.data(), 64, ByteOrder::BigEndian);
    e.writeTo(b, 0);
    EXPECT_TRUE(zeros(bytes, 2, 2));
    EXPECT_TRUE(zeros(bytes, 36, 28));

    LogElement log;
    log.setText(std::string(60, 'x').c_str(), 60);
    EXPECT_EQ(std::strlen(log.text()), 47u);
    log.setSequence(9);
    log.setPart(1);
    expectSameBytesBothWays(log, ByteOrder::LittleEndian);
    InfoElement info;
    info.setKey("LastVideoTime with a much longer key");
    info.setValue("v");
    EXPECT_EQ(std::strlen(info.key()), 31u);
    expectSameBytesBothWays(info, ByteOrder::LittleEndian);
}

TEST(Elements, OnlyVideoAndEventElementsMarkThePageFlags) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage({&PageType::Media});
    ASSERT_TRUE(storage.open(path.c_str()));
    Track* media = storage.track(PageType::Media);
    std::vector<uint8_t> payload(20000, 0x5C);
    MediaElement video;
    video.setChannelMask(BitMask32(0x2));
    video.setPayload(payload.data());
    storage.writeMedia(video);
    video.setChannelMask(BitMask32(0x5));
    storage.writeMedia(video);
    EXPECT_EQ(media->currentPage()->itemFlags(), 0x7u);
    MediaElement audio;
    audio.setMediaType(TimelineLinkedElement::Audio);
    audio.setChannelMask(BitMask32(0x40));
    storage.writeMedia(audio);
    EXPECT_EQ(media->currentPage()->itemFlags(), 0x7u);
    // A payload that does not fit continues at the data start of the next page, whose
    // first element begins after it.
    MediaElement big;
    big.setPayload(payload.data());
    uint32_t before = media->freeBytes();
    big.setDataLength(before - 64 + 1000);
    PagePosition at = storage.writeMedia(big);
    Page* next = media->currentPage();
    EXPECT_NE(next->pageNumber(), at.number);
    EXPECT_EQ(next->itemCount(), 0u);
    EXPECT_EQ(next->firstItemOffset(), 128u + 1000u);
    big.setDataLength(40000);  // more than the rest of a page and one further page
    EXPECT_THROW(storage.writeMedia(big), TarsilException);
    storage.close(true);
}
