#pragma once

#include <cstdint>

#include "base/DateTime.h"
#include "network/protocol/playback/MediaPosition.h"

struct MediaFrame;
struct TextInFrame;

// A frame as the recorder names it: its time, media type, channel mask, key group and
// index in it, and its recorder-side position. Two deliveries with the same identity are
// the same recorded frame sent twice (a playback that starts at a second, a position or a
// section the archive already holds). A plain value.
struct ArchivedFrame {
    DateTime time;
    uint16_t mediaType = 0;
    uint32_t channelMask = 0;
    uint32_t syncKeyID = 0;
    uint16_t syncIndex = 0;
    MediaPosition position;

    static ArchivedFrame of(const MediaFrame& frame, const MediaPosition& position);
    static ArchivedFrame of(const TextInFrame& frame, const MediaPosition& position);

    // The plain numbers first: frames looked up among those of one second share the time.
    bool sameAs(const ArchivedFrame& other) const {
        return syncIndex == other.syncIndex && channelMask == other.channelMask && syncKeyID == other.syncKeyID &&
               mediaType == other.mediaType && position == other.position && time.equals(other.time);
    }
};
