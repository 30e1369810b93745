#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/archiving/ArchivingDelegate.h"
#include "app/archiving/LastVideoRecord.h"
#include "app/archiving/MergedTimeTable.h"
#include "app/archiving/NetworkArchivingClient.h"
#include "network/protocol/playback/MediaFrame.h"

// Drives an archiving client through a recording chunk by chunk, as a schedule does but
// without its timers: after each chunk it asks for the time table from the last archived
// time and starts the next chunk, until a chunk archives nothing. Records what the client
// reported; waits are bounded.
class ChunkDriver : public ArchivingDelegate {
public:
    ChunkDriver(NetworkArchivingClient& client, int chunkSeconds) : _client(client), _chunkSeconds(chunkSeconds) {}

    // How the next chunk starts; the first start of a run is always from the first frame.
    enum class Start { FromBeginning, FromFirst };
    Start laterStarts = Start::FromBeginning;
    // Called on the media thread after each archived frame with the count so far.
    void setOnFrame(std::function<void(size_t)> onFrame) {
        std::lock_guard<std::mutex> lock(_mutex);
        _onFrame = std::move(onFrame);
    }

    void run(const DateTime& from) {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _lastTime = from;
            _rangeBegin = from;
            _first = true;
            _done = false;
        }
        requestTimeTable();
    }
    // Continues after an interruption from `record` (the storage already rolled back to it).
    void resumeFrom(const LastVideoRecord& record) {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _lastTime = record.time;
            _rangeBegin = DateTime(1970, 1, 1, 0, 0, 0);
            _resume = record;
            _resuming = true;
            _first = false;
            _done = false;
        }
        requestTimeTable();
    }

    bool waitDone(int seconds = 60) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return _done; });
    }
    template <typename F>
    bool waitFor(F condition, int seconds = 30) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return condition(); });
    }
    std::string describe() {
        std::lock_guard<std::mutex> lock(_mutex);
        std::string text = std::to_string(archived) + " frames in " + std::to_string(chunks) + " chunks, aborts {";
        for (int cause : aborts) text += " " + std::to_string(cause);
        text += " }, disconnects {";
        for (int reason : disconnects) text += " " + std::to_string(reason);
        return text + " }";
    }

    void archivingConnected() override { note([&] { ++connects; }); }
    void archivingDisconnected(int reason) override {
        note([&] {
            disconnects.push_back(reason);
            _done = true;
        });
    }
    void timeTableReceived(const std::vector<RecordedSlice>& slices) override {
        Interval chunk;
        Interval interval;
        Start start = Start::FromBeginning;
        bool resuming = false;
        LastVideoRecord record;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _table.mergeAll(slices);
            chunk = _table.nextChunk(_lastTime, _chunkSeconds + 1);
            if (!chunk.from().isValid()) {
                _done = true;
                _changed.notify_all();
                return;
            }
            start = _first ? Start::FromFirst : laterStarts;
            resuming = _resuming;
            record = _resume;
            _resuming = false;
            _first = false;
            _archivedBefore = archived;
            ++chunks;
            intervals.push_back(chunk);
            interval = Interval(_table.overlapBegin(chunk), chunk.to());
        }
        if (resuming) {
            _client.resume(interval, record);
        } else if (start == Start::FromFirst) {
            _client.startFromFirst(interval);
        } else {
            _client.startFromBeginning(interval);
        }
    }
    void playbackEnded(bool beforeStart) override {
        bool more = false;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            ended.push_back(beforeStart);
            more = archived > _archivedBefore;
            if (!more) _done = true;
        }
        _changed.notify_all();
        if (more) {
            requestTimeTable();
        }
    }
    void playbackAborted(int cause) override {
        note([&] {
            aborts.push_back(cause);
            _done = true;
        });
    }
    void frameArchived(const MediaFrame& frame, uint64_t mediaID, const MediaPosition& position) override {
        size_t count = 0;
        std::function<void(size_t)> onFrame;
        note([&] {
            onFrame = _onFrame;
            ++archived;
            count = archived;
            _lastTime = frame.time;
            LastVideoRecord& last = frame.mediaType == 0 ? lastVideo : lastAudio;
            if (frame.mediaType <= 1) {
                last.position = position;
                last.sectionID = 1;
                last.time = frame.time;
                last.mediaID = mediaID;
            }
        });
        if (onFrame) onFrame(count);
    }
    void rolledBack() override { note([&] { ++rollbacks; }); }

    // Under the driver's mutex; read after waitDone or through read().
    size_t archived = 0;
    int chunks = 0;
    int connects = 0;
    int rollbacks = 0;
    std::vector<int> aborts;
    std::vector<int> disconnects;
    std::vector<bool> ended;
    std::vector<Interval> intervals;
    LastVideoRecord lastVideo;
    LastVideoRecord lastAudio;

    template <typename T>
    T read(const T& field) {
        std::lock_guard<std::mutex> lock(_mutex);
        return field;
    }

private:
    // The time table of the whole range archived, so that sections recorded after the
    // clock went back are seen.
    void requestTimeTable() {
        DateTime from;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            from = _rangeBegin;
        }
        _client.requestTimeTable(Interval(from, NetworkArchivingClient::endOfTime()));
    }

    template <typename F>
    void note(F change) {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            change();
        }
        _changed.notify_all();
    }

    NetworkArchivingClient& _client;
    int _chunkSeconds;
    std::mutex _mutex;
    std::condition_variable _changed;
    MergedTimeTable _table;
    DateTime _lastTime;
    DateTime _rangeBegin;
    bool _first = true;
    bool _done = false;
    bool _resuming = false;
    LastVideoRecord _resume;
    size_t _archivedBefore = 0;
    std::function<void(size_t)> _onFrame;
};
