#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/DateTime.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlayRequest.h"

// What a playback client is asked to do with playback: play (or position) with a play
// request, or jump to a position, a media ID, or near a time. Only the fields of its kind
// are meaningful. A plain value.
struct PlaybackClientRequest {
    enum Kind {
        Play = 0,
        JumpToPosition = 1,
        JumpToMediaID = 2,
        JumpNearPosition = 3,
    };

    int kind = Play;
    PlayRequest play;
    MediaPosition position;
    uint64_t mediaID = 0;
    unsigned value = 0;  // jump to media ID: passed to the recorder
    DateTime time;       // jump near: the time to find
    int nearValue = 0;   // jump near: passed to the recorder
    BitMask32 channels;  // jumps to a media ID or near a time: the channels to follow

    static PlaybackClientRequest playing(const PlayRequest& request) {
        PlaybackClientRequest r;
        r.kind = Play;
        r.play = request;
        return r;
    }
    static PlaybackClientRequest jumpToPosition(const MediaPosition& position, uint64_t mediaID) {
        PlaybackClientRequest r;
        r.kind = JumpToPosition;
        r.position = position;
        r.mediaID = mediaID;
        return r;
    }
    static PlaybackClientRequest jumpToMediaID(unsigned value, uint64_t mediaID, BitMask32 channels) {
        PlaybackClientRequest r;
        r.kind = JumpToMediaID;
        r.value = value;
        r.mediaID = mediaID;
        r.channels = channels;
        return r;
    }
    static PlaybackClientRequest jumpNear(const MediaPosition& position, const DateTime& time, int value,
                                          BitMask32 channels) {
        PlaybackClientRequest r;
        r.kind = JumpNearPosition;
        r.position = position;
        r.time = time;
        r.nearValue = value;
        r.channels = channels;
        return r;
    }

    // The mode the listener is told when the request starts playing: a play request's
    // own mode, 3 for every jump.
    int startedMode() const { return kind == Play ? static_cast<int>(play.mode) : 3; }
    // The same request following other channels.
    PlaybackClientRequest withChannels(BitMask32 mask) const {
        PlaybackClientRequest r = *this;
        if (kind == Play) {
            r.play.channels = mask;
        } else {
            r.channels = mask;
        }
        return r;
    }
};
