#include "recorder-sim/recording/FrameCursor.h"

#include "recorder-sim/recording/SyntheticRecording.h"

FrameCursor::FrameCursor(const SyntheticRecording& recording, BitMask32 channels, const Interval& window,
                         size_t segment, uint32_t second, uint32_t slot)
    : _recording(&recording), _channels(channels), _window(window), _segment(segment), _second(second), _slot(slot) {
    // Nothing can be produced for channels the recording does not have.
    if ((channels.value() & recording.channelMask().value()) == 0) _segment = recording.segments().size();
}

void FrameCursor::nextSegment() {
    ++_segment;
    _second = 0;
    _slot = 0;
}

bool FrameCursor::enterWindow() {
    const RecordingSegment& segment = _recording->_segments[_segment];
    uint64_t first = 0;
    uint64_t last = 0;
    if (!_recording->secondsInside(segment, _window, first, last)) return false;
    if (_second < first) {
        _second = static_cast<uint32_t>(first);
        _slot = 0;
    }
    return _second <= last;
}

bool FrameCursor::settle() {
    const auto& segments = _recording->_segments;
    const uint32_t slots = _recording->_slotsPerSecond;
    while (_segment < segments.size()) {
        if (!enterWindow()) {
            nextSegment();
            continue;
        }
        uint64_t first = 0;
        uint64_t last = 0;
        _recording->secondsInside(segments[_segment], _window, first, last);
        for (; _second <= last; ++_second, _slot = 0) {
            for (; _slot < slots; ++_slot) {
                if (_recording->produces({_segment, _second, _slot}, _channels)) return true;
            }
        }
        nextSegment();
    }
    return false;
}

bool FrameCursor::next(SyntheticFrame& out) {
    if (!settle()) return false;
    _recording->makeFrame({_segment, _second, _slot}, out);
    ++_slot;
    return true;
}

std::optional<MediaPosition> FrameCursor::peekPosition() {
    if (!settle()) return std::nullopt;
    return _recording->positionOf({_segment, _second, _slot});
}

bool FrameCursor::atEnd() { return !settle(); }
