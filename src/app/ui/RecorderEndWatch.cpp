#include "app/ui/RecorderEndWatch.h"

#include <memory>
#include <vector>

#include "app/archiving/ArchivingSchedule.h"
#include "app/archiving/ArchivingScheduler.h"
#include "network/protocol/playback/RecordedSlice.h"

std::optional<DateTime> RecorderEndWatch::end(int key) {
    std::lock_guard<Mutex> lock(_mutex);
    auto it = _ends.find(key);
    if (it == _ends.end()) {
        return std::nullopt;
    }
    return it->second;
}

void RecorderEndWatch::forget(int key) {
    std::lock_guard<Mutex> lock(_mutex);
    _ends.erase(key);
}

void RecorderEndWatch::runOnce() {
    const Interval everything(DateTime(1970, 1, 1, 0, 0, 0), DateTime(2100, 12, 31, 11, 59, 59));
    for (int key : ArchivingScheduler::instance().keys()) {
        if (stopRequested()) {
            return;
        }
        std::shared_ptr<ArchivingSchedule> schedule = ArchivingScheduler::instance().schedule(key);
        std::vector<RecordedSlice> slices;
        if (schedule == nullptr || !schedule->isConnected() || !schedule->queryTimeTable(everything, slices)) {
            continue;
        }
        DateTime last;
        for (const RecordedSlice& slice : slices) {
            if (!last.isValid() || slice.interval.to() > last) {
                last = slice.interval.to();
            }
        }
        if (last.isValid()) {
            std::lock_guard<Mutex> lock(_mutex);
            _ends[key] = last;
        }
    }
    for (int waited = 0; waited < PeriodMs && !stopRequested(); waited += 100) {
        Thread::sleep(100);
    }
}
