#pragma once

#include <map>
#include <optional>

#include "base/DateTime.h"
#include "base/thread/LoopingThread.h"
#include "base/thread/Mutex.h"

// Learns, every few seconds, where each connected schedule's recorder has recorded up to:
// it asks the schedule for the recorder's time table over its open connection (the
// synchronous query the reschedule dialog uses) and keeps the end of the last slice. Only
// schedules that are connected are asked, so a stopped site is never connected for it.
// Runs on its own thread; the ends may be read from any thread.
class RecorderEndWatch : public LoopingThread {
public:
    static constexpr int PeriodMs = 10000;

    RecorderEndWatch() : LoopingThread("RecordingTimeTableRequester") {}

    std::optional<DateTime> end(int key);
    void forget(int key);

    void runOnce() override;

private:
    Mutex _mutex;
    std::map<int, DateTime> _ends;
};
