#pragma once

#include <cstdint>

#include "base/DateTime.h"

// One unbroken run of the synthetic recording: a recording section whose clock runs
// forward one second per second. Its frames fill `seconds` consecutive recorded seconds,
// numbered across the whole recording from `firstSecond`. A plain value.
struct RecordingSegment {
    uint32_t sectionID = 0;
    int64_t startEpoch = 0;  // time of the first second, as epoch seconds
    uint32_t seconds = 0;
    uint64_t firstSecond = 0;

    int64_t endEpoch() const { return startEpoch + seconds - 1; }  // last second, inclusive
    DateTime start() const { return DateTime::fromEpochSeconds(startEpoch); }
    DateTime end() const { return DateTime::fromEpochSeconds(endEpoch()); }
};
