#pragma once

#include <cstdint>

// A place in a recorder's own storage, as the recorder reports it with every frame. The
// client never interprets the three numbers: it only hands the last one it received back
// to the recorder (to pause there, to jump there, to resume there after a restart).
// A plain value.
struct MediaPosition {
    uint32_t positionA = 0;
    uint32_t positionB = 0;
    uint32_t positionC = 0;

    bool isZero() const { return positionA == 0 && positionB == 0 && positionC == 0; }
    friend bool operator==(const MediaPosition&, const MediaPosition&) = default;
};
