#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/BitMask32.h"
#include "base/Date.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlaybackEvent.h"
#include "network/protocol/playback/RecordedSlice.h"
#include "network/protocol/playback/StorageListEntry.h"
#include "network/protocol/playback/TextInListEntry.h"
#include "recorder-sim/recording/FrameCursor.h"
#include "recorder-sim/recording/ListPage.h"
#include "recorder-sim/recording/RecordingSegment.h"
#include "recorder-sim/recording/SyntheticFrame.h"
#include "recorder-sim/recording/SyntheticPayload.h"
#include "recorder-sim/recording/SyntheticRecordingOptions.h"

// The recording a simulated recorder serves: video and audio channels with key groups,
// text-in entries and events, in several sections separated by gaps, with one stretch
// where the recorder's clock went backwards. Nothing is stored: every frame, event and
// list is computed from the options and the seed when asked for, so memory stays small
// for recordings of any length and two recordings built from the same options are
// identical.
//
// Layout. Every recorded second holds framesPerSecond ticks; each tick holds one frame per
// video channel, then one per audio channel; a second with a text-in entry ends with that
// text-in frame. A frame's recorder-side position is (section ID, second in the section
// + 1, slot in the second) and its media ID is firstMediaID + its ordinal in recording
// order; both name exactly one frame.
//
// Immutable after construction: every operation is const and safe from several threads.
class SyntheticRecording {
public:
    // Raises std::invalid_argument when the options are out of range.
    explicit SyntheticRecording(const SyntheticRecordingOptions& options);

    const SyntheticRecordingOptions& options() const { return _options; }
    const std::vector<RecordingSegment>& segments() const { return _segments; }
    const SyntheticPayload& payload() const { return _payload; }
    // The channels a playback request may name: the video channels (audio follows the video
    // channel it belongs to), or the audio channels of a recording without video.
    BitMask32 channelMask() const { return _channelMask; }
    uint64_t recordedSeconds() const { return _recordedSeconds; }
    uint32_t slotsPerSecond() const { return _slotsPerSecond; }
    // From the earliest to the latest recorded second.
    Interval recordingInterval() const;

    // ---- what the playback service answers --------------------------------------

    // The dates in [from, to] with recording.
    std::vector<Date> recordingCalendar(const Date& from, const Date& to) const;
    // The dates in [from, to] with events, or with text-in entries when `textIn` is set.
    std::vector<Date> eventCalendar(const Date& from, const Date& to, bool textIn) const;
    // One slice per section that has recording inside the interval (cut to it) on one of
    // the channels. An interval whose ends are unset means the whole recording.
    std::vector<RecordedSlice> timeTable(const Interval& interval, BitMask32 channels) const;
    // The sections with recording inside the interval on one of the channels, in
    // recording order.
    std::vector<uint32_t> sectionList(const Interval& interval, BitMask32 channels) const;
    // The events inside the interval on the channels, in recording order, at most
    // `maxCount` of them starting from `cursor` (0 for the first page).
    ListPage<PlaybackEvent> eventList(const Interval& interval, BitMask32 channels, uint64_t cursor,
                                      size_t maxCount) const;
    // The text-in entries inside the interval on the channels whose text contains one of
    // `texts` (all entries when `texts` is empty), paged like eventList.
    ListPage<TextInListEntry> textInList(const Interval& interval, BitMask32 channels,
                                         const std::vector<std::string>& texts, uint64_t cursor,
                                         size_t maxCount) const;
    std::vector<StorageListEntry> storageList() const;

    // ---- positioning ---------------------------------------------------------------

    // Every cursor follows `channels` and, when `window` has a set end, only produces
    // frames whose time is inside it.
    FrameCursor cursorAtFirst(BitMask32 channels, const Interval& window = Interval()) const;
    // At the first frame of a section; empty for an unknown section.
    std::optional<FrameCursor> cursorAtSection(uint32_t sectionID, BitMask32 channels,
                                               const Interval& window = Interval()) const;
    // At the frame of a position (the first produced frame at or after it); empty when the
    // position names no frame of this recording.
    std::optional<FrameCursor> cursorAtPosition(const MediaPosition& position, BitMask32 channels,
                                                const Interval& window = Interval()) const;
    std::optional<FrameCursor> cursorAtMediaID(uint64_t mediaID, BitMask32 channels,
                                               const Interval& window = Interval()) const;
    // At the first second, in recording order, that is at or after `time` within its
    // section (with the clock set back, a time can be recorded twice: the earlier
    // recording is chosen).
    FrameCursor cursorAtTime(const DateTime& time, BitMask32 channels, const Interval& window = Interval()) const;

    // One frame by its position or media ID, whether or not a cursor would produce it.
    bool frameAt(const MediaPosition& position, SyntheticFrame& out) const;
    bool frameAtMediaID(uint64_t mediaID, SyntheticFrame& out) const;
    // The audio or video frame `frameNumber` of a stream; false past its end.
    bool frameOf(uint16_t mediaType, unsigned channel, uint64_t frameNumber, SyntheticFrame& out) const;

    // ---- verification --------------------------------------------------------------

    // True when an audio or video frame received (and perhaps archived and read back) is
    // a frame of this recording with exactly its payload: the stream comes from the media
    // type and the single channel bit, the frame number from param64.
    bool verifyFrame(const MediaFrame& frame) const;

private:
    friend class FrameCursor;

    struct Location {
        size_t segment = 0;
        uint32_t second = 0;
        uint32_t slot = 0;
    };

    void validate() const;
    void buildSegments();

    // Which frame a slot holds: video or audio channel and tick, or the text-in frame.
    uint16_t slotMediaType(uint32_t slot) const;
    unsigned slotChannel(uint32_t slot) const;
    uint32_t slotTick(uint32_t slot) const;
    uint32_t textInSlot() const { return _slotsPerSecond - 1; }
    // Whether the frame at `location` exists and belongs to one of the channels.
    bool produces(const Location& location, BitMask32 channels) const;
    void makeFrame(const Location& location, SyntheticFrame& out) const;
    bool locate(const MediaPosition& position, Location& out) const;
    bool locateMediaID(uint64_t mediaID, Location& out) const;
    // The segment holding a recorded second of the whole recording.
    size_t segmentOfSecond(uint64_t globalSecond) const;
    Location locationOfSecond(uint64_t globalSecond, uint32_t slot) const;
    MediaPosition positionOf(const Location& location) const;
    uint64_t ordinalOf(const Location& location) const;
    DateTime timeOf(const Location& location) const;
    unsigned videoChannelOfAudio(unsigned audioChannel) const;
    // The channel of a request that selects the audio channel.
    unsigned requestChannelOfAudio(unsigned audioChannel) const;

    // Events and text-in entries: entry k lies in the k-th block of `every` recorded
    // seconds, at a second drawn from the seed.
    uint64_t entrySecond(uint64_t salt, int every, uint64_t k) const;
    // The first entry whose second is at or after `globalSecond`.
    uint64_t firstEntryAtOrAfter(uint64_t salt, int every, uint64_t globalSecond) const;
    bool hasTextIn(uint64_t globalSecond) const;
    unsigned entryChannel(uint64_t salt, uint64_t k) const;
    PlaybackEvent makeEvent(uint64_t k) const;
    TextInListEntry makeTextInEntry(uint64_t k) const;
    void textInText(uint64_t k, char* out, size_t size) const;
    // The recorded-second range [first, last] of a segment inside an interval; false when none.
    bool secondsInside(const RecordingSegment& segment, const Interval& interval, uint64_t& first,
                       uint64_t& last) const;
    std::vector<Date> datesWith(const Date& from, const Date& to, uint64_t salt, int every) const;

    template <typename Entry, typename Make, typename Accept>
    ListPage<Entry> listEntries(uint64_t salt, int every, const Interval& interval, uint64_t cursor,
                                size_t maxCount, Make make, Accept accept) const;

    SyntheticRecordingOptions _options;
    SyntheticPayload _payload;
    std::vector<RecordingSegment> _segments;
    BitMask32 _channelMask;
    uint64_t _recordedSeconds = 0;
    uint32_t _slotsPerSecond = 0;
};
