#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include "app/archiving/ArchivedFrame.h"

// The frames archived last, all of one recorded second, in the order they were archived:
// what a playback that starts again at that second (or at a frame of it) sends once more.
// Asked about every delivered frame, so a frame that cannot be among them is told apart
// without looking through them: a filter of one bit per identity hash, cleared with them.
class ArchivedSecond {
public:
    // Adds a frame; a frame of another second first drops those held.
    void add(const ArchivedFrame& frame);
    bool holds(const ArchivedFrame& frame) const;
    void clear();
    bool empty() const { return _frames.empty(); }

private:
    static constexpr size_t FilterBits = 4096;
    static size_t filterBitOf(const ArchivedFrame& frame);

    std::vector<ArchivedFrame> _frames;
    std::bitset<FilterBits> _filter;
};
