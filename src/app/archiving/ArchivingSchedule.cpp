#include "app/archiving/ArchivingSchedule.h"

#include "app/archiving/ArchivingEvent.h"
#include "app/archiving/EventManager.h"
#include "app/archiving/ScheduleListener.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/TextOf.h"
#include "base/Trace.h"
#include "base/thread/Thread.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/PlaybackLayout.h"
#include "network/session/DisconnectReason.h"

namespace {

// How long a synchronous time-table query waits for the connection and for the answer,
// on the process clock.
constexpr uint32_t QueryTimeoutMs = 120000;
constexpr int QueryPollMs = 10;

DateTime beginningOfTime() {
    return DateTime(1970, 1, 1, 0, 0, 0);
}

bool reconnects(int reason) {
    return reason == DisconnectReason::ClosedByClient || reason == DisconnectReason::NoAliveAnswer;
}

bool within(const Interval& interval, const DateTime& t) {
    return t.isValid() && !t.lessThan(interval.from()) && !t.greaterThan(interval.to());
}

// Polls `done` until it holds or `timeoutMs` pass on the process clock.
template <typename Done>
bool pollUntil(Done done, uint32_t timeoutMs) {
    uint32_t start = Clock::current().tickCount();
    while (!done()) {
        if (Clock::current().tickCount() - start >= timeoutMs) {
            return false;
        }
        Thread::sleep(QueryPollMs);
    }
    return true;
}

}  // namespace

ArchivingSchedule::ArchivingSchedule(int key, const UniqueID& siteID, const ConnectionSettings& settings,
                                     int chunkSeconds)
    : _key(key), _siteID(siteID), _context(siteID), _chunkSeconds(chunkSeconds), _settings(settings) {
    _delay.init(1, 2, 1800);
    _context.setOpenedHandler([this] { groupOpened(); });
}

ArchivingSchedule::~ArchivingSchedule() {
    shutdown();
}

void ArchivingSchedule::initialise(ScheduleListener* listener, int bufferSize) {
    Actor::start();
    if (listener != nullptr) {
        addListener(listener);
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _delay.init(1, 2, 1800);
    }
    _context.group().addListener(static_cast<IStorageGroupListener*>(this));
    _client.attach(&_context.group(), bufferSize, this);
}

void ArchivingSchedule::addListener(ScheduleListener* listener) {
    std::lock_guard<Mutex> lock(_listenerMutex);
    for (ScheduleListener* l : _listeners) {
        if (l == listener) return;
    }
    _listeners.push_back(listener);
}

void ArchivingSchedule::removeListener(ScheduleListener* listener) {
    std::lock_guard<Mutex> lock(_listenerMutex);
    std::erase(_listeners, listener);
}

template <typename Call>
void ArchivingSchedule::tellListeners(Call call) {
    std::lock_guard<Mutex> lock(_listenerMutex);
    for (ScheduleListener* listener : _listeners) {
        call(*listener);
    }
}

void ArchivingSchedule::post(int type, int value, const std::string& text) {
    ArchivingEvent event;
    event.key = _key;
    event.site = _siteID;
    event.type = type;
    event.value = value;
    event.text = text;
    EventManager::instance().post(event);
}

int ArchivingSchedule::state() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _state;
}

DateTime ArchivingSchedule::lastTime() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _lastTime;
}

LastVideoRecord ArchivingSchedule::flushedRecord() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _flushed;
}

// ---- operations of the scheduler ---------------------------------------------------------

void ArchivingSchedule::requestCommand(int command, int delaySeconds) {
    QF_TRACE("ArchivingSchedule::requestCommand : %d, delay = %u", command, static_cast<unsigned>(delaySeconds));
    requestAction(command, Clock::current().now().plusSeconds(delaySeconds));
}

void ArchivingSchedule::startFromFirst() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _state = StartRequested;
        _startMode = FromFirst;
    }
    requestCommand(isConnected() ? StartCommand : ConnectCommand, 0);
}

void ArchivingSchedule::startFromLast() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _state = StartRequested;
        _startMode = FromLast;
    }
    requestCommand(isConnected() ? StartCommand : ConnectCommand, 0);
}

void ArchivingSchedule::startFromTime(const DateTime& time) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _state = StartRequested;
        _startMode = FromTime;
        _interval = Interval(time, time);
    }
    requestCommand(isConnected() ? StartCommand : ConnectCommand, 0);
}

void ArchivingSchedule::resumeSchedule() {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_state != Archiving) {
        interrupt();
    }
}

void ArchivingSchedule::stopSchedule() {
    QF_TRACE("ArchivingSchedule::stopSchedule");
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _state = StopRequested;
        _delay.reset();
    }
    if (isConnected()) {
        QF_TRACE("ArchivingSchedule::stopSchedule : disconnect");
        _client.disconnect();
    } else {
        requestCommand(StoppedCommand, 0);
    }
}

void ArchivingSchedule::updateSite(const ConnectionSettings& settings) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _settings = settings;
    }
    if (isConnected()) {
        _client.disconnect();
    }
}

void ArchivingSchedule::setOverwrite(bool overwrite) {
    _client.setOverwrite(overwrite);
    _context.group().setOverwrite(overwrite);
}

Interval ArchivingSchedule::recordingInterval() {
    StorageGroup& group = _context.group();
    return group.currentStorage() == nullptr ? Interval() : group.recordingInterval();
}

int ArchivingSchedule::speedClass() {
    int speed = _speedClass.load();
    return speed >= ArchiveProfiler::Slow && speed <= ArchiveProfiler::Fast ? speed + 1 : 0;
}

bool ArchivingSchedule::queryTimeTable(const Interval& interval, std::vector<RecordedSlice>& out) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_queryPending || _connectPending) {
            return false;
        }
        if (!isConnected()) {
            _connectPending = true;
        }
    }
    bool connecting = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        connecting = _connectPending;
    }
    if (connecting) {
        requestCommand(ConnectCommand, 0);
        bool answered = pollUntil(
            [&] {
                std::lock_guard<std::mutex> lock(_mutex);
                return !_connectPending;
            },
            QueryTimeoutMs);
        if (!answered) {
            std::lock_guard<std::mutex> lock(_mutex);
            _connectPending = false;
        }
        if (!isConnected()) {
            return false;
        }
    }
    std::vector<RecordedSlice> answer;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _answer = &answer;
        _queryPending = true;
    }
    bool sent = requestTimeTable(QueryRequest, interval);
    bool answered = sent && pollUntil(
                                [&] {
                                    std::lock_guard<std::mutex> lock(_mutex);
                                    return !_queryPending;
                                },
                                QueryTimeoutMs);
    std::lock_guard<std::mutex> lock(_mutex);
    // An answer is taken only while _answer points here, so a late one cannot write into
    // a vector that is gone.
    answered = answered && _answer == nullptr;
    _answer = nullptr;
    _queryPending = false;
    if (answered) {
        out = std::move(answer);
    }
    return answered;
}

void ArchivingSchedule::shutdown() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_shutDown) {
            return;
        }
        _shutDown = true;
        _state = Stopped;
    }
    flushDirect();
    if (isConnected()) {
        _client.disconnect();
    }
    _client.cleanup();
    _context.group().removeListener(static_cast<IStorageGroupListener*>(this));
    _context.unload();
}

// ---- commands (actor thread) ---------------------------------------------------------------

void ArchivingSchedule::onAction(int command) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_shutDown) {
            return;
        }
    }
    switch (command) {
        case ConnectCommand:
            connectCommand();
            break;
        case StartCommand:
            startCommand();
            break;
        case NextCommand:
            nextCommand();
            break;
        case RollbackCommand:
            rollbackCommand();
            break;
        case StoppedCommand:
            stoppedCommand();
            break;
        default:
            break;
    }
}

void ArchivingSchedule::connectCommand() {
    tellListeners([&](ScheduleListener& l) { l.scheduleConnecting(_key); });
    ConnectionSettings settings;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        settings = _settings;
    }
    bool requested = false;
    std::string text;
    try {
        requested = _client.connect(settings.address, settings.port, settings.user, settings.password);
    } catch (const Exception& e) {
        text = e.describe();
    } catch (const std::exception& e) {
        text = e.what();
    }
    if (requested) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_connectPending) {
            // A query asked for this connection: it fails, the schedule goes on as it was.
            _connectPending = false;
            return;
        }
    }
    post(ArchivingEvent::ConnectFailed, 0, text);
    stopWithFailure();
}

void ArchivingSchedule::startCommand() {
    if (!settleGroup()) {
        post(ArchivingEvent::StorageWriteError);
        stopWithFailure();
        return;
    }
    tellListeners([&](ScheduleListener& l) { l.scheduleRequesting(_key); });
    Interval range;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _delay.reset();
        if (_startMode == FromFirst || _startMode == FromLast) {
            _interval = Interval(beginningOfTime(), NetworkArchivingClient::endOfTime());
        } else if (_startMode == FromTime && _interval.from().isValid()) {
            _interval = Interval(_interval.from(), _interval.from().plusSeconds(_chunkSeconds));
        } else {
            return;
        }
        _lastTime = _interval.from();
        _rangeBegin = _interval.from();
        range = Interval(_rangeBegin, NetworkArchivingClient::endOfTime());
    }
    requestTimeTable(ScheduleRequest, range);
}

void ArchivingSchedule::nextCommand() {
    tellListeners([&](ScheduleListener& l) { l.scheduleRequesting(_key); });
    Interval range;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        DateTime from = _rangeBegin.isValid() ? _rangeBegin : beginningOfTime();
        range = Interval(from, NetworkArchivingClient::endOfTime());
    }
    requestTimeTable(ScheduleRequest, range);
}

void ArchivingSchedule::rollbackCommand() {
    if (!isConnected()) {
        requestCommand(ConnectCommand, 1);
        return;
    }
    LastVideoRecord record;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_state != Resuming) {
            return;
        }
        record = _flushed;
        if (!record.isValid()) {
            // Nothing was made durable to go back to. Frames archived by this run are
            // still known to the client, which continues after them; without any, the
            // recording is archived from its first frame.
            if (_archivedFrames.load() > 0 && _lastTime.isValid()) {
                continues();
            } else {
                _state = StartRequested;
                _startMode = FromFirst;
                requestCommand(StartCommand, 0);
            }
            return;
        }
        _lastVideo = record;
        _lastTime = record.time;
        _interval = Interval(record.time, record.time.plusSeconds(_chunkSeconds));
        _settled = true;
    }
    _client.postRollback(record);
}

void ArchivingSchedule::stoppedCommand() {
    flushIfDirty();
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_state != StopRequested) {
            return;  // started again meanwhile
        }
        _state = Stopped;
    }
    _profiler.clear();
    tellListeners([&](ScheduleListener& l) { l.scheduleStopped(_key); });
}

bool ArchivingSchedule::requestTimeTable(int kind, const Interval& interval) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_requestKinds.size() >= RequestQueueCapacity) {
            return false;
        }
        _requestKinds.push_back(kind);
    }
    if (_client.requestTimeTable(interval)) {
        return true;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_requestKinds.empty()) {
        _requestKinds.pop_back();
    }
    return false;
}

// ---- internal transitions (under the state mutex) ----------------------------------------

void ArchivingSchedule::continues() {
    _state = Archiving;
    _delay.reset();
    _interval = Interval(_lastTime, _lastTime.plusSeconds(_chunkSeconds));
    QF_TRACE("ArchivingSchedule::continues : _interval = %s", textOf(_interval).c_str());
    requestCommand(NextCommand, 0);
}

void ArchivingSchedule::retry() {
    if (_state != StartRequested) {
        _state = Archiving;
    }
    _interval = Interval(_lastTime, NetworkArchivingClient::endOfTime());
    QF_TRACE("ArchivingSchedule::retry : _interval = %s", textOf(_interval).c_str());
    requestCommand(NextCommand, _delay.next());
}

void ArchivingSchedule::restart() {
    QF_TRACE("ArchivingSchedule::restart : _interval = %s", textOf(_interval).c_str());
    _state = StartRequested;
    requestCommand(StartCommand, 0);
}

void ArchivingSchedule::interrupt() {
    _state = Resuming;
    requestCommand(RollbackCommand, 0);
}

void ArchivingSchedule::stopWithFailure() {
    stopSchedule();
    tellListeners([&](ScheduleListener& l) { l.scheduleFailed(_key); });
}

void ArchivingSchedule::flushIfDirty() {
    LastVideoRecord record;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_dirty) {
            return;
        }
        record = _lastVideo;
        _lastFlushTime = _lastTime;
        _dirty = false;
        if (record.isValid()) {
            _flushed = record;
        }
    }
    _client.flush(record, false);
}

void ArchivingSchedule::flushDirect() {
    LastVideoRecord record;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        record = _lastVideo;
        if (record.isValid()) {
            _flushed = record;
        }
    }
    _client.flush(record, true);
}

// Frames survive a crash as soon as their pages join the tracks, the resume record only at
// a flush: a run killed in between leaves frames after the record, and every start archives
// from the record or from its own start point, so those frames would be in the group twice.
// (A group without a record holds no frames: the first frame stores one.) Runs on the actor
// thread before the first start asks for a time table, while no playback writes into the
// group.
bool ArchivingSchedule::settleGroup() {
    LastVideoRecord record;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_settled) {
            return true;
        }
        record = _flushed;
    }
    if (record.isValid() && _context.group().currentStorage() != nullptr && !_client.archiver().rollbackTo(record)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _settled = true;
    return true;
}

void ArchivingSchedule::groupOpened() {
    LastVideoRecord record;
    bool found = _context.group().currentStorage() != nullptr && _client.readLastVideo(record);
    std::lock_guard<std::mutex> lock(_mutex);
    _lastVideo = LastVideoRecord();
    _flushed = LastVideoRecord();
    _settled = false;
    if (found) {
        _lastVideo = record;
        _flushed = record;
        _interval = Interval(record.time, record.time.plusSeconds(_chunkSeconds));
        _lastTime = record.time;
    }
}

// ---- idle tick (actor thread) ------------------------------------------------------------

void ArchivingSchedule::onIdle() {
    if (_profiler.isActive() && _profiler.elapsed() >= 5001) {
        int speed = _profiler.archiveSpeed();
        if (speed != _speedClass.exchange(speed)) {
            post(ArchivingEvent::SpeedClassChanged, speed);
        }
        _profiler.reset();
    }
    bool due = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        // A clock set back on the recorder makes the archived time go back: the next
        // flush counts from there, rather than waiting until it passes the old time again.
        due = _dirty && (!_lastFlushTime.isValid() || _lastTime.lessThan(_lastFlushTime) ||
                         _lastTime.secondsSince(_lastFlushTime) >= FlushSeconds);
    }
    if (due) {
        flushIfDirty();
    }
}

// ---- what the client reports ---------------------------------------------------------------

void ArchivingSchedule::archivingConnected() {
    tellListeners([&](ScheduleListener& l) { l.scheduleConnected(_key); });
    bool disconnect = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_connectPending) {
            _connectPending = false;
            return;
        }
        QF_TRACE("ArchivingSchedule::archivingConnected");
        switch (_state) {
            case StartRequested:
                requestCommand(StartCommand, 0);
                break;
            case Archiving:
                continues();
                break;
            case Resuming:
                requestCommand(RollbackCommand, 0);
                break;
            default:
                // Stopped or stopping: a login that completes after the stop is ended.
                disconnect = !_queryPending;
                break;
        }
    }
    if (disconnect) {
        _client.disconnect();
    }
}

void ArchivingSchedule::archivingDisconnected(int reason) {
    tellListeners([&](ScheduleListener& l) { l.scheduleDisconnected(_key, reason); });
    bool report = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        // A new connection starts with no answer pending.
        _requestKinds.clear();
        _queryPending = false;
        if (_connectPending) {
            _connectPending = false;
            return;
        }
        if (_state == Stopped) {
            return;
        }
        report = !reconnects(reason);
    }
    if (report) {
        post(ArchivingEvent::Disconnected, reason);
        stopWithFailure();
        return;
    }
    QF_TRACE("ArchivingSchedule::archivingDisconnected : reason = %d", reason);
    std::lock_guard<std::mutex> lock(_mutex);
    if (_state == StopRequested) {
        _profiler.clear();
        requestCommand(StoppedCommand, 0);
    } else if (_dirty) {
        interrupt();
    } else {
        requestCommand(ConnectCommand, _delay.next());
    }
}

void ArchivingSchedule::timeTableReceived(const std::vector<RecordedSlice>& slices) {
    enum class Start { None, First, Beginning, Resume } start = Start::None;
    Interval interval;
    LastVideoRecord record;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_requestKinds.empty()) {
            return;  // an answer to a request of an earlier connection
        }
        int kind = _requestKinds.front();
        _requestKinds.pop_front();
        if (kind == QueryRequest) {
            if (_answer != nullptr) {
                *_answer = slices;
                _answer = nullptr;
            }
            _queryPending = false;
            return;
        }
        if (!mayGoOn()) {
            return;
        }
        _timeTable.mergeAll(slices);
        Interval chunk;
        if (_startMode == FromLast) {
            chunk = _timeTable.endOfRecording();
        } else if (_startMode == FromFirst || _startMode == FromTime) {
            chunk = _timeTable.nextChunk(_interval.from(), _chunkSeconds + 1);
        } else {
            return;
        }
        _startMode = FromTime;
        if (!chunk.from().isValid()) {
            retry();
            return;
        }
        _interval = chunk;
        // Playback follows recording order from the last archived frame: where the
        // recorder's clock went back, the frames that follow lie before the chunk.
        interval = Interval(_timeTable.overlapBegin(chunk), chunk.to());
        switch (_state) {
            case StartRequested:
                start = Start::First;
                break;
            case Archiving:
                start = Start::Beginning;
                break;
            case Resuming:
                start = Start::Resume;
                record = _lastVideo;
                _state = Archiving;
                break;
            default:
                return;
        }
    }
    tellListeners([&](ScheduleListener& l) { l.scheduleArchiving(_key); });
    switch (start) {
        case Start::First:
            _client.startFromFirst(interval);
            break;
        case Start::Beginning:
            _client.startFromBeginning(interval);
            break;
        case Start::Resume:
            _client.resume(interval, record);
            break;
        case Start::None:
            break;
    }
    _profiler.start();
}

void ArchivingSchedule::playbackEnded(bool beforeStart) {
    _profiler.clear();
    flushIfDirty();
    std::lock_guard<std::mutex> lock(_mutex);
    if (!mayGoOn()) {
        return;
    }
    if (beforeStart) {
        bool unbounded = !_interval.from().isValid() && !_interval.to().isValid();
        if (unbounded || within(_interval, _lastVideo.time)) {
            retry();
        } else {
            restart();
        }
    } else if (_lastTime.isValid() && _interval.from().isValid() &&
               _lastTime.secondsSince(_interval.from()) >= ContinueSeconds) {
        continues();
    } else {
        retry();
    }
}

void ArchivingSchedule::playbackAborted(int cause) {
    _profiler.clear();
    switch (cause) {
        case NothingRecorded: {
            std::lock_guard<std::mutex> lock(_mutex);
            if (mayGoOn()) retry();
            break;
        }
        case PositionOverwritten: {
            DateTime time;
            {
                std::lock_guard<std::mutex> lock(_mutex);
                if (!mayGoOn()) return;
                time = _lastVideo.time;
            }
            startFromTime(time);
            break;
        }
        case NoSpace:
            post(ArchivingEvent::NotEnoughSpace);
            stopSchedule();
            break;
        case WriteFailed:
            post(ArchivingEvent::StorageWriteError);
            stopWithFailure();
            break;
        default:
            break;
    }
}

void ArchivingSchedule::frameArchived(const MediaFrame& frame, uint64_t mediaID, const MediaPosition& position) {
    _archivedFrames.fetch_add(1);
    bool progressed = false;
    int seconds = 0;
    DateTime last;
    LastVideoRecord first;
    // Audio frames are resumed after as video frames are: a recording with stretches of
    // audio alone (or no video at all) would otherwise keep no record of them, and a
    // restart would archive them again. Text-in is not: playback positioned at a text-in
    // entry does not send it back to confirm the position.
    bool resumable =
        frame.mediaType == PlaybackLayout::MediaTypeVideo || frame.mediaType == PlaybackLayout::MediaTypeAudio;
    uint32_t section = resumable ? _context.group().currentSectionID() : 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (resumable) {
            _lastVideo.position = position;
            _lastVideo.sectionID = section;
            _lastVideo.time = frame.time;
            _lastVideo.mediaID = mediaID;
        }
        if (!_lastTime.isValid()) {
            _lastTime = frame.time;
        }
        int s = _lastTime.secondsSince(frame.time);
        if (s != 0) {
            _lastTime = frame.time;
            progressed = true;
            seconds = -s;
            last = _lastTime;
        }
        _dirty = true;
        if (!_flushed.isValid() && _lastVideo.isValid()) {
            // The group holds no resume record yet: one is stored with this frame, before
            // the next is written, so that no frame outlives a crash without a record to
            // resume after (a restart without one archives from the start again).
            first = _lastVideo;
            _flushed = first;
            _lastFlushTime = _lastTime;
            _dirty = false;
        }
    }
    if (first.isValid()) {
        _client.archiver().writeLastVideo(first, true);
    }
    if (progressed) {
        tellListeners([&](ScheduleListener& l) { l.scheduleProgress(_key, last); });
        if (_profiler.isActive()) {
            _profiler.add(seconds);
        }
    }
}

void ArchivingSchedule::rolledBack() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _dirty = false;
        _lastFlushTime = _lastTime;
    }
    tellListeners([&](ScheduleListener& l) { l.scheduleArchiving(_key); });
    requestCommand(NextCommand, 0);
}

// ---- group switches (media thread, inside the write that switches) -----------------------

void ArchivingSchedule::recordingStorageChanging(StorageGroup&) {
    flushDirect();
}

void ArchivingSchedule::recordingStorageChanged(Storage&) {
    flushDirect();
    std::lock_guard<std::mutex> lock(_mutex);
    _lastFlushTime = DateTime();
    _dirty = false;
}
