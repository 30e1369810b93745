#include "app/ui/CQuillfenDoc.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/archiving/ArchivingEvent.h"
#include "app/archiving/EventManager.h"
#include "app/group/StorageGroupContext.h"
#include "app/group/StorageGroupFile.h"
#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogCode.h"
#include "app/tables/SystemLogger.h"
#include "app/ui/IDocumentObserver.h"
#include "app/ui/ScheduledArchive.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/TextOf.h"
#include "base/Trace.h"

namespace {

constexpr const char* CannotCreateSchedule = "Cannot create new schedule";
constexpr const char* CannotCreateGroup = "Cannot create storage group";
constexpr const char* SomeStoragesFailed =
    "Some storage files cannot be created properly. Please check the storages created on Storage Manager.";
// How far back the archiving speed is measured.
constexpr uint32_t SpeedWindowMs = 60000;

SiteContainer& sites() {
    return SiteContainer::instance();
}

bool withinHours(const Time& now, const Time& start, const Time& stop) {
    return now >= start && now < stop;
}

void removeQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace

CQuillfenDoc::CQuillfenDoc(IArchivingScheduler& scheduler, IDocumentObserver* observer)
    : _scheduler(scheduler), _observer(observer), _archivability(scheduler) {}

CQuillfenDoc::~CQuillfenDoc() {
    close();
}

IArchivingScheduler::SiteSettings CQuillfenDoc::settingsOf(const RecordSite& site) {
    return {site.address(), static_cast<uint16_t>(site.port()), site.username(), site.password()};
}

void CQuillfenDoc::open(bool runActionLoop) {
    if (_opened) {
        return;
    }
    _opened = true;
    sites().setArchivabilityCheck(&_archivability);
    sites().addListener(this);
    EventManager::instance().enable();
    EventManager::instance().addListener(this);
    _runsActionLoop = runActionLoop;
    if (runActionLoop) {
        _actionLoop.start();
    }
}

void CQuillfenDoc::initialiseSchedules() {
    std::vector<int> toStart;
    {
        std::lock_guard<Mutex> lock(_commandMutex);
        if (_initialised) {
            return;
        }
        _scheduler.initialise(this, ChunkSeconds);
        for (const RecordSite& site : sites().snapshots()) {
            int key = _scheduler.createSchedule(site.id(), settingsOf(site), site.overwrite());
            if (key < 0) {
                QF_TRACE("CQuillfenDoc::initialiseSchedules : no schedule for %s", site.name().c_str());
                continue;
            }
            sites().setScheduleKey(site.id(), key);
            StorageGroupContext* context = _scheduler.context(key);
            if (context != nullptr && context->load(site.storageGroupFile())) {
                DateTime last = _scheduler.recordingInterval(key).to();
                sites().modify(key, [&](RecordSite& s) {
                    s.setUsage(_scheduler.usedBytes(key), _scheduler.capacity(key));
                    s.setLastArchivedTime(last);
                });
            }
            sites().isArchivable(key);
            if (site.archiving()) {
                toStart.push_back(key);
            }
        }
    }
    for (const RecordSite& site : sites().snapshots()) {
        addTimer(site);
        if (_observer != nullptr) {
            _observer->siteAdded(site);
        }
    }
    for (int key : toStart) {
        startArchive(key);
    }
    {
        std::lock_guard<Mutex> lock(_commandMutex);
        _initialised = true;
    }
    if (_observer != nullptr) {
        _observer->schedulesCreated();
    }
}

void CQuillfenDoc::close() {
    if (!_opened) {
        return;
    }
    _opened = false;
    if (_runsActionLoop) {
        _actionLoop.stop();
        _actionLoop.join();
    }
    std::map<int, std::unique_ptr<ScheduledArchive>> timers;
    {
        std::lock_guard<Mutex> lock(_timerMutex);
        timers.swap(_timers);
    }
    for (auto& [key, timer] : timers) {
        _actionLoop.removeActor(timer.get());
    }
    EventManager::instance().removeListener(this);
    EventManager::instance().disable();
    std::lock_guard<Mutex> lock(_commandMutex);
    if (_initialised) {
        _scheduler.shutdown();
    }
    sites().removeListener(this);
    sites().setArchivabilityCheck(nullptr);
}

// ---- commands -----------------------------------------------------------------------------

void CQuillfenDoc::startArchive(int key) {
    std::lock_guard<Mutex> lock(_commandMutex);
    if (!sites().isArchivable(key)) {
        notifyChanged(key);
        return;
    }
    sites().setArchiving(key, true);
    std::optional<RecordSite> site = sites().snapshot(key);
    if (!site) {
        return;
    }
    if (!site->rescheduled()) {
        _scheduler.resume(key);
    } else if (site->schedule() == RecordSite::FromTime) {
        _scheduler.startFromTime(key, site->timeToStart());
    } else {
        _scheduler.start(key, site->schedule() == RecordSite::FromFirst);
    }
    logInfo(key, SystemLogCode::StartArchiving);
    notifyChanged(key);
}

void CQuillfenDoc::stopArchive(int key) {
    std::lock_guard<Mutex> lock(_commandMutex);
    if (!sites().setArchiving(key, false)) {
        return;
    }
    _scheduler.stop(key);
    notifyChanged(key);
}

void CQuillfenDoc::startAll() {
    for (const RecordSite& site : sites().snapshots()) {
        if (!site.archiving()) {
            startArchive(site.scheduleKey());
        }
    }
}

void CQuillfenDoc::stopAll() {
    for (const RecordSite& site : sites().snapshots()) {
        if (site.archiving()) {
            stopArchive(site.scheduleKey());
        }
    }
}

bool CQuillfenDoc::updateSchedule(int key, const IArchivingScheduler::SiteSettings& settings) {
    std::lock_guard<Mutex> lock(_commandMutex);
    std::optional<RecordSite> site = sites().snapshot(key);
    if (!site) {
        return false;
    }
    if (settingsOf(*site) == settings) {
        QF_TRACE("CQuillfenDoc::updateSchedule : need not to update site info");
        return false;
    }
    sites().modify(key, [&](RecordSite& s) {
        s.setAddress(settings.address);
        s.setPort(settings.port);
        s.setUsername(settings.username);
        s.setPassword(settings.password);
    });
    sites().save(key);
    notifyChanged(key);
    _scheduler.updateSite(key, settings);
    return true;
}

void CQuillfenDoc::setStartPoint(int key, int type, const DateTime& time) {
    std::lock_guard<Mutex> lock(_commandMutex);
    bool known = sites().modify(key, [&](RecordSite& s) {
        s.setRescheduled(true);
        s.setSchedule(type);
        if (type == RecordSite::FromTime) {
            s.setTimeToStart(time);
        }
    });
    if (!known) {
        return;
    }
    // The pending start point is kept across a restart.
    sites().save(key);
    notifyChanged(key);
    std::optional<RecordSite> site = sites().snapshot(key);
    if (site && site->archiving()) {
        startArchive(key);
    }
}

void CQuillfenDoc::reschedule(int key, const IArchivingScheduler::SiteSettings& settings, int type,
                              const DateTime& time) {
    std::lock_guard<Mutex> lock(_commandMutex);
    _scheduler.stop(key);
    updateSchedule(key, settings);
    setStartPoint(key, type, time);
}

void CQuillfenDoc::rename(int key, const std::string& name) {
    std::lock_guard<Mutex> lock(_commandMutex);
    if (sites().modify(key, [&](RecordSite& s) { s.setName(name); })) {
        sites().save(key);
        notifyChanged(key);
    }
}

void CQuillfenDoc::setOverwrite(int key, bool overwrite) {
    std::lock_guard<Mutex> lock(_commandMutex);
    if (!sites().modify(key, [&](RecordSite& s) { s.setOverwrite(overwrite); })) {
        return;
    }
    sites().save(key);
    notifyChanged(key);
    _scheduler.setOverwrite(key, overwrite);
}

void CQuillfenDoc::setArchivingHours(int key, const Time& start, const Time& stop) {
    {
        std::lock_guard<Mutex> lock(_commandMutex);
        bool known = sites().modify(key, [&](RecordSite& s) {
            s.setAlwaysArchive(false);
            s.setTimeArchiveStart(start);
            s.setTimeArchiveStop(stop);
        });
        if (!known) {
            return;
        }
        sites().save(key);
        notifyChanged(key);
    }
    std::lock_guard<Mutex> lock(_timerMutex);
    auto it = _timers.find(key);
    if (it != _timers.end()) {
        it->second->setHours(start, stop);
    }
}

void CQuillfenDoc::setAlwaysArchive(int key) {
    {
        std::lock_guard<Mutex> lock(_commandMutex);
        if (!sites().modify(key, [](RecordSite& s) { s.setAlwaysArchive(true); })) {
            return;
        }
        sites().save(key);
        notifyChanged(key);
    }
    std::lock_guard<Mutex> lock(_timerMutex);
    auto it = _timers.find(key);
    if (it != _timers.end()) {
        it->second->clearHours();
    }
}

void CQuillfenDoc::deleteSchedule(int key, bool deleteFiles) {
    std::optional<RecordSite> site = sites().snapshot(key);
    if (!site) {
        return;
    }
    removeTimer(key);
    {
        std::lock_guard<Mutex> lock(_commandMutex);
        _scheduler.deleteSchedule(key);
        sites().remove(*site);
        {
            std::lock_guard<Mutex> speedLock(_speedMutex);
            _speed.erase(key);
        }
        if (deleteFiles) {
            deleteStorageFiles(site->storageGroupFile());
        }
    }
    if (_observer != nullptr) {
        _observer->siteRemoved(key);
    }
}

CQuillfenDoc::Outcome CQuillfenDoc::newSchedule(const ScheduleWizardResult& result) {
    Outcome outcome;
    std::optional<RecordSite> added;
    {
        std::lock_guard<Mutex> lock(_commandMutex);
        IArchivingScheduler::SiteSettings settings{result.address, static_cast<uint16_t>(result.port),
                                                   result.username, result.password};
        int key = _scheduler.createSchedule(result.siteID, settings, false);
        if (key < 0) {
            outcome.error = CannotCreateSchedule;
            return outcome;
        }
        if (!createStorageGroup(key, result, outcome)) {
            if (outcome.error.empty()) {
                outcome.error = CannotCreateGroup;
            }
            return outcome;
        }
        auto site = std::make_unique<RecordSite>();
        site->setId(result.siteID);
        site->setName(result.name);
        site->setAddress(result.address);
        site->setPort(result.port);
        site->setUsername(result.username);
        site->setPassword(result.password);
        site->setStorageGroupFile(result.groupFile);
        site->setUsage(_scheduler.usedBytes(key), _scheduler.capacity(key));
        site->setOverwrite(result.overwrite);
        _scheduler.setOverwrite(key, result.overwrite);
        site->setSchedule(result.startType);
        if (result.startType == RecordSite::FromTime) {
            site->setTimeToStart(result.startTime);
        }
        site->setRescheduled(true);
        site->setAlwaysArchive(result.alwaysArchive);
        if (!result.alwaysArchive) {
            site->setTimeArchiveStart(result.archiveStart);
            site->setTimeArchiveStop(result.archiveStop);
        }
        site->setScheduleKey(key);
        site->setNotArchivableReason(_archivability.notArchivableReason(*site));
        if (site->notArchivableReason() == RecordSite::Archivable) {
            site->setStatusValue(RecordSite::Stopped);
        }
        if (sites().add(std::move(site)) == nullptr) {
            outcome.error = CannotCreateSchedule;
            return outcome;
        }
        outcome.key = key;
        added = sites().snapshot(key);
    }
    if (!added) {
        outcome.error = CannotCreateSchedule;
        return outcome;
    }
    if (_observer != nullptr) {
        _observer->siteAdded(*added);
    }
    addTimer(*added);
    logInfo(outcome.key, SystemLogCode::ScheduleAdded);
    Time now = Clock::current().now().time();
    if (added->notArchivableReason() == RecordSite::Archivable &&
        (added->alwaysArchive() || withinHours(now, added->timeArchiveStart(), added->timeArchiveStop()))) {
        startArchive(outcome.key);
    }
    return outcome;
}

bool CQuillfenDoc::createStorageGroup(int key, const ScheduleWizardResult& result, Outcome& outcome) {
    const std::string& path = result.groupFile;
    removeQuietly(path);
    StorageGroupFile file;
    try {
        if (!file.create(path, result.siteID)) {
            outcome.error = "Cannot create the storage group file : " + path + " exists";
            return false;
        }
    } catch (const Exception& e) {
        outcome.error = std::string("Cannot create the storage group file : ") + messageOf(e);
        removeQuietly(path);
        return false;
    }
    if (!file.load(path)) {
        outcome.error = CannotCreateGroup;
        return false;
    }
    bool problem = false;
    for (const std::string& storage : result.storageFiles) {
        std::error_code error;
        if (std::filesystem::exists(storage, error)) {
            problem = true;
        } else {
            try {
                StorageGroupContext::createStorageFile(storage, result.storageSize, result.siteID);
            } catch (const Exception& e) {
                outcome.warnings.push_back("Cannot create " + storage + " : " + messageOf(e));
                removeQuietly(storage);
                problem = true;
                continue;
            }
        }
        try {
            file.addStorageFile(storage);
        } catch (const Exception& e) {
            outcome.warnings.push_back("Cannot create " + storage + " : " + messageOf(e));
            problem = true;
        }
    }
    try {
        file.close();
    } catch (const Exception& e) {
        outcome.error = std::string("Cannot create the storage group file : ") + messageOf(e);
        return false;
    }
    if (problem) {
        outcome.warnings.push_back(SomeStoragesFailed);
    }
    StorageGroupContext* context = _scheduler.context(key);
    if (context != nullptr) {
        context->load(path);
    }
    return true;
}

void CQuillfenDoc::deleteStorageFiles(const std::string& groupFile) {
    std::error_code error;
    if (groupFile.empty() || !std::filesystem::exists(groupFile, error)) {
        return;
    }
    StorageGroupFile file;
    if (!file.load(groupFile)) {
        return;
    }
    for (const std::string& storage : file.storageFiles()) {
        removeQuietly(storage);
    }
    try {
        file.close();
    } catch (const Exception& e) {
        QF_TRACE("CQuillfenDoc::deleteStorageFiles : %s", messageOf(e));
    }
    removeQuietly(groupFile);
}

// ---- timers -------------------------------------------------------------------------------

void CQuillfenDoc::addTimer(const RecordSite& site) {
    auto timer = std::make_unique<ScheduledArchive>(*this, site.scheduleKey());
    if (!site.alwaysArchive()) {
        timer->setHours(site.timeArchiveStart(), site.timeArchiveStop());
    }
    ScheduledArchive* added = timer.get();
    {
        std::lock_guard<Mutex> lock(_timerMutex);
        _timers[site.scheduleKey()] = std::move(timer);
    }
    _actionLoop.addActor(added);
}

void CQuillfenDoc::removeTimer(int key) {
    std::unique_ptr<ScheduledArchive> timer;
    {
        std::lock_guard<Mutex> lock(_timerMutex);
        auto it = _timers.find(key);
        if (it == _timers.end()) {
            return;
        }
        timer = std::move(it->second);
        _timers.erase(it);
    }
    _actionLoop.removeActor(timer.get());
}

// ---- run-time state -----------------------------------------------------------------------

void CQuillfenDoc::setStatus(int key, int status) {
    sites().setStatus(key, status);
    notifyChanged(key);
}

void CQuillfenDoc::refreshUsage(int key) {
    uint64_t used = _scheduler.usedBytes(key);
    uint64_t capacity = _scheduler.capacity(key);
    sites().modify(key, [&](RecordSite& s) { s.setUsage(used, capacity); });
}

void CQuillfenDoc::notifyChanged(int key) {
    if (_observer == nullptr) {
        return;
    }
    std::optional<RecordSite> site = sites().snapshot(key);
    if (site) {
        _observer->siteChanged(*site);
    }
}

void CQuillfenDoc::logInfo(int key, int code, const std::string& text) {
    std::optional<RecordSite> site = sites().snapshot(key);
    if (site) {
        SystemLogger::instance().info(site->id(), code, text.empty() ? nullptr : text.c_str());
    }
}

void CQuillfenDoc::scheduleConnecting(int key) {
    setStatus(key, RecordSite::Connecting);
}

void CQuillfenDoc::scheduleConnected(int key) {
    setStatus(key, RecordSite::Stopped);
}

void CQuillfenDoc::scheduleRequesting(int key) {
    setStatus(key, RecordSite::Archiving);
}

void CQuillfenDoc::scheduleArchiving(int key) {
    setStatus(key, RecordSite::Archiving);
}

void CQuillfenDoc::scheduleStopped(int key) {
    std::optional<RecordSite> site = sites().snapshot(key);
    if (!site || site->status() == RecordSite::Failed || site->status() == RecordSite::NoSpace) {
        return;
    }
    sites().setStatus(key, RecordSite::Stopped);
    refreshUsage(key);
    logInfo(key, SystemLogCode::ArchivingStopped);
    notifyChanged(key);
}

void CQuillfenDoc::scheduleFailed(int key) {
    sites().setStatus(key, RecordSite::Failed);
    sites().setArchiving(key, false);
    notifyChanged(key);
}

void CQuillfenDoc::scheduleProgress(int key, const DateTime& lastTime) {
    std::optional<RecordSite> site = sites().snapshot(key);
    if (!site) {
        return;
    }
    if (site->rescheduled()) {
        std::string from = site->schedule() == RecordSite::FromFirst  ? "from first"
                           : site->schedule() == RecordSite::FromLast ? "from last"
                                                                       : textOf(site->timeToStart());
        logInfo(key, SystemLogCode::Scheduled, from);
        sites().setRescheduled(key, false);
    }
    sites().modify(key, [&](RecordSite& s) { s.setLastArchivedTime(lastTime); });
    refreshUsage(key);
    {
        std::lock_guard<Mutex> lock(_speedMutex);
        std::vector<SpeedSample>& samples = _speed[key];
        uint32_t tick = Clock::current().tickCount();
        samples.push_back({tick, lastTime});
        while (samples.size() > 2 && tick - samples[1].tick > SpeedWindowMs) {
            samples.erase(samples.begin());
        }
    }
    notifyChanged(key);
}

void CQuillfenDoc::eventOccurred(const ArchivingEvent& event) {
    int key = event.key;
    if (event.type == ArchivingEvent::SpeedClassChanged) {
        int speedClass = _scheduler.speedClass(key);
        sites().modify(key, [&](RecordSite& s) { s.setSpeedClass(speedClass); });
    } else if (event.type == ArchivingEvent::NotEnoughSpace) {
        sites().setStatus(key, RecordSite::NoSpace);
        sites().modify(key, [](RecordSite& s) { s.setArchiving(false); });
    } else {
        RecordSite::LastEvent last{event.type, event.value, event.text, ArchivingEvent::logCode(event.type, event.value)};
        sites().modify(key, [&](RecordSite& s) { s.setLastEvent(last); });
        sites().setArchiving(key, false);
    }
    notifyChanged(key);
}

CQuillfenDoc::Progress CQuillfenDoc::progress(int key) {
    Progress result;
    std::optional<RecordSite> site = sites().snapshot(key);
    if (!site) {
        return result;
    }
    result.archivedUpTo = site->lastArchivedTime();
    result.recorderEnd = _scheduler.recorderEnd(key);
    {
        std::lock_guard<Mutex> lock(_speedMutex);
        auto it = _speed.find(key);
        if (it != _speed.end() && it->second.size() >= 2) {
            const SpeedSample& first = it->second.front();
            const SpeedSample& last = it->second.back();
            uint32_t elapsed = last.tick - first.tick;
            if (elapsed > 0) {
                result.speed = last.time.secondsSince(first.time) * 1000.0 / elapsed;
            }
        }
    }
    if (result.recorderEnd && result.archivedUpTo.isValid()) {
        int64_t lag = std::max(0, result.recorderEnd->secondsSince(result.archivedUpTo));
        result.lagSeconds = lag;
        if (lag == 0) {
            result.catchUpSeconds = 0;
        } else if (result.speed > 0) {
            result.catchUpSeconds = static_cast<int64_t>(lag / result.speed);
        }
    }
    return result;
}
