#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/archiving/EventListener.h"
#include "app/archiving/ScheduleListener.h"
#include "app/tables/RecordSite.h"
#include "app/ui/IArchivingScheduler.h"
#include "app/ui/ScheduleWizardResult.h"
#include "app/ui/SiteArchivability.h"
#include "base/thread/ActionLoop.h"
#include "base/thread/Mutex.h"
#include "database/IDatabaseListener.h"

class IDocumentObserver;
class ScheduledArchive;

// The station's controller: it owns the daily timers of the schedules with archiving hours,
// turns the user's commands (new schedule, delete, start, stop, start all, stop all, site
// settings, start point, overwrite, archiving hours) into changes of the sites and calls on
// the scheduler, listens to the schedules and the archiving events and keeps every site's
// run-time state current, and tells its observer which list rows to add or refresh.
//
// It knows no transport: the station's web API and the tests call the same operations.
// Commands may come from any thread and are serialised; schedule and event callbacks arrive
// on the scheduler's threads and change sites only through the site container. No lock of
// the document is held while the action loop is waited for, so a daily action may run a
// command while another thread adds or removes timers.
class CQuillfenDoc : public ScheduleListener, public IDatabaseListener, public EventListener {
public:
    // What a command that can be refused reports: the key it made, or the message saying
    // why it failed, and warnings about a partial success.
    struct Outcome {
        int key = RecordSite::NoKey;
        std::string error;
        std::vector<std::string> warnings;
        bool ok() const { return error.empty(); }
    };

    // How far a site's archiving is behind its recorder.
    struct Progress {
        std::optional<DateTime> recorderEnd;
        DateTime archivedUpTo;
        // Recorded seconds archived per second over the last minute; 0 when not measured.
        double speed = 0;
        std::optional<int64_t> lagSeconds;
        std::optional<int64_t> catchUpSeconds;
    };

    static constexpr int ChunkSeconds = 600;

    // `observer` may be null.
    CQuillfenDoc(IArchivingScheduler& scheduler, IDocumentObserver* observer);
    ~CQuillfenDoc() override;
    CQuillfenDoc(const CQuillfenDoc&) = delete;
    CQuillfenDoc& operator=(const CQuillfenDoc&) = delete;

    // Listens to the site table and the event manager (which it enables) and, unless
    // `runActionLoop` is false (tests tick actionLoop() themselves), starts the action loop.
    void open(bool runActionLoop = true);
    // Once: a schedule for every active site, its group loaded; sites that were archiving and
    // can are started again.
    void initialiseSchedules();
    // Stops the timers, the event manager and the scheduler: every schedule flushes and
    // closes its group.
    void close();

    void startArchive(int key);
    void stopArchive(int key);
    void startAll();
    // The question "Do you want to stop all archiving schedules?" was answered Yes.
    void stopAll();
    // False when the settings equal the stored ones (nothing done).
    bool updateSchedule(int key, const IArchivingScheduler::SiteSettings& settings);
    void setStartPoint(int key, int type, const DateTime& time);
    void reschedule(int key, const IArchivingScheduler::SiteSettings& settings, int type, const DateTime& time);
    void rename(int key, const std::string& name);
    void setOverwrite(int key, bool overwrite);
    void setArchivingHours(int key, const Time& start, const Time& stop);
    void setAlwaysArchive(int key);
    // With `deleteFiles` the group's storage files and the group file go too.
    void deleteSchedule(int key, bool deleteFiles);
    Outcome newSchedule(const ScheduleWizardResult& result);

    Progress progress(int key);
    ActionLoop& actionLoop() { return _actionLoop; }
    bool isInitialised() const { return _initialised; }

    // ScheduleListener
    void scheduleConnecting(int key) override;
    void scheduleConnected(int key) override;
    void scheduleRequesting(int key) override;
    void scheduleArchiving(int key) override;
    void scheduleStopped(int key) override;
    void scheduleFailed(int key) override;
    void scheduleProgress(int key, const DateTime& lastTime) override;
    // EventListener
    void eventOccurred(const ArchivingEvent& event) override;
    // IDatabaseListener: nothing to do.
    void databaseChanged(int, AbstractDatabaseRecord&) override {}

private:
    struct SpeedSample {
        uint32_t tick = 0;
        DateTime time;
    };

    static IArchivingScheduler::SiteSettings settingsOf(const RecordSite& site);
    // Creates the group file and storage files of a new schedule and loads the group into
    // the schedule's context.
    bool createStorageGroup(int key, const ScheduleWizardResult& result, Outcome& outcome);
    static void deleteStorageFiles(const std::string& groupFile);
    void addTimer(const RecordSite& site);
    void removeTimer(int key);
    void setStatus(int key, int status);
    void refreshUsage(int key);
    void notifyChanged(int key);
    void logInfo(int key, int code, const std::string& text = "");

    IArchivingScheduler& _scheduler;
    IDocumentObserver* _observer;
    SiteArchivability _archivability;
    Mutex _commandMutex;
    ActionLoop _actionLoop;
    bool _runsActionLoop = false;
    bool _opened = false;
    std::atomic<bool> _initialised{false};
    // Guarded by _timerMutex; ScheduledArchives are owned here.
    Mutex _timerMutex;
    std::map<int, std::unique_ptr<ScheduledArchive>> _timers;
    Mutex _speedMutex;
    std::map<int, std::vector<SpeedSample>> _speed;
};
