#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/Interval.h"

// What the client asks the recorder to do with playback (play an interval, position at a
// section, ...). The mode and the parameters are the recorder's; the client fills them as
// its callers say and never reads them back from the wire. A plain value.
struct PlayRequest {
    uint32_t mode = 0;
    Interval interval;
    BitMask32 channels;
    uint32_t param1 = 0;
    uint32_t param2 = 0;
    uint32_t param3 = 0;

    friend bool operator==(const PlayRequest&, const PlayRequest&) = default;
};
