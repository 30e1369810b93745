#include "app/ui/SchedulerAdapter.h"

#include "app/archiving/ArchivingSchedule.h"
#include "app/archiving/ArchivingScheduler.h"

namespace {

ArchivingScheduler& scheduler() {
    return ArchivingScheduler::instance();
}

ConnectionSettings connectionOf(const IArchivingScheduler::SiteSettings& settings) {
    return {settings.address, settings.port, settings.username, settings.password};
}

}  // namespace

void SchedulerAdapter::initialise(ScheduleListener* listener, int chunkSeconds) {
    scheduler().initialise(listener, chunkSeconds);
    if (!_watching) {
        _ends.start();
        _watching = true;
    }
}

int SchedulerAdapter::createSchedule(const UniqueID& siteID, const SiteSettings& settings, bool overwrite) {
    return scheduler().createSchedule(siteID, connectionOf(settings), overwrite);
}

void SchedulerAdapter::deleteSchedule(int key) {
    scheduler().deleteSchedule(key);
    _ends.forget(key);
}

void SchedulerAdapter::startFromTime(int key, const DateTime& time) {
    scheduler().startFromTime(key, time);
}

void SchedulerAdapter::start(int key, bool fromFirst) {
    scheduler().start(key, fromFirst);
}

void SchedulerAdapter::resume(int key) {
    scheduler().resume(key);
}

void SchedulerAdapter::updateSite(int key, const SiteSettings& settings) {
    scheduler().updateSite(key, connectionOf(settings));
}

void SchedulerAdapter::stop(int key) {
    scheduler().stop(key);
}

void SchedulerAdapter::setOverwrite(int key, bool overwrite) {
    scheduler().setOverwrite(key, overwrite);
}

StorageGroupContext* SchedulerAdapter::context(int key) {
    return scheduler().context(key);
}

uint64_t SchedulerAdapter::usedBytes(int key) {
    return scheduler().usedBytes(key);
}

uint64_t SchedulerAdapter::capacity(int key) {
    return scheduler().capacity(key);
}

int SchedulerAdapter::speedClass(int key) {
    return scheduler().speedClass(key);
}

Interval SchedulerAdapter::recordingInterval(int key) {
    return scheduler().recordingInterval(key);
}

bool SchedulerAdapter::hasResumePoint(int key) {
    std::shared_ptr<ArchivingSchedule> schedule = scheduler().schedule(key);
    // Frames archived in this run count too: their resume record is flushed within seconds,
    // and until then a site that is archiving must not look as if it had nothing to go on.
    return schedule != nullptr && (schedule->flushedRecord().isValid() || schedule->archivedFrames() > 0);
}

void SchedulerAdapter::shutdown() {
    if (_watching) {
        _ends.stop();
        _ends.join();
        _watching = false;
    }
    scheduler().shutdown();
}
