#pragma once

#include <cstdint>
#include <mutex>

#include "base/thread/Profiler.h"

// How fast a schedule archives: seconds of recording archived per second of wall time over
// a window, read on the injectable clock's tick count, and its speed class (0 slower than
// the recording, 1 about as fast, 2 faster). Frames are counted on the media thread, the
// window is read on the actor thread: every operation takes the profiler's mutex.
class ArchiveProfiler {
public:
    static constexpr int Slow = 0;
    static constexpr int Normal = 1;
    static constexpr int Fast = 2;

    // Starts a window now and makes the profiler active.
    void start();
    // Adds `seconds` of archived recording time (a negative count is ignored).
    void add(int seconds);
    // Milliseconds since the window began.
    uint32_t elapsed();
    // Begins a new window, keeping the active flag.
    void reset();
    void clear();
    bool isActive();
    // The class of the speed over the window so far; Slow for an empty window.
    int archiveSpeed();
    // Archived recording seconds per wall second over the window so far.
    double speed();

private:
    double speedLocked() const;
    uint32_t elapsedLocked() const;
    void restartWindow();

    std::mutex _mutex;
    Profiler _profiler{"archive"};  // one sample per frame that advanced the archived time
    uint32_t _startTick = 0;
    bool _active = false;
};
