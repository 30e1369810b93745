#pragma once

#include <vector>

#include "base/Interval.h"
#include "network/protocol/playback/RecordedSlice.h"

// A recorder's time table turned into a sorted list of disjoint slices more than one
// second apart, from which the schedule cuts its chunks of recorded time. The slices as
// received are kept as well: where the recorder's clock went back, two of its sections
// cover the same times, and only the received slices show it. A plain value; its owner
// guards it.
class MergedTimeTable {
public:
    // Replaces the table with `slices` merged in list order.
    void mergeAll(const std::vector<RecordedSlice>& slices);
    void merge(const RecordedSlice& slice);
    void clear();

    const std::vector<RecordedSlice>& slices() const { return _slices; }
    const std::vector<RecordedSlice>& received() const { return _received; }
    bool empty() const { return _slices.empty(); }
    // The zero-length interval at the end of the last slice; unset when empty.
    Interval endOfRecording() const;

    // The first `limit` seconds of recorded time from `begin` on, spanning the gaps
    // between slices: [begin or the first slice's begin after it, the end]. Unset when
    // nothing is recorded from `begin` on.
    Interval nextChunk(const DateTime& begin, int limit) const;

    // Where the recorder's clock went back, sections recorded after the one a chunk
    // continues hold times before the chunk's begin, and a playback that follows recording
    // order from inside the chunk reaches them. The earliest such time (section IDs taken
    // as recording order), or the chunk's begin when there is none. Only sections of the
    // received table count: a caller that continues through the recording asks for the
    // time table of its whole range, not just from the chunk on.
    DateTime overlapBegin(const Interval& chunk) const;

private:
    void trace() const;

    std::vector<RecordedSlice> _slices;
    std::vector<RecordedSlice> _received;
};
