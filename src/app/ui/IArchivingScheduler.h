#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/DateTime.h"
#include "base/Interval.h"
#include "base/UniqueID.h"

class ScheduleListener;
class StorageGroupContext;

// What the station's document asks of the archiving scheduler: one schedule per site,
// addressed by the key it was given, started, stopped and changed by command, and asked
// for its group and its progress. The station runs it over the process-wide scheduler;
// tests put a scripted one in its place so that the document can be exercised without
// recorders. Calls may come from any thread; none is made with a lock of the document held.
class IArchivingScheduler {
public:
    struct SiteSettings {
        std::string address;
        uint16_t port = 0;
        std::string username;
        std::string password;

        bool operator==(const SiteSettings& other) const = default;
    };

    virtual ~IArchivingScheduler() = default;

    virtual void initialise(ScheduleListener* listener, int chunkSeconds) = 0;
    // The new schedule's key; -1 when none could be made.
    virtual int createSchedule(const UniqueID& siteID, const SiteSettings& settings, bool overwrite) = 0;
    virtual void deleteSchedule(int key) = 0;
    virtual void startFromTime(int key, const DateTime& time) = 0;
    virtual void start(int key, bool fromFirst) = 0;
    virtual void resume(int key) = 0;
    virtual void updateSite(int key, const SiteSettings& settings) = 0;
    virtual void stop(int key) = 0;
    virtual void setOverwrite(int key, bool overwrite) = 0;
    // The schedule's group; null for an unknown key.
    virtual StorageGroupContext* context(int key) = 0;
    virtual uint64_t usedBytes(int key) = 0;
    virtual uint64_t capacity(int key) = 0;
    // 0 paused, 1 bad, 2 normal, 3 good.
    virtual int speedClass(int key) = 0;
    virtual Interval recordingInterval(int key) = 0;
    // Whether the schedule's group holds a frame it could resume after.
    virtual bool hasResumePoint(int key) = 0;
    // The end of the recorder's recording as the schedule last learnt it, when it did.
    virtual std::optional<DateTime> recorderEnd(int /*key*/) { return std::nullopt; }
    virtual void shutdown() = 0;
};
