#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/BitMask32.h"
#include "base/Interval.h"
#include "network/protocol/playback/MediaPosition.h"
#include "recorder-sim/recording/SyntheticFrame.h"

class SyntheticRecording;

// Walks the synthetic recording in recording order from a starting frame, producing each
// frame of the followed channels (audio follows the video channel it belongs to) and,
// when a window is set, only frames whose time lies inside it. Frames are generated on
// demand, so a cursor is small whatever the length of the recording. A cursor refers to
// its recording, which must outlive it; one owner at a time.
class FrameCursor {
public:
    // The next frame, or false at the end of the recording (or of the window).
    bool next(SyntheticFrame& out);
    // The position of the frame next() would return; empty at the end.
    std::optional<MediaPosition> peekPosition();
    bool atEnd();

    BitMask32 channels() const { return _channels; }
    const Interval& window() const { return _window; }

private:
    friend class SyntheticRecording;
    FrameCursor(const SyntheticRecording& recording, BitMask32 channels, const Interval& window, size_t segment,
                uint32_t second, uint32_t slot);

    // Moves to the first frame at or after the current place that is produced; false at the end.
    bool settle();
    // Applies the window to the current segment: skips seconds before it, or the whole
    // segment when it lies outside; false when the segment has nothing inside.
    bool enterWindow();
    void nextSegment();

    const SyntheticRecording* _recording;
    BitMask32 _channels;
    Interval _window;
    size_t _segment;
    uint32_t _second;
    uint32_t _slot;
};
