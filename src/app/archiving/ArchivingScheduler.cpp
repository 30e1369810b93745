#include "app/archiving/ArchivingScheduler.h"

#include <mutex>

#include "app/archiving/ArchivingSchedule.h"
#include "app/group/StorageGroupContext.h"
#include "base/thread/ActionLoop.h"
#include "network/playback/MediaDispatcher.h"
#include "network/playback/NetworkPlaybackContext.h"

ArchivingScheduler& ArchivingScheduler::instance() {
    static std::atomic<ArchivingScheduler*> slot{nullptr};
    return createOnce(slot, [] { return new ArchivingScheduler(); });
}

ArchivingScheduler::ArchivingScheduler() = default;

void ArchivingScheduler::initialise(ScheduleListener* listener, int chunkSeconds) {
    NetworkPlaybackContext::instance();
    MediaDispatcher::instance();
    std::lock_guard<Mutex> lock(_mutex);
    _listener = listener;
    _chunkSeconds = chunkSeconds;
    if (!_loop) {
        _loop = std::make_unique<ActionLoop>();
        _loop->start();
    }
}

bool ArchivingScheduler::isInitialised() {
    std::lock_guard<Mutex> lock(_mutex);
    return _loop != nullptr;
}

int ArchivingScheduler::createSchedule(const UniqueID& siteID, const ConnectionSettings& settings, bool overwrite) {
    int key = 0;
    int chunk = 0;
    ScheduleListener* listener = nullptr;
    {
        std::lock_guard<Mutex> lock(_mutex);
        key = _nextKey++;
        chunk = _chunkSeconds;
        listener = _listener;
    }
    auto schedule = std::make_shared<ArchivingSchedule>(key, siteID, settings, chunk);
    schedule->initialise(listener, BufferBytes);
    schedule->setOverwrite(overwrite);
    std::lock_guard<Mutex> lock(_mutex);
    _schedules[key] = schedule;
    if (_loop) {
        _loop->addActor(schedule.get());
    }
    return key;
}

bool ArchivingScheduler::deleteSchedule(int key) {
    std::shared_ptr<ArchivingSchedule> schedule;
    {
        std::lock_guard<Mutex> lock(_mutex);
        auto it = _schedules.find(key);
        if (it == _schedules.end()) {
            return false;
        }
        schedule = it->second;
        _schedules.erase(it);
        // Out of the loop first: no command runs while the schedule shuts down.
        if (_loop) {
            _loop->removeActor(schedule.get());
        }
    }
    schedule->shutdown();
    return true;
}

std::shared_ptr<ArchivingSchedule> ArchivingScheduler::schedule(int key) {
    std::lock_guard<Mutex> lock(_mutex);
    auto it = _schedules.find(key);
    return it == _schedules.end() ? nullptr : it->second;
}

std::vector<int> ArchivingScheduler::keys() {
    std::lock_guard<Mutex> lock(_mutex);
    std::vector<int> out;
    for (const auto& entry : _schedules) {
        out.push_back(entry.first);
    }
    return out;
}

void ArchivingScheduler::startFromTime(int key, const DateTime& time) {
    if (auto s = schedule(key)) s->startFromTime(time);
}

void ArchivingScheduler::start(int key, bool fromFirst) {
    if (auto s = schedule(key)) {
        if (fromFirst) {
            s->startFromFirst();
        } else {
            s->startFromLast();
        }
    }
}

void ArchivingScheduler::resume(int key) {
    if (auto s = schedule(key)) s->resumeSchedule();
}

void ArchivingScheduler::updateSite(int key, const ConnectionSettings& settings) {
    if (auto s = schedule(key)) s->updateSite(settings);
}

void ArchivingScheduler::stop(int key) {
    if (auto s = schedule(key)) s->stopSchedule();
}

void ArchivingScheduler::setOverwrite(int key, bool overwrite) {
    if (auto s = schedule(key)) s->setOverwrite(overwrite);
}

void ArchivingScheduler::addListener(int key, ScheduleListener* listener) {
    if (auto s = schedule(key)) s->addListener(listener);
}

void ArchivingScheduler::removeListener(int key, ScheduleListener* listener) {
    if (auto s = schedule(key)) s->removeListener(listener);
}

StorageGroupContext* ArchivingScheduler::context(int key) {
    auto s = schedule(key);
    return s ? &s->context() : nullptr;
}

uint64_t ArchivingScheduler::usedBytes(int key) {
    auto s = schedule(key);
    return s ? s->context().usedBytes() : 0;
}

uint64_t ArchivingScheduler::capacity(int key) {
    auto s = schedule(key);
    return s ? s->context().capacity() : 0;
}

int ArchivingScheduler::speedClass(int key) {
    auto s = schedule(key);
    return s ? s->speedClass() : 0;
}

Interval ArchivingScheduler::recordingInterval(int key) {
    auto s = schedule(key);
    return s ? s->recordingInterval() : Interval();
}

bool ArchivingScheduler::queryTimeTable(int key, const Interval& interval, std::vector<RecordedSlice>& out) {
    auto s = schedule(key);
    return s && s->queryTimeTable(interval, out);
}

void ArchivingScheduler::shutdown() {
    std::unique_ptr<ActionLoop> loop;
    std::map<int, std::shared_ptr<ArchivingSchedule>> schedules;
    ScheduleListener* listener = nullptr;
    {
        std::lock_guard<Mutex> lock(_mutex);
        loop = std::move(_loop);
        schedules.swap(_schedules);
        listener = _listener;
        _listener = nullptr;
    }
    if (loop) {
        loop->stop();
        loop->join();
    }
    for (auto& entry : schedules) {
        if (listener != nullptr) {
            entry.second->removeListener(listener);
        }
    }
    for (auto& entry : schedules) {
        entry.second->shutdown();
    }
}
