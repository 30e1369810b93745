#include "recorder-sim/recording/SyntheticRecording.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>

#include "recorder-sim/recording/SyntheticHash.h"

namespace {

// Salts that keep the seed's draws for different purposes apart.
constexpr uint64_t EventSalt = 0xE7E47;
constexpr uint64_t TextInSalt = 0x7E87;
constexpr int64_t SecondsPerDay = 86400;
constexpr uint32_t ExtraDataLength = 32;  // carried by key frames as the header's extra data
const BitMask32 AllChannels(0xFFFFFFFFu);

void require(bool condition, const char* what) {
    if (!condition) throw std::invalid_argument(what);
}

int64_t floorDay(int64_t epochSeconds) {
    return epochSeconds >= 0 ? epochSeconds / SecondsPerDay : -((-epochSeconds + SecondsPerDay - 1) / SecondsPerDay);
}

bool inDateRange(const Date& date, const Date& from, const Date& to) {
    return (!from.isValid() || date >= from) && (!to.isValid() || date <= to);
}

}  // namespace

SyntheticRecording::SyntheticRecording(const SyntheticRecordingOptions& options)
    : _options(options),
      _payload(options.seed, {options.minFrameSize, options.maxFrameSize, options.minKeyFrameSize,
                              options.maxKeyFrameSize, options.audioFrameSize}) {
    validate();
    // Requests name video channels, whose audio follows them; a recording of audio alone
    // is asked for by its audio channels.
    int requestable = _options.videoChannels > 0 ? _options.videoChannels : _options.audioChannels;
    _channelMask = BitMask32(static_cast<uint32_t>((uint64_t{1} << requestable) - 1));
    _slotsPerSecond = static_cast<uint32_t>(_options.framesPerSecond * (_options.videoChannels + _options.audioChannels) + 1);
    buildSegments();
}

void SyntheticRecording::validate() const {
    const SyntheticRecordingOptions& o = _options;
    require(o.videoChannels >= 0 && o.videoChannels <= 16, "videoChannels must be 0 to 16");
    require(o.audioChannels >= 0 && o.audioChannels <= 16, "audioChannels must be 0 to 16");
    require(o.videoChannels + o.audioChannels >= 1, "a recording needs a video or an audio channel");
    require(o.videoChannels >= 1 || (o.eventEverySeconds == 0 && o.textInEverySeconds == 0),
            "events and text-in belong to video channels");
    require(o.framesPerSecond >= 1 && o.framesPerSecond <= 60, "framesPerSecond must be 1 to 60");
    require(o.keyFrameInterval >= 1 && o.keyFrameInterval <= 65535, "keyFrameInterval must be 1 to 65535");
    require(o.minFrameSize >= SyntheticPayload::StampSize, "minFrameSize must be at least 16");
    require(o.maxFrameSize >= o.minFrameSize && o.maxFrameSize <= 1000000,
            "maxFrameSize must be at least minFrameSize and at most 1000000");
    require(o.minKeyFrameSize >= SyntheticPayload::StampSize, "minKeyFrameSize must be at least 16");
    require(o.maxKeyFrameSize >= o.minKeyFrameSize && o.maxKeyFrameSize <= 1000000,
            "maxKeyFrameSize must be at least minKeyFrameSize and at most 1000000");
    require(o.audioFrameSize >= SyntheticPayload::StampSize && o.audioFrameSize <= 1000000,
            "audioFrameSize must be 16 to 1000000");
    require(o.start.isValid(), "start must be set");
    require(o.sliceCount >= 1 && o.sliceSeconds >= 1 && o.gapSeconds >= 0, "slices must be at least one second long");
    require(o.clockBackSlice == -1 || (o.clockBackSlice >= 0 && o.clockBackSlice < o.sliceCount),
            "clockBackSlice must be -1 or a slice number");
    require(o.clockBackSlice == -1 || (o.clockBackAfterSeconds >= 1 && o.clockBackAfterSeconds < o.sliceSeconds &&
                                       o.clockBackSeconds >= 1),
            "the clock must go back inside its slice, by at least one second");
    require(o.eventEverySeconds >= 0 && o.textInEverySeconds >= 0, "entry spacing must not be negative");
    require(o.firstSectionID >= 1 && o.firstMediaID >= 1, "first section and media IDs start at 1");
    require(uint64_t{o.firstSectionID} + 2 * uint64_t(o.sliceCount) <= UINT32_MAX, "too many sections");
}

void SyntheticRecording::buildSegments() {
    int64_t clock = _options.start.toEpochSeconds();
    uint32_t section = _options.firstSectionID;
    auto add = [&](uint32_t seconds) {
        _segments.push_back({section++, clock, seconds, _recordedSeconds});
        _recordedSeconds += seconds;
        clock += seconds;
    };
    for (int slice = 0; slice < _options.sliceCount; ++slice) {
        if (slice == _options.clockBackSlice) {
            add(static_cast<uint32_t>(_options.clockBackAfterSeconds));
            clock -= _options.clockBackSeconds;
            add(static_cast<uint32_t>(_options.sliceSeconds - _options.clockBackAfterSeconds));
        } else {
            add(static_cast<uint32_t>(_options.sliceSeconds));
        }
        clock += _options.gapSeconds;
    }
}

Interval SyntheticRecording::recordingInterval() const {
    int64_t first = _segments.front().startEpoch;
    int64_t last = _segments.front().endEpoch();
    for (const RecordingSegment& segment : _segments) {
        first = std::min(first, segment.startEpoch);
        last = std::max(last, segment.endEpoch());
    }
    return Interval(DateTime::fromEpochSeconds(first), DateTime::fromEpochSeconds(last));
}

// ---- layout -------------------------------------------------------------------------

uint16_t SyntheticRecording::slotMediaType(uint32_t slot) const {
    if (slot == textInSlot()) return PlaybackLayout::MediaTypeTextIn;
    uint32_t perTick = static_cast<uint32_t>(_options.videoChannels + _options.audioChannels);
    return slot % perTick < static_cast<uint32_t>(_options.videoChannels) ? PlaybackLayout::MediaTypeVideo
                                                                          : PlaybackLayout::MediaTypeAudio;
}

unsigned SyntheticRecording::slotChannel(uint32_t slot) const {
    uint32_t perTick = static_cast<uint32_t>(_options.videoChannels + _options.audioChannels);
    uint32_t inTick = slot % perTick;
    return inTick < static_cast<uint32_t>(_options.videoChannels) ? inTick : inTick - _options.videoChannels;
}

uint32_t SyntheticRecording::slotTick(uint32_t slot) const {
    return slot / static_cast<uint32_t>(_options.videoChannels + _options.audioChannels);
}

unsigned SyntheticRecording::videoChannelOfAudio(unsigned audioChannel) const {
    return audioChannel % static_cast<unsigned>(_options.videoChannels);
}

unsigned SyntheticRecording::requestChannelOfAudio(unsigned audioChannel) const {
    return _options.videoChannels > 0 ? videoChannelOfAudio(audioChannel) : audioChannel;
}

bool SyntheticRecording::produces(const Location& location, BitMask32 channels) const {
    switch (slotMediaType(location.slot)) {
        case PlaybackLayout::MediaTypeVideo:
            return channels.isSet(static_cast<int>(slotChannel(location.slot)));
        case PlaybackLayout::MediaTypeAudio:
            return channels.isSet(static_cast<int>(requestChannelOfAudio(slotChannel(location.slot))));
        default: {
            uint64_t second = _segments[location.segment].firstSecond + location.second;
            if (!hasTextIn(second)) return false;
            uint64_t k = second / static_cast<uint64_t>(_options.textInEverySeconds);
            return channels.isSet(static_cast<int>(entryChannel(TextInSalt, k)));
        }
    }
}

MediaPosition SyntheticRecording::positionOf(const Location& location) const {
    return {_segments[location.segment].sectionID, location.second + 1, location.slot};
}

uint64_t SyntheticRecording::ordinalOf(const Location& location) const {
    return (_segments[location.segment].firstSecond + location.second) * _slotsPerSecond + location.slot;
}

DateTime SyntheticRecording::timeOf(const Location& location) const {
    return DateTime::fromEpochSeconds(_segments[location.segment].startEpoch + location.second);
}

size_t SyntheticRecording::segmentOfSecond(uint64_t globalSecond) const {
    auto after = std::upper_bound(_segments.begin(), _segments.end(), globalSecond,
                                  [](uint64_t s, const RecordingSegment& segment) { return s < segment.firstSecond; });
    return static_cast<size_t>(after - _segments.begin()) - 1;
}

SyntheticRecording::Location SyntheticRecording::locationOfSecond(uint64_t globalSecond, uint32_t slot) const {
    size_t segment = segmentOfSecond(globalSecond);
    return {segment, static_cast<uint32_t>(globalSecond - _segments[segment].firstSecond), slot};
}

bool SyntheticRecording::locate(const MediaPosition& position, Location& out) const {
    if (position.positionA < _options.firstSectionID) return false;
    uint64_t segment = position.positionA - _options.firstSectionID;
    if (segment >= _segments.size()) return false;
    if (position.positionB == 0 || position.positionB > _segments[segment].seconds) return false;
    if (position.positionC >= _slotsPerSecond) return false;
    out = {static_cast<size_t>(segment), position.positionB - 1, position.positionC};
    return true;
}

bool SyntheticRecording::locateMediaID(uint64_t mediaID, Location& out) const {
    if (mediaID < _options.firstMediaID) return false;
    uint64_t ordinal = mediaID - _options.firstMediaID;
    uint64_t second = ordinal / _slotsPerSecond;
    if (second >= _recordedSeconds) return false;
    out = locationOfSecond(second, static_cast<uint32_t>(ordinal % _slotsPerSecond));
    return true;
}

void SyntheticRecording::makeFrame(const Location& location, SyntheticFrame& out) const {
    const RecordingSegment& segment = _segments[location.segment];
    const uint64_t fps = static_cast<uint64_t>(_options.framesPerSecond);
    const uint64_t keyInterval = static_cast<uint64_t>(_options.keyFrameInterval);
    const uint64_t second = segment.firstSecond + location.second;
    // Key groups restart with every section; a group is named after its key frame.
    auto keyGroup = [&](uint64_t tick, uint32_t& keyID, uint16_t& index) {
        uint64_t inSection = location.second * fps + tick;
        index = static_cast<uint16_t>(inSection % keyInterval);
        keyID = static_cast<uint32_t>(segment.firstSecond * fps + inSection - index + 1);
    };

    out.mediaType = slotMediaType(location.slot);
    out.sectionID = segment.sectionID;
    out.ordinal = ordinalOf(location);
    out.position = positionOf(location);
    uint64_t mediaID = _options.firstMediaID + out.ordinal;
    DateTime time = timeOf(location);

    if (out.isTextIn()) {
        uint64_t k = second / static_cast<uint64_t>(_options.textInEverySeconds);
        unsigned channel = entryChannel(TextInSalt, k);
        out.channel = channel;
        out.frameNumber = k;
        out.dependent = false;
        out.header = MediaFrame{};
        out.payload.clear();
        TextInFrame& t = out.textIn;
        t = TextInFrame{};
        t.channelMask = BitMask32(1u << channel);
        t.linkedChannelMask = t.channelMask;
        t.mediaID = mediaID;
        t.time = time;
        keyGroup(fps - 1, t.syncKeyID, t.syncIndex);
        t.sectionID = segment.sectionID;
        t.flags = static_cast<uint32_t>(SyntheticHash::of(_options.seed, TextInSalt, k, 3) & 3);
        char text[PlaybackLayout::TextInTextSize];
        textInText(k, text, sizeof text);
        t.setText(text);
        return;
    }

    uint64_t tick = slotTick(location.slot);
    unsigned channel = slotChannel(location.slot);
    uint64_t frameNumber = second * fps + tick;
    out.channel = channel;
    out.frameNumber = frameNumber;
    out.textIn = TextInFrame{};
    MediaFrame& h = out.header;
    h = MediaFrame{};
    h.mediaType = out.mediaType;
    h.channelMask = BitMask32(1u << channel);
    h.mediaID = mediaID;
    h.time = time;
    h.param32 = _options.framesPerSecond;
    h.param64 = frameNumber;
    if (out.mediaType == PlaybackLayout::MediaTypeVideo) {
        keyGroup(tick, h.syncKeyID, h.syncIndex);
    } else if (_options.videoChannels > 0) {
        h.linkedChannelMask = BitMask32(1u << videoChannelOfAudio(channel));
    }  // audio of a recording without video belongs to no video channel
    out.dependent = out.mediaType == PlaybackLayout::MediaTypeVideo && h.syncIndex != 0;
    _payload.fill(out.mediaType, channel, frameNumber, !out.dependent, out.payload);
    uint32_t size = static_cast<uint32_t>(out.payload.size());
    h.extraLength = out.mediaType == PlaybackLayout::MediaTypeVideo && h.syncIndex == 0 && size >= 2 * ExtraDataLength
                        ? ExtraDataLength
                        : 0;
    h.dataLength = size - h.extraLength;
}

// ---- events and text-in entries ---------------------------------------------------

uint64_t SyntheticRecording::entrySecond(uint64_t salt, int every, uint64_t k) const {
    uint64_t span = static_cast<uint64_t>(every);
    return k * span + SyntheticHash::of(_options.seed, salt, k) % span;
}

uint64_t SyntheticRecording::firstEntryAtOrAfter(uint64_t salt, int every, uint64_t globalSecond) const {
    uint64_t k = globalSecond / static_cast<uint64_t>(every);
    return entrySecond(salt, every, k) >= globalSecond ? k : k + 1;
}

bool SyntheticRecording::hasTextIn(uint64_t globalSecond) const {
    int every = _options.textInEverySeconds;
    if (every == 0) return false;
    return entrySecond(TextInSalt, every, globalSecond / static_cast<uint64_t>(every)) == globalSecond;
}

unsigned SyntheticRecording::entryChannel(uint64_t salt, uint64_t k) const {
    return static_cast<unsigned>(SyntheticHash::of(_options.seed, salt, k, 1) %
                                 static_cast<uint64_t>(_options.videoChannels));
}

PlaybackEvent SyntheticRecording::makeEvent(uint64_t k) const {
    // An event belongs to the first frame of its channel in its second.
    unsigned channel = entryChannel(EventSalt, k);
    Location location = locationOfSecond(entrySecond(EventSalt, _options.eventEverySeconds, k), channel);
    uint64_t draw = SyntheticHash::of(_options.seed, EventSalt, k, 2);
    PlaybackEvent event;
    event.eventType = static_cast<uint8_t>(1u << (draw % 6));
    event.eventParam = static_cast<uint8_t>(draw >> 8);
    event.channels = BitMask32(1u << channel);
    event.time = timeOf(location);
    event.mediaID = _options.firstMediaID + ordinalOf(location);
    event.position = positionOf(location);
    return event;
}

void SyntheticRecording::textInText(uint64_t k, char* out, size_t size) const {
    uint64_t draw = SyntheticHash::of(_options.seed, TextInSalt, k, 4);
    unsigned amount = static_cast<unsigned>(draw % 100000);
    std::snprintf(out, size, "POS%02u TXN %06llu ITEM %03u QTY %u AMOUNT %u.%02u",
                  static_cast<unsigned>((draw >> 20) % 8 + 1), static_cast<unsigned long long>(k),
                  static_cast<unsigned>((draw >> 24) % 1000), static_cast<unsigned>((draw >> 34) % 9 + 1),
                  amount / 100, amount % 100);
}

TextInListEntry SyntheticRecording::makeTextInEntry(uint64_t k) const {
    Location location = locationOfSecond(entrySecond(TextInSalt, _options.textInEverySeconds, k), textInSlot());
    SyntheticFrame frame;
    makeFrame(location, frame);
    TextInListEntry entry;
    entry.mediaID = frame.textIn.mediaID;
    entry.param1 = frame.textIn.sectionID;
    entry.time = frame.textIn.time;
    entry.param2 = frame.textIn.syncKeyID;
    entry.param3 = frame.textIn.syncIndex;
    entry.channels = frame.textIn.channelMask;
    entry.setText(frame.textIn.text);
    return entry;
}

bool SyntheticRecording::secondsInside(const RecordingSegment& segment, const Interval& interval, uint64_t& first,
                                       uint64_t& last) const {
    int64_t from = segment.startEpoch;
    int64_t to = segment.endEpoch();
    if (interval.from().isValid()) from = std::max(from, interval.from().toEpochSeconds());
    if (interval.to().isValid()) to = std::min(to, interval.to().toEpochSeconds());
    if (from > to) return false;
    first = static_cast<uint64_t>(from - segment.startEpoch);
    last = static_cast<uint64_t>(to - segment.startEpoch);
    return true;
}

template <typename Entry, typename Make, typename Accept>
ListPage<Entry> SyntheticRecording::listEntries(uint64_t salt, int every, const Interval& interval, uint64_t cursor,
                                                size_t maxCount, Make make, Accept accept) const {
    ListPage<Entry> page;
    if (every == 0) return page;
    for (const RecordingSegment& segment : _segments) {
        uint64_t first = 0;
        uint64_t last = 0;
        if (!secondsInside(segment, interval, first, last)) continue;
        uint64_t lastSecond = segment.firstSecond + last;
        for (uint64_t k = std::max(cursor, firstEntryAtOrAfter(salt, every, segment.firstSecond + first));; ++k) {
            uint64_t second = entrySecond(salt, every, k);
            if (second > lastSecond || second >= _recordedSeconds) break;
            if (!accept(k)) continue;
            if (maxCount != 0 && page.entries.size() == maxCount) {
                page.hasMore = true;
                page.nextCursor = k;
                return page;
            }
            page.entries.push_back(make(k));
        }
    }
    return page;
}

ListPage<PlaybackEvent> SyntheticRecording::eventList(const Interval& interval, BitMask32 channels, uint64_t cursor,
                                                      size_t maxCount) const {
    return listEntries<PlaybackEvent>(
        EventSalt, _options.eventEverySeconds, interval, cursor, maxCount, [&](uint64_t k) { return makeEvent(k); },
        [&](uint64_t k) { return channels.isSet(static_cast<int>(entryChannel(EventSalt, k))); });
}

ListPage<TextInListEntry> SyntheticRecording::textInList(const Interval& interval, BitMask32 channels,
                                                         const std::vector<std::string>& texts, uint64_t cursor,
                                                         size_t maxCount) const {
    return listEntries<TextInListEntry>(
        TextInSalt, _options.textInEverySeconds, interval, cursor, maxCount,
        [&](uint64_t k) { return makeTextInEntry(k); },
        [&](uint64_t k) {
            if (!channels.isSet(static_cast<int>(entryChannel(TextInSalt, k)))) return false;
            if (texts.empty()) return true;
            char text[PlaybackLayout::TextInTextSize];
            textInText(k, text, sizeof text);
            return std::any_of(texts.begin(), texts.end(),
                               [&](const std::string& wanted) { return std::strstr(text, wanted.c_str()) != nullptr; });
        });
}

// ---- lists and calendars ----------------------------------------------------------

std::vector<RecordedSlice> SyntheticRecording::timeTable(const Interval& interval, BitMask32 channels) const {
    std::vector<RecordedSlice> slices;
    BitMask32 recorded(channels.value() & _channelMask.value());
    if (recorded.value() == 0) return slices;
    for (const RecordingSegment& segment : _segments) {
        uint64_t first = 0;
        uint64_t last = 0;
        if (!secondsInside(segment, interval, first, last)) continue;
        slices.push_back({segment.sectionID,
                          Interval(DateTime::fromEpochSeconds(segment.startEpoch + static_cast<int64_t>(first)),
                                   DateTime::fromEpochSeconds(segment.startEpoch + static_cast<int64_t>(last))),
                          recorded});
    }
    return slices;
}

std::vector<uint32_t> SyntheticRecording::sectionList(const Interval& interval, BitMask32 channels) const {
    std::vector<uint32_t> sections;
    for (const RecordedSlice& slice : timeTable(interval, channels)) sections.push_back(slice.id);
    return sections;
}

std::vector<Date> SyntheticRecording::recordingCalendar(const Date& from, const Date& to) const {
    std::set<Date> dates;
    for (const RecordingSegment& segment : _segments) {
        for (int64_t day = floorDay(segment.startEpoch); day <= floorDay(segment.endEpoch()); ++day) {
            Date date = DateTime::fromEpochSeconds(day * SecondsPerDay).date();
            if (inDateRange(date, from, to)) dates.insert(date);
        }
    }
    return {dates.begin(), dates.end()};
}

std::vector<Date> SyntheticRecording::datesWith(const Date& from, const Date& to, uint64_t salt, int every) const {
    std::set<Date> dates;
    if (every == 0) return {};
    for (const RecordingSegment& segment : _segments) {
        for (int64_t day = floorDay(segment.startEpoch); day <= floorDay(segment.endEpoch()); ++day) {
            Date date = DateTime::fromEpochSeconds(day * SecondsPerDay).date();
            if (!inDateRange(date, from, to)) continue;
            int64_t dayFrom = std::max(segment.startEpoch, day * SecondsPerDay);
            int64_t dayTo = std::min(segment.endEpoch(), day * SecondsPerDay + SecondsPerDay - 1);
            uint64_t firstSecond = segment.firstSecond + static_cast<uint64_t>(dayFrom - segment.startEpoch);
            uint64_t lastSecond = segment.firstSecond + static_cast<uint64_t>(dayTo - segment.startEpoch);
            uint64_t second = entrySecond(salt, every, firstEntryAtOrAfter(salt, every, firstSecond));
            if (second <= lastSecond && second < _recordedSeconds) dates.insert(date);
        }
    }
    return {dates.begin(), dates.end()};
}

std::vector<Date> SyntheticRecording::eventCalendar(const Date& from, const Date& to, bool textIn) const {
    return textIn ? datesWith(from, to, TextInSalt, _options.textInEverySeconds)
                  : datesWith(from, to, EventSalt, _options.eventEverySeconds);
}

std::vector<StorageListEntry> SyntheticRecording::storageList() const {
    std::vector<StorageListEntry> storages;
    for (size_t i = 0; i < _options.storages.size(); ++i) {
        storages.push_back({static_cast<uint32_t>(i + 1), _options.storages[i]});
    }
    return storages;
}

// ---- positioning -------------------------------------------------------------------

FrameCursor SyntheticRecording::cursorAtFirst(BitMask32 channels, const Interval& window) const {
    return FrameCursor(*this, channels, window, 0, 0, 0);
}

std::optional<FrameCursor> SyntheticRecording::cursorAtSection(uint32_t sectionID, BitMask32 channels,
                                                               const Interval& window) const {
    Location location;
    if (!locate({sectionID, 1, 0}, location)) return std::nullopt;
    return FrameCursor(*this, channels, window, location.segment, 0, 0);
}

std::optional<FrameCursor> SyntheticRecording::cursorAtPosition(const MediaPosition& position, BitMask32 channels,
                                                                const Interval& window) const {
    Location location;
    if (!locate(position, location)) return std::nullopt;
    return FrameCursor(*this, channels, window, location.segment, location.second, location.slot);
}

std::optional<FrameCursor> SyntheticRecording::cursorAtMediaID(uint64_t mediaID, BitMask32 channels,
                                                               const Interval& window) const {
    Location location;
    if (!locateMediaID(mediaID, location)) return std::nullopt;
    return FrameCursor(*this, channels, window, location.segment, location.second, location.slot);
}

FrameCursor SyntheticRecording::cursorAtTime(const DateTime& time, BitMask32 channels, const Interval& window) const {
    if (!time.isValid()) return cursorAtFirst(channels, window);
    int64_t at = time.toEpochSeconds();
    for (size_t i = 0; i < _segments.size(); ++i) {
        const RecordingSegment& segment = _segments[i];
        if (at <= segment.endEpoch()) {
            uint32_t second = at > segment.startEpoch ? static_cast<uint32_t>(at - segment.startEpoch) : 0;
            return FrameCursor(*this, channels, window, i, second, 0);
        }
    }
    return FrameCursor(*this, channels, window, _segments.size(), 0, 0);
}

bool SyntheticRecording::frameAt(const MediaPosition& position, SyntheticFrame& out) const {
    Location location;
    if (!locate(position, location) || !produces(location, AllChannels)) return false;
    makeFrame(location, out);
    return true;
}

bool SyntheticRecording::frameAtMediaID(uint64_t mediaID, SyntheticFrame& out) const {
    Location location;
    if (!locateMediaID(mediaID, location) || !produces(location, AllChannels)) return false;
    makeFrame(location, out);
    return true;
}

bool SyntheticRecording::frameOf(uint16_t mediaType, unsigned channel, uint64_t frameNumber,
                                 SyntheticFrame& out) const {
    uint32_t slotInTick = 0;
    if (mediaType == PlaybackLayout::MediaTypeVideo && channel < static_cast<unsigned>(_options.videoChannels)) {
        slotInTick = channel;
    } else if (mediaType == PlaybackLayout::MediaTypeAudio && channel < static_cast<unsigned>(_options.audioChannels)) {
        slotInTick = static_cast<uint32_t>(_options.videoChannels) + channel;
    } else {
        return false;
    }
    uint64_t fps = static_cast<uint64_t>(_options.framesPerSecond);
    uint64_t second = frameNumber / fps;
    if (second >= _recordedSeconds) return false;
    uint32_t perTick = static_cast<uint32_t>(_options.videoChannels + _options.audioChannels);
    makeFrame(locationOfSecond(second, static_cast<uint32_t>(frameNumber % fps) * perTick + slotInTick), out);
    return true;
}

bool SyntheticRecording::verifyFrame(const MediaFrame& frame) const {
    uint32_t mask = frame.channelMask.value();
    if (std::popcount(mask) != 1) return false;
    unsigned channel = static_cast<unsigned>(std::countr_zero(mask));
    if (frame.mediaType == PlaybackLayout::MediaTypeVideo) {
        if (channel >= static_cast<unsigned>(_options.videoChannels)) return false;
    } else if (frame.mediaType == PlaybackLayout::MediaTypeAudio) {
        if (channel >= static_cast<unsigned>(_options.audioChannels)) return false;
    } else {
        return false;
    }
    if (frame.param64 / static_cast<uint64_t>(_options.framesPerSecond) >= _recordedSeconds) return false;
    bool keyFrame = frame.mediaType == PlaybackLayout::MediaTypeVideo && frame.syncIndex == 0;
    return _payload.verify(frame.mediaType, channel, frame.param64, keyFrame, frame.data, frame.payloadSize());
}
