#include "app/archiving/ArchivedSecond.h"

void ArchivedSecond::add(const ArchivedFrame& frame) {
    if (!_frames.empty() && !_frames.back().time.equals(frame.time)) {
        clear();
    }
    _frames.push_back(frame);
    _filter.set(filterBitOf(frame));
}

bool ArchivedSecond::holds(const ArchivedFrame& frame) const {
    if (!_filter.test(filterBitOf(frame))) {
        return false;
    }
    for (const ArchivedFrame& archived : _frames) {
        if (archived.sameAs(frame)) {
            return true;
        }
    }
    return false;
}

void ArchivedSecond::clear() {
    _frames.clear();
    _filter.reset();
}

size_t ArchivedSecond::filterBitOf(const ArchivedFrame& frame) {
    // The frames of one second differ in channel, key group, index, type and position;
    // the time they share is left out.
    uint64_t h = frame.syncIndex;
    h = h * 0x9E3779B97F4A7C15ull + frame.channelMask;
    h = h * 0x9E3779B97F4A7C15ull + frame.syncKeyID;
    h = h * 0x9E3779B97F4A7C15ull + frame.mediaType;
    h = h * 0x9E3779B97F4A7C15ull + frame.position.positionA;
    h = h * 0x9E3779B97F4A7C15ull + frame.position.positionB;
    h = h * 0x9E3779B97F4A7C15ull + frame.position.positionC;
    h = (h ^ (h >> 32)) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h >> 52) % FilterBits;  // the top bits depend on every input bit
}
