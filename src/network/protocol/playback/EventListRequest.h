#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/Interval.h"

// Asks the recorder for the events of an interval on some channels. The two parameters
// are passed through to the recorder unchanged. A plain value.
struct EventListRequest {
    Interval interval;
    BitMask32 channels;
    uint32_t param1 = 0;
    uint32_t param2 = 0;

    friend bool operator==(const EventListRequest&, const EventListRequest&) = default;
};
