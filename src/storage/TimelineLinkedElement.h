#pragma once

#include <cstdint>

#include "base/DateTime.h"
#include "storage/IRecordable.h"

// What media and text-in elements share: the frame's media type (0 video, 1 audio,
// 3 text-in), its key group, channels, time and media ID.
class TimelineLinkedElement : public IRecordable {
public:
    static constexpr uint16_t Video = 0;
    static constexpr uint16_t Audio = 1;
    static constexpr uint16_t TextIn = 3;

    uint16_t mediaType() const { return _mediaType; }
    void setMediaType(uint16_t v) { _mediaType = v; }
    uint16_t syncIndex() const { return _syncIndex; }
    void setSyncIndex(uint16_t v) { _syncIndex = v; }
    // A key (sync) frame begins its key group.
    bool isKeyFrame() const { return _syncIndex == 0; }
    uint32_t syncKeyID() const { return _syncKeyID; }
    void setSyncKeyID(uint32_t v) { _syncKeyID = v; }
    BitMask32 channelMask() const override { return _channelMask; }
    void setChannelMask(BitMask32 v) { _channelMask = v; }
    BitMask32 linkedChannelMask() const { return _linkedChannelMask; }
    void setLinkedChannelMask(BitMask32 v) { _linkedChannelMask = v; }
    const DateTime& time() const { return _time; }
    void setTime(const DateTime& v) { _time = v; }
    uint64_t mediaID() const override { return _mediaID; }
    void setMediaID(uint64_t v) { _mediaID = v; }

protected:
    uint16_t _mediaType = 0;
    uint16_t _syncIndex = 0;
    uint32_t _syncKeyID = 0;
    BitMask32 _channelMask;
    BitMask32 _linkedChannelMask;
    DateTime _time;
    uint64_t _mediaID = 0;
};
