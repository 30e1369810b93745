#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/DateTime.h"
#include "network/protocol/playback/MediaPosition.h"

// One entry of a recorder's event list: an event (motion, alarm input, ...) with the
// frame it belongs to, named by the recorder's media ID and position. A plain value.
struct PlaybackEvent {
    uint8_t eventType = 0;  // one bit per kind of event
    uint8_t eventParam = 0;
    BitMask32 channels;
    DateTime time;
    uint64_t mediaID = 0;
    MediaPosition position;

    friend bool operator==(const PlaybackEvent&, const PlaybackEvent&) = default;
};
