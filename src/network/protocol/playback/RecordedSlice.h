#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/Interval.h"

// One entry of a recorder's time table: a stretch of recording in one of its sections,
// with the channels recorded. A plain value, ordered by time (then section) so that a
// received table can be sorted before it is used.
struct RecordedSlice {
    uint32_t id = 0;
    Interval interval;
    BitMask32 channels;

    bool operator<(const RecordedSlice& other) const;
    friend bool operator==(const RecordedSlice&, const RecordedSlice&) = default;
};
