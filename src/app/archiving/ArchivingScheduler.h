#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "app/archiving/ConnectionSettings.h"
#include "base/Interval.h"
#include "base/UniqueID.h"
#include "base/thread/ISingleton.h"
#include "base/thread/Mutex.h"
#include "network/protocol/playback/RecordedSlice.h"

class ActionLoop;
class ArchivingSchedule;
class ScheduleListener;
class StorageGroupContext;

// Owns every archiving schedule of the process and the action loop whose thread runs their
// commands, and gives the application per-key access to them. A schedule's key is a small
// integer handed out in creation order.
//
// initialise() and shutdown() may follow each other any number of times in one process
// (shutdown deletes every schedule and stops the loop; keys keep rising). The process-wide
// playback threads are started by initialise() and stay up for the next initialise: they
// stop at process exit. Every wait and delay of the schedules reads Clock::current().
//
// Threads: every operation may be called from any thread. The schedule map is guarded by
// the scheduler's mutex, which is never held while a schedule is called, so a schedule
// listener may call back into the scheduler; a schedule in use stays alive until its
// last caller is done, even when it is deleted meanwhile.
class ArchivingScheduler : public ISingleton {
public:
    static constexpr int DefaultChunkSeconds = 600;
    static constexpr int BufferBytes = 0x80000;

    static ArchivingScheduler& instance();

    // Starts the playback threads and the action loop; `listener` (may be null) is added
    // to every schedule created from now on.
    void initialise(ScheduleListener* listener, int chunkSeconds = DefaultChunkSeconds);
    bool isInitialised();
    // A new stopped schedule for the site; its key.
    int createSchedule(const UniqueID& siteID, const ConnectionSettings& settings, bool overwrite);
    // False for an unknown key.
    bool deleteSchedule(int key);

    // Per key; an unknown key does nothing (and answers 0 or unset).
    void startFromTime(int key, const DateTime& time);
    // From the first recorded frame, or only what is recorded from now on.
    void start(int key, bool fromFirst);
    void resume(int key);
    void updateSite(int key, const ConnectionSettings& settings);
    void stop(int key);
    void setOverwrite(int key, bool overwrite);
    void addListener(int key, ScheduleListener* listener);
    void removeListener(int key, ScheduleListener* listener);
    StorageGroupContext* context(int key);
    uint64_t usedBytes(int key);
    uint64_t capacity(int key);
    int speedClass(int key);
    Interval recordingInterval(int key);
    bool queryTimeTable(int key, const Interval& interval, std::vector<RecordedSlice>& out);
    // The schedule itself (kept alive by the pointer), or null.
    std::shared_ptr<ArchivingSchedule> schedule(int key);
    std::vector<int> keys();

    // Stops the loop, takes the application's listener off every schedule, shuts every
    // schedule down (each flushes and closes its group) and deletes it.
    void shutdown();

private:
    ArchivingScheduler();

    Mutex _mutex;
    int _nextKey = 0;
    std::unique_ptr<ActionLoop> _loop;
    ScheduleListener* _listener = nullptr;
    int _chunkSeconds = DefaultChunkSeconds;
    std::map<int, std::shared_ptr<ArchivingSchedule>> _schedules;
};
