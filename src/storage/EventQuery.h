#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/Interval.h"
#include "storage/EventElement.h"

// What an event listing asks for: events inside an interval (both ends set), on some
// channels, of some types (bit n accepts event type n; all bits set accept any type), at most `maxCount` of them, and,
// to continue a paged listing, the last event the previous call returned. A plain value.
struct EventQuery {
    Interval interval;
    BitMask32 channels = BitMask32(0xFFFFFFFF);
    uint32_t typeMask = 0xFFFFFFFF;
    int maxCount = 0;  // 0: no limit
    bool hasLast = false;
    EventElement last;

    bool accepts(const EventElement& e) const;
    bool isLast(const EventElement& e) const {
        return hasLast && e.mediaID() == last.mediaID() && e.eventType() == last.eventType();
    }
};
