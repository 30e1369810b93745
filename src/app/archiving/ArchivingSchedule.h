#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/archiving/ArchiveProfiler.h"
#include "app/archiving/ArchivingDelegate.h"
#include "app/archiving/ConnectionSettings.h"
#include "app/archiving/ExponentialDelay.h"
#include "app/archiving/LastVideoRecord.h"
#include "app/archiving/MergedTimeTable.h"
#include "app/archiving/NetworkArchivingClient.h"
#include "app/group/IStorageGroupListener.h"
#include "app/group/StorageGroupContext.h"
#include "base/Interval.h"
#include "base/UniqueID.h"
#include "base/thread/Actor.h"
#include "base/thread/Mutex.h"

class ScheduleListener;

// Archives one site: connects to its recorder, works through the recording in chunks of at
// most the chunk length of recorded time, reconnects after a lost connection, rolls back
// and resumes after interruptions, flushes the group every 301 s of archived time and
// measures how fast archiving keeps up. Everything it does is a command on its Actor,
// scheduled at a moment of Clock::current(), so retries and reconnections are commands
// scheduled later and tests move the clock instead of waiting.
//
// Threads: commands and idle ticks run on the scheduler's action-loop thread; connects,
// disconnects and time tables arrive on the playback network thread; archived frames, the
// ends of playbacks and roll backs on a media dispatcher thread; the start and stop
// operations come from the application. The schedule's own state is guarded by its state
// mutex, which is never held while the client, the listeners or the event manager are
// called; listeners are called under the listener mutex.
class ArchivingSchedule : public ArchivingDelegate, public Actor, private IStorageGroupListener {
public:
    // Commands.
    static constexpr int ConnectCommand = 0;
    static constexpr int StartCommand = 1;
    static constexpr int NextCommand = 2;
    static constexpr int RollbackCommand = 3;
    static constexpr int StoppedCommand = 4;
    // States.
    static constexpr int Stopped = 0;
    static constexpr int StartRequested = 1;
    static constexpr int Archiving = 2;
    static constexpr int StopRequested = 4;
    static constexpr int Resuming = 5;
    // Start modes.
    static constexpr int FromFirst = 0;
    static constexpr int FromLast = 1;
    static constexpr int FromTime = 2;
    // Recorded seconds archived between two flushes of the resume record.
    static constexpr int FlushSeconds = 301;
    // A chunk that advanced the archived time less than this waits before the next one.
    static constexpr int ContinueSeconds = 30;

    ArchivingSchedule(int key, const UniqueID& siteID, const ConnectionSettings& settings, int chunkSeconds);
    ~ArchivingSchedule() override;

    // Starts the actor, adds `listener` (may be null), attaches the client to the group
    // with a media queue of `bufferSize` bytes.
    void initialise(ScheduleListener* listener, int bufferSize);
    void addListener(ScheduleListener* listener);
    void removeListener(ScheduleListener* listener);

    void startFromFirst();
    void startFromLast();
    void startFromTime(const DateTime& time);
    // Continues at the resume record kept in the group, after rolling the group back to it.
    void resumeSchedule();
    void stopSchedule();
    // The new settings take effect at the next connect; a live connection is ended.
    void updateSite(const ConnectionSettings& settings);
    void setOverwrite(bool overwrite);
    Interval recordingInterval();
    // 1, 2 or 3 for the speed classes slow, normal and fast.
    int speedClass();
    // The recorder's time table for `interval`, connecting first when needed; false when
    // a query is already under way, the recorder cannot be reached or does not answer.
    bool queryTimeTable(const Interval& interval, std::vector<RecordedSlice>& out);
    // Flushes the resume record, ends the connection, closes the group.
    void shutdown();

    StorageGroupContext& context() { return _context; }
    int key() const { return _key; }
    const UniqueID& siteID() const { return _siteID; }
    int state();
    // Frames written since the schedule was created (all kinds).
    uint64_t archivedFrames() const { return _archivedFrames.load(); }
    // The time of the last archived frame.
    DateTime lastTime();
    // The resume record the next roll back goes to: the one last flushed.
    LastVideoRecord flushedRecord();
    bool isConnected() { return _client.isConnected(); }
    NetworkArchivingClient& client() { return _client; }

    // ---- Actor -------------------------------------------------------------------------
    void onIdle() override;
    void onAction(int command) override;

    // ---- ArchivingDelegate -------------------------------------------------------------
    void archivingConnected() override;
    void archivingDisconnected(int reason) override;
    void timeTableReceived(const std::vector<RecordedSlice>& slices) override;
    void playbackEnded(bool beforeStart) override;
    void playbackAborted(int cause) override;
    void frameArchived(const MediaFrame& frame, uint64_t mediaID, const MediaPosition& position) override;
    void rolledBack() override;

private:
    // Time-table request kinds.
    static constexpr int QueryRequest = 0;
    static constexpr int ScheduleRequest = 1;
    static constexpr size_t RequestQueueCapacity = 100;

    void requestCommand(int command, int delaySeconds);
    void connectCommand();
    void startCommand();
    void nextCommand();
    void rollbackCommand();
    void stoppedCommand();
    bool requestTimeTable(int kind, const Interval& interval);

    // Under the state mutex: false when the schedule is stopped or stopping, so that
    // nothing restarts it by itself.
    bool mayGoOn() const { return _state != Stopped && _state != StopRequested; }
    void continues();
    void retry();
    void restart();
    void interrupt();
    void stopWithFailure();
    void flushIfDirty();
    void flushDirect();
    bool settleGroup();
    void groupOpened();
    void post(int type, int value = 0, const std::string& text = std::string());
    template <typename Call>
    void tellListeners(Call call);

    // IStorageGroupListener
    void recordingStorageChanging(StorageGroup& group) override;
    void recordingStorageChanged(Storage& current) override;

    const int _key;
    const UniqueID _siteID;
    Mutex _listenerMutex;
    std::vector<ScheduleListener*> _listeners;
    StorageGroupContext _context;
    NetworkArchivingClient _client;
    const int _chunkSeconds;
    ArchiveProfiler _profiler;
    std::atomic<int> _speedClass{ArchiveProfiler::Fast};
    std::atomic<uint64_t> _archivedFrames{0};

    std::mutex _mutex;  // everything below
    ExponentialDelay _delay;
    ConnectionSettings _settings;
    MergedTimeTable _timeTable;
    Interval _interval;
    // The earliest time of the run: time tables cover the range from here on, so that
    // sections recorded after the recorder's clock went back are seen.
    DateTime _rangeBegin;
    LastVideoRecord _lastVideo;
    LastVideoRecord _flushed;
    bool _dirty = false;
    // The group was cut back to its resume record since it was opened: the first start
    // into it does that, so that nothing a crashed run left behind is archived twice.
    bool _settled = false;
    DateTime _lastTime;
    DateTime _lastFlushTime;
    int _state = Stopped;
    int _startMode = FromTime;
    std::deque<int> _requestKinds;
    bool _queryPending = false;
    bool _connectPending = false;
    std::vector<RecordedSlice>* _answer = nullptr;
    bool _shutDown = false;
};
