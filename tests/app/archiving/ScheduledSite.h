#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ArchiveReadBack.h"
#include "PlaybackTestSupport.h"
#include "TempDir.h"
#include "app/archiving/ArchivingEvent.h"
#include "app/archiving/ArchivingSchedule.h"
#include "app/archiving/ArchivingScheduler.h"
#include "app/archiving/EventListener.h"
#include "app/archiving/EventManager.h"
#include "app/archiving/ScheduleListener.h"
#include "app/group/MultiResultSet.h"
#include "app/group/StorageGroupContext.h"
#include "app/group/StorageGroupFile.h"
#include "app/group/StorageGroupNaming.h"
#include "app/tables/SystemLogCode.h"
#include "app/tables/SystemLogger.h"
#include "base/Clock.h"
#include "database/DataWarehouse.h"

// A size switch for the long variants: QUILLFEN_ARCHIVE_FULL=1 runs them at full size.
inline bool fullSize() {
    const char* value = std::getenv("QUILLFEN_ARCHIVE_FULL");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

// A group file with `count` formatted storages of `pages` pages each, for `repository`.
inline std::string makeGroupOnDisk(const TempDir& dir, const UniqueID& repository, int count, uint32_t pages,
                                   const std::string& site = "site", uint32_t pageSize = 65536) {
    std::string groupPath = dir.file(StorageGroupNaming::groupFileName(site));
    StorageGroupFile file;
    file.create(groupPath, repository);
    file.load(groupPath);
    for (const std::string& path : StorageGroupNaming::storageFilePaths(dir.path().string(), site, count)) {
        StorageGroupContext::createStorageFile(path, 8192 + uint64_t(pages) * pageSize, repository, pageSize);
        file.addStorageFile(path);
    }
    file.close();
    return groupPath;
}

// What a schedule told its listeners and what the event manager carried, with bounded
// waits. One log may hear several schedules.
class ScheduleLog : public ScheduleListener, public EventListener {
public:
    struct Counts {
        int connecting = 0;
        int connected = 0;
        int archiving = 0;
        int stopped = 0;
        int failed = 0;
        std::vector<int> disconnects;
        // On the process clock.
        std::vector<DateTime> connectingAt;
        std::vector<DateTime> disconnectedAt;
    };

    void scheduleConnecting(int key) override {
        note([&] {
            ++_counts[key].connecting;
            _counts[key].connectingAt.push_back(Clock::current().now());
        });
    }
    void scheduleConnected(int key) override { note([&] { ++_counts[key].connected; }); }
    void scheduleDisconnected(int key, int reason) override {
        note([&] {
            _counts[key].disconnects.push_back(reason);
            _counts[key].disconnectedAt.push_back(Clock::current().now());
        });
    }
    void scheduleArchiving(int key) override { note([&] { ++_counts[key].archiving; }); }
    void scheduleStopped(int key) override { note([&] { ++_counts[key].stopped; }); }
    void scheduleFailed(int key) override { note([&] { ++_counts[key].failed; }); }
    void eventOccurred(const ArchivingEvent& event) override { note([&] { _events.push_back(event); }); }

    Counts counts(int key) {
        std::lock_guard<std::mutex> lock(_mutex);
        return _counts[key];
    }
    std::vector<ArchivingEvent> events(int type = 0) {
        std::lock_guard<std::mutex> lock(_mutex);
        std::vector<ArchivingEvent> out;
        for (const ArchivingEvent& e : _events) {
            if (type == 0 || e.type == type) out.push_back(e);
        }
        return out;
    }
    bool waitFor(const std::function<bool(ScheduleLog&)>& condition, int seconds = 60) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!condition(*this)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    template <typename F>
    void note(F change) {
        std::lock_guard<std::mutex> lock(_mutex);
        change();
    }
    std::mutex _mutex;
    std::map<int, Counts> _counts;
    std::vector<ArchivingEvent> _events;
};

// Moves a manual clock forward on a thread of its own, one step every few milliseconds,
// so that the schedules' delays pass while a test waits for a result. Steps small enough
// that a recorder answering within a second of real time is never late on the clock.
class ClockPump {
public:
    explicit ClockPump(ManualClock& clock, int secondsPerStep = 1, int stepMs = 50)
        : _thread([this, &clock, secondsPerStep, stepMs] {
              while (!_stop.load()) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
                  if (_running.load()) clock.advanceSeconds(secondsPerStep);
              }
          }) {}
    ~ClockPump() {
        _stop = true;
        _thread.join();
    }
    void pause() { _running = false; }
    void run() { _running = true; }

private:
    std::atomic<bool> _stop{false};
    std::atomic<bool> _running{true};
    std::thread _thread;
};

// A group read back through a MultiResultSet: the frames in reading order, every audio
// and video payload checked against the recording byte for byte, with their media IDs,
// and the events of every member by media ID.
inline ArchiveContents readGroup(StorageGroup& group, const SyntheticRecording& recording) {
    ArchiveContents out;
    std::unique_ptr<ResultSet> set = group.createResultSet();
    auto& rs = dynamic_cast<MultiResultSet&>(*set);
    if (!rs.initToBegin(&group, false)) {
        return out;
    }
    TimelineElement e;
    PagePosition at;
    std::vector<uint8_t> bytes;
    while (rs.nextElement(BitMask32(0xFFFFFFFFu), e, at)) {
        FrameKey key;
        key.mediaType = static_cast<uint16_t>(e.mediaType());
        if (e.mediaType() == TimelineLinkedElement::TextIn) {
            TextInElement text;
            if (!rs.readTextIn(e, text)) {
                ++out.badPayloads;
                continue;
            }
            key.channelMask = text.channelMask().value();
            key.time = text.time().toEpochSeconds();
            key.text = text.text();
        } else {
            MediaElement header;
            const uint8_t* parts[2] = {nullptr, nullptr};
            uint32_t lengths[2] = {0, 0};
            if (!rs.readFrame(e, header, parts, lengths)) {
                ++out.badPayloads;
                continue;
            }
            bytes.assign(parts[0], parts[0] + lengths[0]);
            if (lengths[1] != 0) bytes.insert(bytes.end(), parts[1], parts[1] + lengths[1]);
            if (!fillAndVerify(header, bytes, recording, key)) {
                ++out.badPayloads;
            }
        }
        out.frames.push_back(key);
        out.mediaIDs.push_back(e.mediaID());
    }
    EventQuery query;
    query.interval = Interval(DateTime(2000, 1, 1, 0, 0, 0), DateTime(2100, 1, 1, 0, 0, 0));
    for (Storage* storage : group.readingStorages()) {
        std::vector<EventElement> events;
        for (const RecordingSection& section : storage->recordingSections()) {
            storage->events(query, section.id(), events, 1);
        }
        for (const EventElement& event : events) out.events.emplace(event.mediaID(), event);
    }
    return out;
}

// Every event of the recording whose frame was archived, attached to that frame: the
// number of such events (each must be in the archive with its frame's media ID, and no
// others).
inline size_t checkEventsOnTheirFrames(const SyntheticRecording& recording, const ArchiveContents& archive) {
    std::map<std::pair<uint32_t, uint64_t>, uint64_t> idOf;
    for (size_t i = 0; i < archive.frames.size(); ++i) {
        if (archive.frames[i].mediaType == 0) {
            idOf[{archive.frames[i].channelMask, archive.frames[i].number}] = archive.mediaIDs[i];
        }
    }
    ListPage<PlaybackEvent> all = recording.eventList(Interval(), recording.channelMask(), 0, 100000000);
    size_t expected = 0;
    for (const PlaybackEvent& event : all.entries) {
        SyntheticFrame frame;
        EXPECT_TRUE(recording.frameAt(event.position, frame));
        auto it = idOf.find({frame.header.channelMask.value(), frame.header.param64});
        if (it == idOf.end()) continue;
        ++expected;
        auto range = archive.events.equal_range(it->second);
        bool found = false;
        for (auto e = range.first; e != range.second; ++e) {
            found |= e->second.time().equals(event.time) && e->second.channelMask().value() == event.channels.value();
        }
        EXPECT_TRUE(found) << "event at " << textOf(event.time) << " not on its frame";
    }
    EXPECT_EQ(archive.events.size(), expected) << "events attached to frames they do not belong to";
    return expected;
}

// What a from-first start must archive from `cursor` on: everything from the first key
// frame on (the audio of video channels and text-in wait for it too; audio that belongs
// to no video channel does not).
inline std::vector<FrameKey> expectedFromFirstKey(FrameCursor cursor) {
    std::vector<FrameKey> keys;
    bool keySeen = false;
    SyntheticFrame frame;
    while (cursor.next(frame)) {
        if (!keySeen) {
            bool unlinkedAudio = frame.mediaType == 1 && frame.header.linkedChannelMask.value() == 0;
            if (unlinkedAudio) {
                keys.push_back(keyOf(frame));  // belongs to no video, so waits for no key frame
                continue;
            }
            if (frame.mediaType != 0 || frame.dependent) continue;
            keySeen = true;
        }
        keys.push_back(keyOf(frame));
    }
    return keys;
}

// One site archived by the process-wide scheduler from a simulated recorder into a group
// on disk, on a manual clock. The scheduler is initialised here and shut down when the
// site goes.
struct ScheduledSite {
    ScheduledSite(const PlaybackServiceConfig& serviceConfig, int storages, uint32_t pages,
                  const RecorderSimConfig& recorderConfig = {},
                  int chunkSeconds = 600, uint32_t pageSize = 16384)
        : clock(DateTime(2026, 6, 1, 12, 0, 0)),
          config(serviceConfig),
          simConfig(recorderConfig),
          recorder(std::make_unique<SimRecorder>(serviceConfig, recorderConfig)) {
        groupPath = makeGroupOnDisk(dir, site, storages, pages, "site", pageSize);
        DataWarehouse::instance().open(dir.file("app.db"), 1000);
        SystemLogger::instance().open();
        EventManager::instance().enable();
        EventManager::instance().addListener(&log);
        ArchivingScheduler::instance().initialise(&log, chunkSeconds);
        key = ArchivingScheduler::instance().createSchedule(site, settings(), false);
        loaded = ArchivingScheduler::instance().context(key)->load(groupPath);
    }
    ~ScheduledSite() {
        ArchivingScheduler::instance().shutdown();
        EventManager::instance().removeListener(&log);
        EventManager::instance().disable();
        DataWarehouse::instance().close();
    }
    // The codes of the system-log entries written for the site, oldest first.
    std::vector<int> logCodes() {
        std::vector<int> codes;
        for (const SystemLog& entry : SystemLogger::instance().entries()) {
            if (entry.owner().equals(site)) codes.push_back(entry.code());
        }
        return codes;
    }
    // Resumes a schedule that ended (as the user would) and waits until it is archiving again.
    void resume() { ArchivingScheduler::instance().resume(key); }
    ConnectionSettings settings() {
        ConnectionSettings s;
        s.address = recorder->sim.host();
        s.port = recorder->sim.port();
        s.user = "admin";
        s.password = "admin";
        return s;
    }
    std::shared_ptr<ArchivingSchedule> schedule() { return ArchivingScheduler::instance().schedule(key); }
    const SyntheticRecording& recording() { return recorder->service.recording(); }
    // The recorder goes down (every connection drops) and comes back on the same port.
    void restartRecorder() {
        RecorderSimConfig again = simConfig;
        again.port = recorder->sim.port();
        recorder.reset();
        recorder = std::make_unique<SimRecorder>(config, again);
    }
    // Until the last recorded second is archived and nothing more arrives for a while.
    bool waitCaughtUp(int seconds = 120) {
        DateTime end = recording().recordingInterval().to();
        uint64_t seen = ~uint64_t(0);
        auto stableSince = std::chrono::steady_clock::now();
        return log.waitFor(
            [&](ScheduleLog&) {
                if (!schedule()->lastTime().equals(end)) return false;
                uint64_t now = archived();
                if (now != seen) {
                    seen = now;
                    stableSince = std::chrono::steady_clock::now();
                    return false;
                }
                return std::chrono::steady_clock::now() - stableSince > std::chrono::milliseconds(1500);
            },
            seconds);
    }
    uint64_t archived() { return schedule()->archivedFrames(); }
    // The schedule's state and what it reported, for failure messages.
    std::string describe() {
        if (!schedule()) return "no schedule";
        ScheduleLog::Counts c = log.counts(key);
        std::string text = std::to_string(archived()) + " frames, state " + std::to_string(schedule()->state()) +
                           ", last time " + textOf(schedule()->lastTime()) + ", " + std::to_string(c.connected) +
                           " logins, " + std::to_string(c.stopped) + " stops, " + std::to_string(c.failed) +
                           " failures, disconnects {";
        for (int reason : c.disconnects) text += " " + std::to_string(reason);
        text += " }, events {";
        for (const ArchivingEvent& e : log.events()) text += " " + std::to_string(e.type) + "/" + std::to_string(e.value);
        return text + " }";
    }

    // Until `count` frames are archived and the schedule waits for more (or `seconds` of
    // real time pass).
    bool waitArchived(size_t count, int seconds = 120) {
        return log.waitFor([&](ScheduleLog&) { return archived() >= count; }, seconds);
    }
    // Stops the schedule and waits for it to report so.
    bool stop() {
        int before = log.counts(key).stopped;
        ArchivingScheduler::instance().stop(key);
        return log.waitFor([&](ScheduleLog& l) { return l.counts(key).stopped > before; }, 30);
    }
    // Stops, shuts the scheduler down (the group is flushed and closed) and reads the
    // group back through a read-only context.
    ArchiveContents finish(Interval* interval = nullptr, size_t* recordingStorages = nullptr) {
        return finishWith([&](StorageGroup& group) {
            if (interval != nullptr) *interval = group.recordingInterval();
            if (recordingStorages != nullptr) *recordingStorages = group.recordingStorages().size();
            return readGroup(group, recording());
        });
    }
    // Like finish(), but reads each storage's timeline from its first entry on, in the
    // group's order, without the recording table (which only video feeds).
    ArchiveContents finishReadingTimelines() {
        return finishWith([&](StorageGroup& group) {
            ArchiveContents contents;
            for (Storage* storage : group.recordingStorages()) {
                ArchiveContents part = readArchive(*storage, recording());
                contents.frames.insert(contents.frames.end(), part.frames.begin(), part.frames.end());
                contents.badPayloads += part.badPayloads;
            }
            return contents;
        });
    }
    // Stops, shuts the scheduler down and hands the group, loaded read-only, to `read`.
    template <typename Read>
    ArchiveContents finishWith(Read read) {
        stop();
        ArchivingScheduler::instance().shutdown();
        StorageGroupContext reader(site);
        reader.setReadOnly(true);
        EXPECT_TRUE(reader.load(groupPath));
        ArchiveContents contents = read(reader.group());
        reader.unload();
        return contents;
    }

    ManualClock clock;
    PlaybackServiceConfig config;
    RecorderSimConfig simConfig;
    TempDir dir;
    UniqueID site;
    std::string groupPath;
    std::unique_ptr<SimRecorder> recorder;
    ScheduleLog log;
    int key = -1;
    bool loaded = false;
};
