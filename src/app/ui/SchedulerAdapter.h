#pragma once

#include "app/ui/IArchivingScheduler.h"
#include "app/ui/RecorderEndWatch.h"

// The station's scheduler: the process-wide ArchivingScheduler behind the document's view
// of it, with a watch on how far each connected recorder has recorded.
class SchedulerAdapter : public IArchivingScheduler {
public:
    void initialise(ScheduleListener* listener, int chunkSeconds) override;
    int createSchedule(const UniqueID& siteID, const SiteSettings& settings, bool overwrite) override;
    void deleteSchedule(int key) override;
    void startFromTime(int key, const DateTime& time) override;
    void start(int key, bool fromFirst) override;
    void resume(int key) override;
    void updateSite(int key, const SiteSettings& settings) override;
    void stop(int key) override;
    void setOverwrite(int key, bool overwrite) override;
    StorageGroupContext* context(int key) override;
    uint64_t usedBytes(int key) override;
    uint64_t capacity(int key) override;
    int speedClass(int key) override;
    Interval recordingInterval(int key) override;
    bool hasResumePoint(int key) override;
    std::optional<DateTime> recorderEnd(int key) override { return _ends.end(key); }
    void shutdown() override;

private:
    RecorderEndWatch _ends;
    bool _watching = false;
};
