#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/Buffer.h"
#include "network/protocol/Packet.h"
#include "network/protocol/playback/PlaybackMessageVariants.h"
#include "network/protocol/playback/PlaybackMessages.h"
#include "network/protocol/playback/PlaybackWire.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename M>
Bytes payloadOf(const M& message) {
    Packet packet;
    writePlaybackMessage(packet, message);
    const uint8_t* start = packet.data() + PacketFormat::HeaderSize;
    return Bytes(start, start + packet.payloadLength());
}

// A received packet of `type` carrying exactly `payload`.
void receive(Packet& packet, uint16_t type, const Bytes& payload) {
    packet.begin(type);
    if (!payload.empty()) packet.put(payload.data(), static_cast<int>(payload.size()));
    packet.finish(false);
}

template <typename M>
M roundTrip(const M& message) {
    Packet packet;
    writePlaybackMessage(packet, message);
    M copy;
    readPlaybackMessage(packet, copy);
    return copy;
}

// A frame header's 64 bytes in the storage form: compares every field at once.
Bytes storageForm(const MediaFrame& frame) {
    Bytes bytes(PlaybackLayout::FrameHeaderSize);
    Buffer buffer(bytes.data(), static_cast<int>(bytes.size()));
    frame.writeTo(buffer);
    return bytes;
}

template <typename M>
void expectRoundTrip(const M& message) {
    EXPECT_TRUE(roundTrip(message) == message) << "type " << M::Type;
}

// Every payload shorter than `required` bytes must be refused without reading past it.
template <typename M>
void expectTruncationsRefused(const M& message, size_t required) {
    Bytes full = payloadOf(message);
    ASSERT_LE(required, full.size());
    for (size_t length = 0; length < required; ++length) {
        Packet packet;
        receive(packet, M::Type, Bytes(full.begin(), full.begin() + length));
        M parsed;
        EXPECT_FALSE(tryReadPlaybackMessage(packet, parsed)) << "accepted " << length << " of " << required;
    }
}

DateTime at(int h, int m, int s) { return DateTime(2009, 3, 1, h, m, s); }

Bytes dateTimeBytes(int year, int month, int day, int h, int m, int s) {
    return {uint8_t(year >> 8), uint8_t(year), uint8_t(month), uint8_t(day), uint8_t(h), uint8_t(m), uint8_t(s), 0};
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }
void append32(Bytes& to, uint32_t v) { append(to, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }
void append16(Bytes& to, uint16_t v) { append(to, {uint8_t(v >> 8), uint8_t(v)}); }
void append64(Bytes& to, uint64_t v) {
    append32(to, uint32_t(v >> 32));
    append32(to, uint32_t(v));
}

}  // namespace

TEST(PlaybackRequests, EveryRequestReadsBackAsTheClientWroteIt) {
    Interval interval(at(1, 2, 3), at(4, 5, 6));
    expectRoundTrip(RecordingCalendarRequest{Date(2009, 1, 1), Date(2100, 12, 31)});
    expectRoundTrip(RecordingTimeTableRequest{interval, BitMask32(0x8001)});
    expectRoundTrip(PlayRequestMessage{{7, interval, BitMask32(0xFFFFFFFF), 1, 0xFFFFFFFE, 3}});
    expectRoundTrip(SectionListRequest{BitMask32(6), interval});
    expectRoundTrip(PauseRequest{{1, 0x80000000u, 3}});
    expectRoundTrip(EventCalendarRequest{Date(1900, 1, 1), Date(2100, 12, 31), true});
    expectRoundTrip(EventListRequestMessage{{interval, BitMask32(3), 9, 10}});
    expectRoundTrip(EventListContinueRequest{true, 77});
    expectRoundTrip(TextInEventListContinueRequest{false, 78});
    expectRoundTrip(JumpToPositionRequest{{4, 5, 6}, 0x123456789ull, false, {}});
    expectRoundTrip(JumpToPositionRequest{{4, 5, 6}, 0, true, BitMask32(0x10)});
    expectRoundTrip(TextInEventListRequest{interval, 12, {"", "COFFEE", std::string(300, 'x')}, true});
    expectRoundTrip(JumpToMediaIDRequest{2, 0xFFFFFFFFFFull, BitMask32(5)});
    expectRoundTrip(JumpToNearPositionRequest{{1, 2, 3}, at(23, 59, 59), 1, BitMask32(9)});
    expectRoundTrip(PlaybackIntervalRequest{interval});
    expectRoundTrip(StorageListRequest{true});
    expectRoundTrip(StorageChangeRequest{"disk 2"});
}

TEST(PlaybackResponses, EveryResponseReadsBackAsTheRecorderWroteIt) {
    expectRoundTrip(RecordingCalendarResponse{{Date(2009, 1, 1), Date(2009, 2, 28)}});
    expectRoundTrip(EventCalendarResponse{{Date(2010, 5, 6)}});
    expectRoundTrip(RecordingTimeTableResponse{});
    expectRoundTrip(RecordingTimeTableResponse{{{3, Interval(at(1, 0, 0), at(2, 0, 0)), BitMask32(0xF)},
                                                {1, Interval(at(0, 0, 0), at(0, 30, 0)), BitMask32(0x1)}}});
    expectRoundTrip(SectionListResponse{BitMask32(3), Interval(at(0, 0, 0), at(1, 0, 0)), {5, 6, 0xFFFFFFFF}});
    expectRoundTrip(PlaybackStopNotice{4});
    expectRoundTrip(EventListResponse{true, false, {{0x20, 7, BitMask32(0x4), at(5, 6, 7), 0x100000001ull, {8, 9, 10}}}});
    TextInListEntry entry{99, 1, at(8, 0, 0), 2, 3, BitMask32(0x2), {}};
    entry.setText("RECEIPT");
    expectRoundTrip(TextInEventListResponse{false, true, 42, {entry, entry}});
    expectRoundTrip(StorageListResponse{true, {{1, "internal"}, {3, "usb"}}});
    expectRoundTrip(StorageChangeResponse{});
    TextInFrameMessage text{{7, 8, 9}, {}};
    text.frame.linkedChannelMask = BitMask32(0xFFFFFFFF);  // what a reader assumes
    text.frame.setText("RECEIPT 0001");
    expectRoundTrip(text);

    // Texts longer than their field are kept cut and terminated; what follows still parses.
    entry.setText(std::string(80, 'T').c_str());
    EXPECT_EQ(std::string(roundTrip(TextInEventListResponse{false, false, 0, {entry}}).entries[0].text),
              std::string(63, 'T'));
    auto storages = roundTrip(StorageListResponse{true, {{2, std::string(300, 'n')}, {3, "usb"}}});
    ASSERT_EQ(storages.storages.size(), 2u);
    EXPECT_EQ(storages.storages[0].name, std::string(255, 'n'));
    EXPECT_EQ(storages.storages[1], (StorageListEntry{3, "usb"}));
}

TEST(PlaybackFrames, MediaFrameCarriesHeaderPositionAndData) {
    Bytes data(1001);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    MediaFrameMessage message;
    message.flag = true;
    message.position = {1, 2, 3};
    MediaFrame& f = message.frame;
    f.mediaType = 1;
    f.syncIndex = 5;
    f.syncKeyID = 0xABCDEF01;
    f.channelMask = BitMask32(0x10);
    f.dataLength = 1000;
    f.extraLength = 1;
    f.mediaID = 0x1122334455667788ull;
    f.time = at(12, 34, 56);
    f.flag1 = 0x0102;
    f.flag0 = 0x0304;
    f.param32 = 0x05060708;
    f.param64 = 0x090A0B0C0D0E0F10ull;
    f.linkedChannelMask = BitMask32(0x1);
    f.data = data.data();

    Packet packet;
    writePlaybackMessage(packet, message);
    EXPECT_EQ(packet.payloadLength(), 1u + 12 + 64 + 1001 + 2);  // padded to a multiple of 4
    MediaFrameMessage copy;
    readPlaybackMessage(packet, copy);
    EXPECT_TRUE(copy.flag);
    EXPECT_EQ(copy.position, (MediaPosition{1, 2, 3}));
    EXPECT_EQ(storageForm(copy.frame), storageForm(f));  // every header field
    // The storage form reads back into the same header.
    Bytes stored = storageForm(f);
    Buffer storedBuffer(stored.data(), static_cast<int>(stored.size()));
    MediaFrame fromStorage;
    fromStorage.readFrom(storedBuffer);
    EXPECT_EQ(storedBuffer.position(), 64);
    EXPECT_EQ(storageForm(fromStorage), stored);
    // The data is read in place, inside the received packet.
    ASSERT_EQ(copy.frame.data, packet.data() + 8 + 1 + 12 + 64);
    EXPECT_EQ(Bytes(copy.frame.data, copy.frame.data + 1001), data);

    // Header field order, byte by byte.
    Bytes expected = {0xFF, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3};
    append16(expected, 1);
    append16(expected, 5);
    append32(expected, 0xABCDEF01);
    append32(expected, 0x10);
    append32(expected, 1000);
    append64(expected, 0x1122334455667788ull);
    append(expected, dateTimeBytes(2009, 3, 1, 12, 34, 56));
    append16(expected, 0x0102);
    append16(expected, 0x0304);
    append32(expected, 0x05060708);
    append64(expected, 0x090A0B0C0D0E0F10ull);
    append32(expected, 1);
    append32(expected, 1);
    append(expected, Bytes(8, 0));
    Bytes payload = payloadOf(message);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + expected.size()), expected);
}

TEST(PlaybackFrames, TextInFrameFlagsAreOptionalAndTextStaysTerminated) {
    TextInFrameMessage message{{7, 8, 9}, {3, 13, 12, BitMask32(0x4), 500, at(9, 10, 11), {}, 14, 3, {}}};
    message.frame.setText("RECEIPT 0001");

    Bytes expected;
    append32(expected, 7);
    append32(expected, 8);
    append32(expected, 9);
    append32(expected, 0x4);
    append64(expected, 500);
    append(expected, dateTimeBytes(2009, 3, 1, 9, 10, 11));
    append32(expected, 12);
    append16(expected, 13);
    append32(expected, 14);
    Bytes text(64, 0);
    std::memcpy(text.data(), "RECEIPT 0001", 12);
    append(expected, text);
    Bytes withoutFlags = expected;
    append32(expected, 3);
    append(expected, {0, 0});  // padding
    EXPECT_EQ(payloadOf(message), expected);

    Packet packet;
    TextInFrameMessage copy;
    receive(packet, PacketType::TextInFrame, expected);
    readPlaybackMessage(packet, copy);
    TextInFrameMessage wanted = message;
    wanted.frame.linkedChannelMask = BitMask32(0xFFFFFFFF);  // the wire carries none: all channels
    EXPECT_TRUE(copy == wanted);

    // A recorder that ends the payload after the text (and pads it) sends no flags.
    withoutFlags.push_back(0);
    withoutFlags.push_back(0);
    receive(packet, PacketType::TextInFrame, withoutFlags);
    readPlaybackMessage(packet, copy);
    EXPECT_EQ(copy.frame.flags, 0u);

    // 64 text bytes without a terminator are kept as 63 characters.
    Bytes unterminated = withoutFlags;
    std::fill(unterminated.begin() + 42, unterminated.begin() + 42 + 64, 'Z');
    receive(packet, PacketType::TextInFrame, unterminated);
    readPlaybackMessage(packet, copy);
    EXPECT_EQ(std::string(copy.frame.text), std::string(63, 'Z'));
}

TEST(PlaybackLayoutBytes, RequestsMatchTheRecordersByteLayout) {
    EXPECT_EQ(payloadOf(RecordingCalendarRequest{Date(2009, 1, 1), Date(2009, 1, 31)}),
              (Bytes{0x07, 0xD9, 0x01, 0x01, 0x07, 0xD9, 0x01, 0x1F}));
    EXPECT_EQ(payloadOf(StorageListRequest{false}), (Bytes{0, 0, 0, 0}));

    Bytes play;
    append32(play, 1);
    append(play, dateTimeBytes(2009, 3, 1, 1, 2, 3));
    append(play, dateTimeBytes(2009, 3, 1, 4, 5, 6));
    append32(play, 0xF);
    append32(play, 1);
    append32(play, 3);
    append32(play, 0);
    EXPECT_EQ(payloadOf(PlayRequestMessage{{1, Interval(at(1, 2, 3), at(4, 5, 6)), BitMask32(0xF), 1, 3, 0}}), play);

    // The section list request puts the channels before the interval.
    Bytes sections;
    append32(sections, 0x3);
    append(sections, dateTimeBytes(2009, 3, 1, 1, 2, 3));
    append(sections, dateTimeBytes(2009, 3, 1, 4, 5, 6));
    EXPECT_EQ(payloadOf(SectionListRequest{BitMask32(3), Interval(at(1, 2, 3), at(4, 5, 6))}), sections);

    // The continue requests put the flag first, then pad.
    EXPECT_EQ(payloadOf(EventListContinueRequest{true, 0x01020304}), (Bytes{0xFF, 1, 2, 3, 4, 0, 0, 0}));

    Bytes jumpToEvent;
    append32(jumpToEvent, 1);
    append32(jumpToEvent, 2);
    append32(jumpToEvent, 3);
    append64(jumpToEvent, 0);
    append32(jumpToEvent, 0x80);
    EXPECT_EQ(payloadOf(JumpToPositionRequest{{1, 2, 3}, 0, true, BitMask32(0x80)}), jumpToEvent);
    EXPECT_EQ(payloadOf(JumpToPositionRequest{{1, 2, 3}, 0, false, {}}).size(), 20u);

    Bytes textIn;
    append(textIn, dateTimeBytes(2009, 3, 1, 1, 2, 3));
    append(textIn, dateTimeBytes(2009, 3, 1, 4, 5, 6));
    append32(textIn, 9);
    append32(textIn, 1);
    append(textIn, {0, 2, 'a', 'b', 0, 0xFF, 0, 0});
    EXPECT_EQ(payloadOf(TextInEventListRequest{Interval(at(1, 2, 3), at(4, 5, 6)), 9, {"ab"}, true}), textIn);
}

TEST(PlaybackLayoutBytes, RecorderListsParseFromHandBuiltBytes) {
    Bytes events = {0, 0xFF};
    append32(events, 1);
    append(events, {0x04, 0x09});
    append32(events, 0x2);
    append(events, dateTimeBytes(2010, 12, 31, 23, 59, 58));
    append64(events, 77);
    append32(events, 10);
    append32(events, 11);
    append32(events, 12);
    Packet packet;
    receive(packet, PacketType::EventList, events);
    EventListResponse parsed;
    readPlaybackMessage(packet, parsed);
    EXPECT_FALSE(parsed.hasMore);
    EXPECT_TRUE(parsed.flag);
    EXPECT_EQ(parsed.events,
              (std::vector<PlaybackEvent>{{4, 9, BitMask32(2), DateTime(2010, 12, 31, 23, 59, 58), 77, {10, 11, 12}}}));

    Bytes table;
    append32(table, 1);
    append32(table, 6);
    append(table, dateTimeBytes(2010, 1, 2, 3, 4, 5));
    append(table, dateTimeBytes(2010, 1, 2, 4, 4, 5));
    append32(table, 0x11);
    receive(packet, PacketType::RecordingTimeTable, table);
    RecordingTimeTableResponse slices;
    readPlaybackMessage(packet, slices);
    ASSERT_EQ(slices.slices.size(), 1u);
    EXPECT_EQ(slices.slices[0].id, 6u);
    EXPECT_EQ(slices.slices[0].interval, Interval(DateTime(2010, 1, 2, 3, 4, 5), DateTime(2010, 1, 2, 4, 4, 5)));
    EXPECT_EQ(slices.slices[0].channels.value(), 0x11u);

    // A time's fourth byte is not part of the value.
    table[4 + 4 + 7] = 0x55;
    receive(packet, PacketType::RecordingTimeTable, table);
    readPlaybackMessage(packet, slices);
    EXPECT_EQ(slices.slices[0].interval.from(), DateTime(2010, 1, 2, 3, 4, 5));
}

TEST(PlaybackParsing, TruncatedPayloadsAreRefused) {
    Interval interval(at(1, 2, 3), at(4, 5, 6));
    expectTruncationsRefused(PlayRequestMessage{{1, interval, BitMask32(1), 2, 3, 4}}, 36);
    expectTruncationsRefused(SectionListResponse{BitMask32(1), interval, {1, 2}}, 4 + 16 + 4 + 8);
    expectTruncationsRefused(RecordingTimeTableResponse{{{1, interval, BitMask32(1)}}}, 4 + 24);
    expectTruncationsRefused(EventListResponse{false, false, {{1, 2, BitMask32(1), at(1, 1, 1), 3, {4, 5, 6}}}}, 2 + 4 + 34);
    expectTruncationsRefused(TextInEventListResponse{false, false, 0, {TextInListEntry{}}}, 2 + 4 + 4 + 93);
    expectTruncationsRefused(StorageListResponse{false, {{1, "abc"}}}, 1 + 4 + 4 + 2 + 3 + 1);
    expectTruncationsRefused(TextInEventListRequest{interval, 0, {"abc", "de"}, true}, 16 + 8 + 6 + 5 + 1);
    expectTruncationsRefused(JumpToNearPositionRequest{{1, 2, 3}, at(1, 1, 1), 1, BitMask32(1)}, 12 + 8 + 8);
    TextInFrameMessage text;
    expectTruncationsRefused(text, 106);  // everything up to the optional flags

    Bytes data(10, 0x5A);
    MediaFrameMessage frame;
    frame.frame.dataLength = 10;
    frame.frame.data = data.data();
    expectTruncationsRefused(frame, 1 + 12 + 64 + 10);
}

TEST(PlaybackParsing, CountsAndLengthsLargerThanThePacketAreRefused) {
    Packet packet;
    // A time table that announces two billion entries but carries one.
    Bytes table;
    append32(table, 0x7FFFFFFF);
    append(table, Bytes(24, 0));
    receive(packet, PacketType::RecordingTimeTable, table);
    RecordingTimeTableResponse slices;
    EXPECT_FALSE(tryReadPlaybackMessage(packet, slices));

    // Counts whose byte total wraps a 32-bit product must not slip through.
    Bytes events = {0, 0};
    append32(events, 0xFFFFFFFF);
    append(events, Bytes(68, 0));
    receive(packet, PacketType::EventList, events);
    EventListResponse eventList;
    EXPECT_FALSE(tryReadPlaybackMessage(packet, eventList));

    Bytes sections;
    append32(sections, 1);
    append(sections, Bytes(16, 0));
    append32(sections, 0x40000001);  // 4 * n wraps to 4
    append32(sections, 9);
    receive(packet, PacketType::SectionList, sections);
    SectionListResponse sectionList;
    EXPECT_FALSE(tryReadPlaybackMessage(packet, sectionList));

    // A frame whose header claims more data than follows it.
    Bytes frameData(10, 1);
    MediaFrameMessage frame;
    frame.frame.dataLength = 10;
    frame.frame.data = frameData.data();
    Bytes framePayload = payloadOf(frame);  // 87 bytes + 1 of padding
    for (uint32_t lie : {12u, 0xFFFFFFFFu}) {
        Bytes lying = framePayload;
        for (int i = 0; i < 4; ++i) lying[1 + 12 + 12 + i] = uint8_t(lie >> (24 - 8 * i));
        receive(packet, PacketType::MediaFrame, lying);
        MediaFrameMessage parsed;
        EXPECT_FALSE(tryReadPlaybackMessage(packet, parsed)) << lie;
    }
    // dataLength + extraLength overflowing 32 bits is still too much.
    Bytes overflow = framePayload;
    for (int i = 0; i < 4; ++i) overflow[1 + 12 + 52 + i] = 0xFF;
    receive(packet, PacketType::MediaFrame, overflow);
    MediaFrameMessage parsedOverflow;
    EXPECT_FALSE(tryReadPlaybackMessage(packet, parsedOverflow));

    // A string longer than its packet, and one missing its terminator.
    Bytes storages = {0};
    append32(storages, 1);
    append32(storages, 1);
    append(storages, {0x01, 0x00, 'a', 'b', 0});
    receive(packet, PacketType::StorageList, storages);
    StorageListResponse storageList;
    EXPECT_FALSE(tryReadPlaybackMessage(packet, storageList));
    storages[9] = 0;  // length 2, "ab", but the terminator is not 0
    storages[10] = 2;
    storages.back() = 'c';
    receive(packet, PacketType::StorageList, storages);
    EXPECT_FALSE(tryReadPlaybackMessage(packet, storageList));

    // A packet of another type is not parsed as this message.
    receive(packet, PacketType::SectionList, Bytes(4, 0));
    PlaybackStopNotice notice;
    EXPECT_FALSE(tryReadPlaybackMessage(packet, notice));
}

TEST(PlaybackDirections, EachSideReadsWhatTheOtherSideWrites) {
    Packet packet;
    // 519 is a pause request to the recorder and a stop notice from it.
    writePlaybackMessage(packet, PauseRequest{{1, 2, 3}});
    auto request = readPlaybackRequest(packet);
    ASSERT_TRUE(request.has_value());
    ASSERT_TRUE(std::holds_alternative<PauseRequest>(*request));
    EXPECT_EQ(std::get<PauseRequest>(*request).position, (MediaPosition{1, 2, 3}));

    writePlaybackMessage(packet, PlaybackStopNotice{3});
    auto response = readPlaybackResponse(packet);
    ASSERT_TRUE(response.has_value());
    ASSERT_TRUE(std::holds_alternative<PlaybackStopNotice>(*response));
    EXPECT_EQ(std::get<PlaybackStopNotice>(*response).reason, 3u);

    // Both forms of the 523 jump arrive as one request, told apart by the channels.
    writePlaybackMessage(packet, JumpToPositionRequest{{4, 5, 6}, 0, true, BitMask32(2)});
    request = readPlaybackRequest(packet);
    ASSERT_TRUE(request.has_value());
    EXPECT_TRUE(std::get<JumpToPositionRequest>(*request).hasChannels);

    writePlaybackMessage(packet, StorageChangeResponse{});
    EXPECT_EQ(packet.payloadLength(), 0u);
    response = readPlaybackResponse(packet);
    ASSERT_TRUE(response.has_value());
    EXPECT_TRUE(std::holds_alternative<StorageChangeResponse>(*response));

    // Not a playback message: left to the caller.
    receive(packet, 600, Bytes(4, 0));
    EXPECT_FALSE(readPlaybackRequest(packet).has_value());
    EXPECT_FALSE(readPlaybackResponse(packet).has_value());
    receive(packet, PacketType::MediaFrame, Bytes(4, 0));
    EXPECT_FALSE(readPlaybackRequest(packet).has_value());  // frames only travel to the client
    EXPECT_THROW(readPlaybackResponse(packet), ByteBufferException);
}
