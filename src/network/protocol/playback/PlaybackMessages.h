#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/BitMask32.h"
#include "base/Date.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "network/protocol/PacketFormat.h"
#include "network/protocol/playback/EventListRequest.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlayRequest.h"
#include "network/protocol/playback/PlaybackEvent.h"
#include "network/protocol/playback/PlaybackLayout.h"
#include "network/protocol/playback/RecordedSlice.h"
#include "network/protocol/playback/StorageListEntry.h"
#include "network/protocol/playback/TextInFrame.h"
#include "network/protocol/playback/TextInListEntry.h"

// The payloads of the playback service, one plain struct per message. Each one names its
// packet type and describes its layout exactly once, in `layout(io, message)`: the same
// sequence of fields is written by PlaybackWireWriter and read by PlaybackWireReader, so
// what the client sends is what the simulated recorder parses and the other way round.
// Build one with writePlaybackMessage and parse one with readPlaybackMessage
// (PlaybackWire.h). Requests and their responses share a packet type; the direction tells
// them apart.

// ---- requests (client to recorder) ---------------------------------------------------

// 513: the dates on which something was recorded, between two dates.
struct RecordingCalendarRequest {
    static constexpr uint16_t Type = PacketType::RecordingCalendar;
    Date from;
    Date to;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.date(m.from);
        io.date(m.to);
    }

    friend bool operator==(const RecordingCalendarRequest&, const RecordingCalendarRequest&) = default;
};

// 514: the recorded stretches of an interval on some channels.
struct RecordingTimeTableRequest {
    static constexpr uint16_t Type = PacketType::RecordingTimeTable;
    Interval interval;
    BitMask32 channels;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.interval(m.interval);
        io.mask(m.channels);
    }

    friend bool operator==(const RecordingTimeTableRequest&, const RecordingTimeTableRequest&) = default;
};

// 518: start, position or step playback.
struct PlayRequestMessage {
    static constexpr uint16_t Type = PacketType::PlayRequest;
    PlayRequest request;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.u32(m.request.mode);
        io.interval(m.request.interval);
        io.mask(m.request.channels);
        io.u32(m.request.param1);
        io.u32(m.request.param2);
        io.u32(m.request.param3);
    }

    friend bool operator==(const PlayRequestMessage&, const PlayRequestMessage&) = default;
};

// 516: the recording sections of an interval on some channels.
struct SectionListRequest {
    static constexpr uint16_t Type = PacketType::SectionList;
    BitMask32 channels;
    Interval interval;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.mask(m.channels);
        io.interval(m.interval);
    }

    friend bool operator==(const SectionListRequest&, const SectionListRequest&) = default;
};

// 519 to the recorder: stop streaming and stay at a position.
struct PauseRequest {
    static constexpr uint16_t Type = PacketType::PauseRequest;
    MediaPosition position;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.position(m.position);
    }

    friend bool operator==(const PauseRequest&, const PauseRequest&) = default;
};

// 521: the dates with events (flag false) or with text-in entries (flag true).
struct EventCalendarRequest {
    static constexpr uint16_t Type = PacketType::EventCalendar;
    Date from;
    Date to;
    bool flag = false;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.date(m.from);
        io.date(m.to);
        io.boolean(m.flag);
    }

    friend bool operator==(const EventCalendarRequest&, const EventCalendarRequest&) = default;
};

// 515: the events of an interval.
struct EventListRequestMessage {
    static constexpr uint16_t Type = PacketType::EventList;
    EventListRequest request;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.interval(m.request.interval);
        io.mask(m.request.channels);
        io.u32(m.request.param1);
        io.u32(m.request.param2);
    }

    friend bool operator==(const EventListRequestMessage&, const EventListRequestMessage&) = default;
};

// 522 and 528: the next part of a long event or text-in list.
template <uint16_t TypeNumber>
struct ListContinueRequest {
    static constexpr uint16_t Type = TypeNumber;
    bool flag = false;
    uint32_t value = 0;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.boolean(m.flag);
        io.u32(m.value);
    }

    friend bool operator==(const ListContinueRequest&, const ListContinueRequest&) = default;
};
using EventListContinueRequest = ListContinueRequest<PacketType::EventListContinue>;
using TextInEventListContinueRequest = ListContinueRequest<PacketType::TextInEventListContinue>;

// 523: jump to a position. Sent in two forms: to a position and media ID (no channels),
// or to an event's position (media ID 0) with the channels to follow. The recorder tells
// them apart by whether the channels are present.
struct JumpToPositionRequest {
    static constexpr uint16_t Type = PacketType::JumpToPosition;
    MediaPosition position;
    uint64_t mediaID = 0;
    bool hasChannels = false;
    BitMask32 channels;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.position(m.position);
        io.u64(m.mediaID);
        io.optionalMask(m.channels, m.hasChannels);
    }

    friend bool operator==(const JumpToPositionRequest&, const JumpToPositionRequest&) = default;
};

// 527: the text-in entries of an interval whose text contains one of the given texts.
struct TextInEventListRequest {
    static constexpr uint16_t Type = PacketType::TextInEventList;
    Interval interval;
    uint32_t value = 0;
    std::vector<std::string> texts;
    bool flag = false;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.interval(m.interval);
        io.u32(m.value);
        io.list(m.texts, PlaybackLayout::EmptyStringSize, [&](auto& text) { io.string(text); });
        io.boolean(m.flag);
    }

    friend bool operator==(const TextInEventListRequest&, const TextInEventListRequest&) = default;
};

// 529: jump to the frame with a media ID, following some channels.
struct JumpToMediaIDRequest {
    static constexpr uint16_t Type = PacketType::JumpToMediaId;
    uint32_t value = 0;
    uint64_t mediaID = 0;
    BitMask32 channels;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.u32(m.value);
        io.u64(m.mediaID);
        io.mask(m.channels);
    }

    friend bool operator==(const JumpToMediaIDRequest&, const JumpToMediaIDRequest&) = default;
};

// 524: jump to the frame nearest a time, starting from a position.
struct JumpToNearPositionRequest {
    static constexpr uint16_t Type = PacketType::JumpToNearPosition;
    MediaPosition position;
    DateTime time;
    uint32_t value = 0;
    BitMask32 channels;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.position(m.position);
        io.dateTime(m.time);
        io.u32(m.value);
        io.mask(m.channels);
    }

    friend bool operator==(const JumpToNearPositionRequest&, const JumpToNearPositionRequest&) = default;
};

// 525: limit playback to an interval.
struct PlaybackIntervalRequest {
    static constexpr uint16_t Type = PacketType::PlaybackInterval;
    Interval interval;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.interval(m.interval);
    }

    friend bool operator==(const PlaybackIntervalRequest&, const PlaybackIntervalRequest&) = default;
};

// 530: the recorder's storages.
struct StorageListRequest {
    static constexpr uint16_t Type = PacketType::StorageList;
    bool flag = false;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.boolean(m.flag);
    }

    friend bool operator==(const StorageListRequest&, const StorageListRequest&) = default;
};

// 531: play from another of the recorder's storages.
struct StorageChangeRequest {
    static constexpr uint16_t Type = PacketType::StorageChange;
    std::string storage;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.string(m.storage);
    }

    friend bool operator==(const StorageChangeRequest&, const StorageChangeRequest&) = default;
};

// ---- responses and streamed frames (recorder to client) ----------------------------

// 513 and 521: a list of dates.
template <uint16_t TypeNumber>
struct DateListResponse {
    static constexpr uint16_t Type = TypeNumber;
    std::vector<Date> dates;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.list(m.dates, PlaybackLayout::DateSize, [&](auto& date) { io.date(date); });
    }

    friend bool operator==(const DateListResponse&, const DateListResponse&) = default;
};
using RecordingCalendarResponse = DateListResponse<PacketType::RecordingCalendar>;
using EventCalendarResponse = DateListResponse<PacketType::EventCalendar>;

// 514: the recorded stretches (in the recorder's order; the client sorts them).
struct RecordingTimeTableResponse {
    static constexpr uint16_t Type = PacketType::RecordingTimeTable;
    std::vector<RecordedSlice> slices;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.list(m.slices, PlaybackLayout::RecordedSliceSize, [&](auto& slice) {
            io.u32(slice.id);
            io.interval(slice.interval);
            io.mask(slice.channels);
        });
    }

    friend bool operator==(const RecordingTimeTableResponse&, const RecordingTimeTableResponse&) = default;
};

// 516: the sections of the requested interval, with the request's channels and interval.
struct SectionListResponse {
    static constexpr uint16_t Type = PacketType::SectionList;
    BitMask32 channels;
    Interval interval;
    std::vector<uint32_t> sections;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.mask(m.channels);
        io.interval(m.interval);
        io.list(m.sections, PlaybackLayout::SectionIdSize, [&](auto& id) { io.u32(id); });
    }

    friend bool operator==(const SectionListResponse&, const SectionListResponse&) = default;
};

// 517: one audio or video frame and the position it was read from. The frame's data
// points into the packet (reading) or at the sender's bytes (writing).
struct MediaFrameMessage {
    static constexpr uint16_t Type = PacketType::MediaFrame;
    bool flag = false;  // set for a frame that depends on earlier frames of its key group
    MediaPosition position;
    MediaFrame frame;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.boolean(m.flag);
        io.position(m.position);
        io.u16(m.frame.mediaType);
        io.u16(m.frame.syncIndex);
        io.u32(m.frame.syncKeyID);
        io.mask(m.frame.channelMask);
        io.u32(m.frame.dataLength);
        io.u64(m.frame.mediaID);
        io.dateTime(m.frame.time);
        io.u16(m.frame.flag1);
        io.u16(m.frame.flag0);
        io.u32(m.frame.param32);
        io.u64(m.frame.param64);
        io.mask(m.frame.linkedChannelMask);
        io.u32(m.frame.extraLength);
        io.zeros(PlaybackLayout::FrameHeaderReserved);
        io.bytes(m.frame.data, m.frame.payloadSize());
    }
};

// 519 from the recorder: playback stopped, with the reason.
struct PlaybackStopNotice {
    static constexpr uint16_t Type = PacketType::PlaybackStopNotice;
    uint32_t reason = 0;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.u32(m.reason);
    }

    friend bool operator==(const PlaybackStopNotice&, const PlaybackStopNotice&) = default;
};

// 515: one part of an event list. `hasMore` is set when a continue request would bring
// further entries; `flag` is passed through.
struct EventListResponse {
    static constexpr uint16_t Type = PacketType::EventList;
    bool hasMore = false;
    bool flag = false;
    std::vector<PlaybackEvent> events;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.boolean(m.hasMore);
        io.boolean(m.flag);
        io.list(m.events, PlaybackLayout::EventEntrySize, [&](auto& event) {
            io.u8(event.eventType);
            io.u8(event.eventParam);
            io.mask(event.channels);
            io.dateTime(event.time);
            io.u64(event.mediaID);
            io.position(event.position);
        });
    }

    friend bool operator==(const EventListResponse&, const EventListResponse&) = default;
};

// 526: one text-in frame and the position it was read from. Recorders that do not send
// the flags end the payload after the text; the flags then read as 0. The wire carries no
// linked channels: a received frame is linked to every channel.
struct TextInFrameMessage {
    static constexpr uint16_t Type = PacketType::TextInFrame;
    MediaPosition position;
    TextInFrame frame;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.position(m.position);
        io.mask(m.frame.channelMask);
        io.u64(m.frame.mediaID);
        io.dateTime(m.frame.time);
        io.u32(m.frame.syncKeyID);
        io.u16(m.frame.syncIndex);
        io.u32(m.frame.sectionID);
        io.text(m.frame.text, sizeof m.frame.text, PlaybackLayout::TextInTextSize);
        io.optionalU32(m.frame.flags);
        io.impliedOnRead(m.frame.mediaType, PlaybackLayout::MediaTypeTextIn);
        io.impliedOnRead(m.frame.linkedChannelMask, 0xFFFFFFFFu);
    }

    friend bool operator==(const TextInFrameMessage&, const TextInFrameMessage&) = default;
};

// 527: one part of a text-in list; the leading values are the recorder's (`hasMore` is
// set when a continue request would bring further entries).
struct TextInEventListResponse {
    static constexpr uint16_t Type = PacketType::TextInEventList;
    bool hasMore = false;
    bool flag = false;
    uint32_t value = 0;
    std::vector<TextInListEntry> entries;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.boolean(m.hasMore);
        io.boolean(m.flag);
        io.u32(m.value);
        io.list(m.entries, PlaybackLayout::TextInListEntrySize, [&](auto& entry) {
            io.u64(entry.mediaID);
            io.u32(entry.param1);
            io.dateTime(entry.time);
            io.u32(entry.param2);
            io.u16(entry.param3);
            io.mask(entry.channels);
            io.text(entry.text, sizeof entry.text, PlaybackLayout::TextInListTextSize);
        });
    }

    friend bool operator==(const TextInEventListResponse&, const TextInEventListResponse&) = default;
};

// 530: the recorder's storages.
struct StorageListResponse {
    static constexpr uint16_t Type = PacketType::StorageList;
    bool flag = false;
    std::vector<StorageListEntry> storages;

    template <typename IO, typename Self>
    static void layout(IO& io, Self& m) {
        io.boolean(m.flag);
        io.list(m.storages, PlaybackLayout::StorageEntryMinSize, [&](auto& storage) {
            io.u32(storage.storageID);
            io.string(storage.name, PlaybackLayout::StorageNameMaxLength);
        });
    }

    friend bool operator==(const StorageListResponse&, const StorageListResponse&) = default;
};

// 531 from the recorder: the storage change is done. No payload.
struct StorageChangeResponse {
    static constexpr uint16_t Type = PacketType::StorageChange;

    template <typename IO, typename Self>
    static void layout(IO&, Self&) {}

    friend bool operator==(const StorageChangeResponse&, const StorageChangeResponse&) = default;
};
