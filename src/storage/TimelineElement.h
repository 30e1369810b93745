#pragma once

#include <cstdint>

#include "base/DateTime.h"
#include "storage/IRecordable.h"
#include "storage/PagePosition.h"

// An entry of the timeline: 64 bytes per playable frame, pointing at the frame's element
// (in the media track, or the text-in track for text-in) and at the previous timeline
// entry of the same media type and channel mask. Only video marks the page flags.
class TimelineElement : public IRecordable {
public:
    static constexpr int RecordSize = 64;

    void readFrom(Buffer& buffer, int position) override;
    using IRecordable::readFrom;
    void writeTo(Buffer& buffer, int position) const override;
    using IRecordable::writeTo;
    int headerSize() const override { return RecordSize; }
    BitMask32 channelMask() const override { return _channelMask; }
    uint64_t mediaID() const override { return _mediaID; }
    bool countsInPageMask() const override { return _mediaType == 0; }

    uint16_t mediaType() const { return _mediaType; }
    void setMediaType(uint16_t v) { _mediaType = v; }
    uint16_t syncIndex() const { return _syncIndex; }
    void setSyncIndex(uint16_t v) { _syncIndex = v; }
    uint32_t syncKeyID() const { return _syncKeyID; }
    void setSyncKeyID(uint32_t v) { _syncKeyID = v; }
    void setChannelMask(BitMask32 v) { _channelMask = v; }
    BitMask32 linkedChannelMask() const { return _linkedChannelMask; }
    void setLinkedChannelMask(BitMask32 v) { _linkedChannelMask = v; }
    const DateTime& time() const { return _time; }
    void setTime(const DateTime& v) { _time = v; }
    void setMediaID(uint64_t v) { _mediaID = v; }
    const PagePosition& mediaPosition() const { return _mediaPosition; }
    void setMediaPosition(const PagePosition& v) { _mediaPosition = v; }
    const PagePosition& previousPosition() const { return _previousPosition; }
    void setPreviousPosition(const PagePosition& v) { _previousPosition = v; }
    uint32_t mediaSize() const { return _mediaSize; }
    void setMediaSize(uint32_t v) { _mediaSize = v; }

private:
    uint16_t _mediaType = 0;
    uint16_t _syncIndex = 0;
    uint32_t _syncKeyID = 0;
    BitMask32 _channelMask;
    BitMask32 _linkedChannelMask;
    DateTime _time;
    uint64_t _mediaID = 0;
    PagePosition _mediaPosition;
    PagePosition _previousPosition;
    uint32_t _mediaSize = 0;
};
