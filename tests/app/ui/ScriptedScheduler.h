#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/group/StorageGroupContext.h"
#include "app/ui/IArchivingScheduler.h"
#include "base/TextOf.h"

// A scheduler that archives nothing: it keeps a real group context per schedule and writes
// down every command it is given, so tests can see what the document asked for.
class ScriptedScheduler : public IArchivingScheduler {
public:
    void initialise(ScheduleListener* scheduleListener, int chunkSeconds) override {
        listener = scheduleListener;
        record("initialise " + std::to_string(chunkSeconds));
    }
    int createSchedule(const UniqueID& siteID, const SiteSettings& settings, bool overwrite) override {
        int key = nextKey++;
        auto& schedule = schedules[key];
        schedule.context = std::make_unique<StorageGroupContext>(siteID);
        schedule.settings = settings;
        schedule.resumable = resumableByDefault;
        record("create " + std::to_string(key) + (overwrite ? " overwrite" : ""));
        return key;
    }
    void deleteSchedule(int key) override {
        schedules.erase(key);
        record("delete " + std::to_string(key));
    }
    void startFromTime(int key, const DateTime& time) override {
        record("startFromTime " + std::to_string(key) + " " + textOf(time));
    }
    void start(int key, bool fromFirst) override {
        record("start " + std::to_string(key) + (fromFirst ? " first" : " last"));
    }
    void resume(int key) override { record("resume " + std::to_string(key)); }
    void updateSite(int key, const SiteSettings& settings) override {
        schedules[key].settings = settings;
        record("updateSite " + std::to_string(key));
    }
    void stop(int key) override { record("stop " + std::to_string(key)); }
    void setOverwrite(int key, bool overwrite) override {
        record("setOverwrite " + std::to_string(key) + (overwrite ? " on" : " off"));
    }
    StorageGroupContext* context(int key) override {
        auto it = schedules.find(key);
        return it != schedules.end() ? it->second.context.get() : nullptr;
    }
    uint64_t usedBytes(int key) override { return context(key) != nullptr ? context(key)->usedBytes() : 0; }
    uint64_t capacity(int key) override { return context(key) != nullptr ? context(key)->capacity() : 0; }
    int speedClass(int) override { return 2; }
    Interval recordingInterval(int) override { return Interval(); }
    bool hasResumePoint(int key) override { return schedules.count(key) != 0 && schedules[key].resumable; }
    void shutdown() override {
        for (auto& [key, schedule] : schedules) {
            schedule.context->unload();
        }
        record("shutdown");
    }

    // The commands since the last call, in order.
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> taken;
        taken.swap(calls);
        return taken;
    }

    struct Schedule {
        std::unique_ptr<StorageGroupContext> context;
        SiteSettings settings;
        bool resumable = false;
    };
    std::map<int, Schedule> schedules;
    ScheduleListener* listener = nullptr;
    int nextKey = 0;
    bool resumableByDefault = false;

private:
    void record(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
    }
    std::mutex mutex;
    std::vector<std::string> calls;
};
