#pragma once

#include <cstdint>

#include "base/DateTime.h"
#include "storage/IRecordable.h"
#include "storage/PagePosition.h"

// A record of the recording table: 64 bytes saying from which timeline entry (time,
// position, media ID) a set of channels was recorded in a section. A stop record has no
// channels and carries the time of the last entry before a pause. Each record links to
// the previous record of the table's back chain.
class RecordingTableElement : public IRecordable {
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

    bool isStop() const { return _channelMask.value() == 0; }
    bool isEmpty() const { return !_time.isValid(); }
    const DateTime& time() const { return _time; }
    void setTime(const DateTime& v) { _time = v; }
    void setChannelMask(BitMask32 v) { _channelMask = v; }
    uint32_t sectionID() const { return _sectionID; }
    void setSectionID(uint32_t v) { _sectionID = v; }
    const PagePosition& position() const { return _position; }
    void setPosition(const PagePosition& v) { _position = v; }
    void setMediaID(uint64_t v) { _mediaID = v; }
    const PagePosition& prevPosition() const { return _prevPosition; }
    void setPrevPosition(const PagePosition& v) { _prevPosition = v; }
    BitMask32 prevMask() const { return _prevMask; }
    void setPrevMask(BitMask32 v) { _prevMask = v; }

private:
    DateTime _time;
    BitMask32 _channelMask;
    uint32_t _sectionID = 0;
    PagePosition _position;
    uint64_t _mediaID = 0;
    PagePosition _prevPosition;
    BitMask32 _prevMask;
};
