#pragma once

#include <cstdint>

#include "base/DateTime.h"
#include "storage/IRecordable.h"
#include "storage/PagePosition.h"

// An entry of the event track: 64 bytes naming the event, the media element it belongs
// to and that element's timeline entry.
class EventElement : public IRecordable {
public:
    static constexpr int RecordSize = 64;

    void readFrom(Buffer& buffer, int position) override;
    using IRecordable::readFrom;
    void writeTo(Buffer& buffer, int position) const override;
    using IRecordable::writeTo;
    int headerSize() const override { return RecordSize; }
    BitMask32 channelMask() const override { return _channelMask; }
    uint64_t mediaID() const override { return _mediaID; }
    bool countsInPageMask() const override { return true; }

    uint8_t eventType() const { return _eventType; }
    void setEventType(uint8_t v) { _eventType = v; }
    uint8_t eventParam() const { return _eventParam; }
    void setEventParam(uint8_t v) { _eventParam = v; }
    void setChannelMask(BitMask32 v) { _channelMask = v; }
    void setMediaID(uint64_t v) { _mediaID = v; }
    const DateTime& time() const { return _time; }
    void setTime(const DateTime& v) { _time = v; }
    const PagePosition& timelinePosition() const { return _timelinePosition; }
    void setTimelinePosition(const PagePosition& v) { _timelinePosition = v; }
    uint32_t sectionID() const { return _sectionID; }
    void setSectionID(uint32_t v) { _sectionID = v; }

private:
    uint8_t _eventType = 0;
    uint8_t _eventParam = 0;
    BitMask32 _channelMask;
    uint64_t _mediaID = 0;
    DateTime _time;
    PagePosition _timelinePosition;
    uint32_t _sectionID = 0;
};
