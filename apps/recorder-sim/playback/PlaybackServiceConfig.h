#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recorder-sim/recording/SyntheticRecordingOptions.h"

// How the simulated recorder's playback service behaves: the recording it serves, how it
// pages lists, how fast it streams, and which fault it plays in the middle of a stream.
// Fixed for the service's life.
struct PlaybackServiceConfig {
    SyntheticRecordingOptions recording;

    // Entries per event or text-in list response; the rest follows on continue requests.
    int listPageSize = 50;
    // Stream at recording speed instead of as fast as the connection takes frames.
    bool realTime = false;
    // Bytes of frames generated at a time while the connection has room for them.
    size_t batchBytes = 65536;

    // After this many frames of one connection have been streamed (-1: never), stop
    // sending anything at all (stall) or send what is queued and close (disconnect).
    long stallAfterFrames = -1;
    long disconnectAfterFrames = -1;

    // A pause at a stored position finds newer recording there: the frame sent from that
    // position has another time (a day later), as on a recorder that has overwritten the
    // place since the position was stored.
    bool positionsOverwritten = false;
    // Requests of these packet types are taken and never answered (alive checks still
    // are), as by a recorder whose playback service hangs.
    std::vector<uint16_t> unansweredRequests;
};

// The reasons the service gives in its stop reports.
namespace SimStopReason {
constexpr int EndOfPlayback = 1;  // the requested interval or the recording ended
constexpr int NotFound = 2;       // the section, position or media ID names no frame
constexpr int Paused = 4;         // stopped or positioned as asked
}  // namespace SimStopReason
