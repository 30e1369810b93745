#include "app/archiving/NetworkArchivingClient.h"

#include <algorithm>
#include <chrono>

#include "app/archiving/ArchivingDelegate.h"
#include "base/TextOf.h"
#include "base/Trace.h"
#include "network/playback/NetworkPlaybackClient.h"
#include "network/protocol/RemoteSystemInfo.h"
#include "network/protocol/playback/EventListRequest.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/TextInFrame.h"

namespace {

constexpr int SystemInfoCallback = 2;

// Play request types.
constexpr int PlayType = 1;
constexpr int JumpType = 3;

// Stop reasons that confirm a positioning.
constexpr int PausedReason = 4;
constexpr int PositionedReason = 10;

const char* typeName(int type) {
    return type == PlayType ? "Play" : type == JumpType ? "Jump" : "Step";
}

}  // namespace

DateTime NetworkArchivingClient::endOfTime() {
    return DateTime(2100, 12, 31, 11, 59, 59);
}

NetworkArchivingClient::NetworkArchivingClient() = default;

NetworkArchivingClient::~NetworkArchivingClient() {
    if (_client) {
        _client->detach();
    }
}

void NetworkArchivingClient::attach(Storage* storage, int bufferSize, ArchivingDelegate* delegate) {
    _delegate.store(delegate);
    _client = std::make_unique<NetworkPlaybackClient>();
    _client->attach(std::max(bufferSize, PlaybackClient::MinimumQueueBytes), this);
    _archiver.attach(storage);
}

bool NetworkArchivingClient::connect(const std::string& host, uint16_t port, const std::string& user,
                                     const std::string& password) {
    return _client && _client->connect(host, port, user, password) != -1;
}

int NetworkArchivingClient::lastConnectError() const {
    return _client ? _client->lastConnectError() : 0;
}

bool NetworkArchivingClient::isConnected() {
    return _client && _client->isConnected();
}

void NetworkArchivingClient::disconnect() {
    if (_client) {
        _client->disconnect(true);
    }
}

// ---- starts ------------------------------------------------------------------------------

void NetworkArchivingClient::begin(int phase, const Interval& interval) {
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _interval = interval;
        _end = interval.to();
        _eventListBegun = false;
        _endReached = false;
        _wroteInPlayback = false;
        _eventsToFetch.reset();
        _positionOverwritten = false;
        if (phase != ListingForResume && _last) {
            // Continue from the last archived frame: positioned there, the recorder plays
            // on in recording order and nothing archived is sent again but that frame.
            phase = ListingForResume;
            _started = false;
            _waitForKey = false;
            _resumePosition = _last->position;
            _resumeTime = _last->time;
        }
        _phase.store(phase);
    }
    if (_client) {
        _client->requestSectionList(interval, _channels);
    }
}

void NetworkArchivingClient::startFromFirst(const Interval& interval) {
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _started = true;
        _waitForKey = true;
        _resumePosition = MediaPosition();
        _resumeTime = DateTime();
    }
    begin(ListingFromFirst, interval);
}

void NetworkArchivingClient::startFromBeginning(const Interval& interval) {
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _started = true;
        _waitForKey = false;
    }
    begin(ListingFromBeginning, interval);
}

void NetworkArchivingClient::resume(const Interval& interval, const LastVideoRecord& lastVideo) {
    QF_TRACE("NetworkArchivingClient::resume : %s, (%u, %u)", textOf(interval).c_str(), lastVideo.position.positionA,
             lastVideo.position.positionB);
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _started = false;
        _waitForKey = false;
        _resumePosition = lastVideo.position;
        _resumeTime = lastVideo.time;
    }
    begin(ListingForResume, interval);
}

bool NetworkArchivingClient::requestTimeTable(const Interval& interval) {
    return _client && _client->requestRecordingTimeTable(interval, _channels);
}

void NetworkArchivingClient::forgetLastFrame() {
    std::lock_guard<std::mutex> lock(_stateMutex);
    _last.reset();
    _lastSecond.clear();
}

// ---- requests ----------------------------------------------------------------------------

bool NetworkArchivingClient::sendPlay(int type, uint32_t argument, uint32_t value) {
    PlayRequest request{};
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        // Open-ended: the client ends the interval itself (see the class comment). Never
        // later than the frame playback continues from, or the recorder would skip it.
        DateTime from = _interval.from();
        if (_last && from.isValid() && _last->time.lessThan(from)) {
            from = _last->time;
        }
        request.interval = Interval(from, endOfTime());
    }
    request.mode = static_cast<uint32_t>(type);
    request.channels = _channels;
    request.param1 = argument;
    request.param2 = value;
    QF_TRACE("NetworkArchivingClient::request : type = %s, %s", typeName(type), textOf(request.interval).c_str());
    return sendOwingReport([&] { return _client && _client->play(PlaybackClientRequest::playing(request)); });
}

template <typename Send>
bool NetworkArchivingClient::sendOwingReport(Send send) {
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        ++_reportsOwed;
    }
    if (send()) {
        return true;
    }
    std::lock_guard<std::mutex> lock(_stateMutex);
    --_reportsOwed;
    return false;
}

void NetworkArchivingClient::stopPlayback() {
    if (!_client) {
        return;
    }
    using Ctx = IPlaybackStateMachineContext;
    Ctx::StateId state = _client->stateId();
    if (state == Ctx::Stopped || state == Ctx::Init || state == Ctx::Disconnected) {
        return;  // the recorder's own stop report is on its way
    }
    _client->stop();
}

void NetworkArchivingClient::play() {
    _phase.store(WaitingForPlaybackStart);
    QF_TRACE("NetworkArchivingClient::play : PhaseWaitingForPlaybackStart");
    sendPlay(PlayType, 1, 3);
}

// ---- lists (network thread) --------------------------------------------------------------

void NetworkArchivingClient::recordingTimeTableReceived(int, const std::vector<RecordedSlice>& slices) {
    if (ArchivingDelegate* delegate = _delegate.load()) {
        delegate->timeTableReceived(slices);
    }
}

void NetworkArchivingClient::playbackRecordingSectionListReceived(int, BitMask32, const Interval&,
                                                                  const std::vector<uint32_t>& sections) {
    int phase = _phase.load();
    if (phase < ListingFromFirst || phase > ListingForResume) {
        return;
    }
    _archiver.setSectionList(sections);
    if (sections.empty()) {
        _phase.store(Idle);
        if (ArchivingDelegate* delegate = _delegate.load()) {
            delegate->playbackAborted(ArchivingDelegate::NothingRecorded);
        }
        return;
    }
    Interval interval;
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        interval = _interval;
    }
    QF_TRACE("NetworkArchivingClient::playbackRecordingSectionListReceived : requestEventList : %s",
             textOf(interval).c_str());
    EventListRequest request;
    request.interval = interval;
    request.channels = _channels;
    if (_client) {
        _client->requestEventList(request);
    }
}

void NetworkArchivingClient::fetchEvents(const Interval& interval) {
    QF_TRACE("NetworkArchivingClient::fetchEvents : %s", textOf(interval).c_str());
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _fetchingEvents = true;
    }
    EventListRequest request;
    request.interval = interval;
    request.channels = _channels;
    if (!_client || !_client->requestEventList(request)) {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _fetchingEvents = false;
        return;
    }
    // The answer comes on the network thread, which never waits for this one. A lost
    // connection ends the wait too.
    std::unique_lock<std::mutex> lock(_stateMutex);
    _eventsFetched.wait_for(lock, std::chrono::seconds(150), [&] { return !_fetchingEvents; });
    _fetchingEvents = false;
}

void NetworkArchivingClient::playbackEventListReceived(int, const EventListResponse& list) {
    bool fetching = false;
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        fetching = _fetchingEvents;
    }
    if (fetching) {
        _archiver.addEvents(list.events);
        if (list.hasMore && _client && _client->continueEventList(0, false)) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(_stateMutex);
            _fetchingEvents = false;
        }
        _eventsFetched.notify_all();
        return;
    }
    int phase = _phase.load();
    if (phase < ListingFromFirst || phase > ListingForResume) {
        return;
    }
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        first = !_eventListBegun;
        _eventListBegun = true;
    }
    if (first) {
        _archiver.setEventList(list.events);
    } else {
        _archiver.addEvents(list.events);
    }
    if (list.hasMore) {
        if (_client) {
            _client->continueEventList(0, false);
        }
        return;
    }
    QF_TRACE("NetworkArchivingClient::playbackEventListReceived : %d events", static_cast<int>(_archiver.pendingEvents()));
    MediaPosition position;
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _positionOverwritten = false;
        position = _resumePosition;
    }
    if (phase == ListingFromFirst) {
        _phase.store(Positioned);
        sendPlay(JumpType, _archiver.firstSection(), 0);
    } else if (phase == ListingFromBeginning) {
        play();
    } else {
        _phase.store(Positioned);
        sendOwingReport([&] { return _client && _client->pause(position); });
    }
}

void NetworkArchivingClient::playStarted(int, int) {
    int expected = WaitingForPlaybackStart;
    _phase.compare_exchange_strong(expected, Playing);
}

// ---- frames (media thread) ---------------------------------------------------------------

bool NetworkArchivingClient::holdsKeyGroup(const MediaFrame& frame) {
    auto it = _keyGroups.find(frame.channelMask.value());
    return it != _keyGroups.end() && it->second == frame.syncKeyID;
}

void NetworkArchivingClient::videoFrameReceived(int, bool dependent, int, const MediaFrame& frame,
                                                const MediaPosition& position) {
    auto admitted = [&] {
        if (_waitForKey) {
            // A frame that depends on a key group the archive lacks cannot be shown; one
            // whose key group is archived already is kept.
            if (dependent && !holdsKeyGroup(frame)) {
                return false;
            }
            _waitForKey = false;
        }
        return true;
    };
    handleFrame(ArchivedFrame::of(frame, position), !dependent, &frame, admitted,
                [&](uint64_t& mediaID) { return _archiver.writeMedia(frame, position, mediaID); });
}

void NetworkArchivingClient::audioFrameReceived(int, const MediaFrame& frame, const MediaPosition& position) {
    // Audio waits with the video it belongs to for a key frame; audio that belongs to no
    // video channel (a recorder of sound alone) has no key frame to wait for.
    auto admitted = [&] { return !_waitForKey || frame.linkedChannelMask.value() == 0; };
    handleFrame(ArchivedFrame::of(frame, position), false, &frame, admitted,
                [&](uint64_t& mediaID) { return _archiver.writeMedia(frame, position, mediaID); });
}

void NetworkArchivingClient::textInFrameReceived(int, const TextInFrame& frame, const MediaPosition& position) {
    MediaFrame header;
    header.mediaType = frame.mediaType;
    header.syncIndex = frame.syncIndex;
    header.syncKeyID = frame.syncKeyID;
    header.channelMask = frame.channelMask;
    header.linkedChannelMask = frame.linkedChannelMask;
    header.time = frame.time;
    auto admitted = [&] { return !_waitForKey && !(_phase.load() == Positioned && !_started); };
    handleFrame(ArchivedFrame::of(frame, position), false, &header, admitted,
                [&](uint64_t& mediaID) { return _archiver.writeTextIn(frame, position, mediaID); });
}

NetworkArchivingClient::Verdict NetworkArchivingClient::judge(const ArchivedFrame& frame) {
    if (_endReached) {
        return Verdict::Skip;
    }
    if (_phase.load() == Positioned && !_started) {
        // The frame at the place playback continues from: it must be the one recorded
        // there, which the archive holds already.
        _positionOverwritten = _resumeTime.isValid() && !_resumeTime.equals(frame.time);
        if (!_positionOverwritten && frame.position == _resumePosition) {
            if (!_last || !_last->sameAs(frame)) {
                _lastSecond.add(frame);
                _last = frame;
            }
        }
        return Verdict::Positioning;
    }
    if (_lastSecond.holds(frame)) {
        return Verdict::Skip;
    }
    if (_end.isValid() && frame.time.greaterThan(_end)) {
        if (_wroteInPlayback) {
            _endReached = true;
            return Verdict::EndOfInterval;
        }
        int length = _interval.from().isValid() ? std::max(1, _interval.to().secondsSince(_interval.from())) : 1;
        _end = frame.time.plusSeconds(length);
        _eventsToFetch = Interval(frame.time, _end);
    }
    return Verdict::Write;
}

void NetworkArchivingClient::frameWritten(const ArchivedFrame& frame, bool keyFrame) {
    _lastSecond.add(frame);
    _last = frame;
    _wroteInPlayback = true;
    if (frame.mediaType == 0 && keyFrame) {
        _keyGroups[frame.channelMask] = frame.syncKeyID;
    }
}

template <typename Admit, typename Write>
void NetworkArchivingClient::handleFrame(const ArchivedFrame& identity, bool keyFrame, const MediaFrame* media,
                                         Admit admitted, Write write) {
    Verdict verdict;
    std::optional<Interval> fetch;
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        if (!admitted()) {
            return;
        }
        verdict = judge(identity);
        if (verdict == Verdict::Write) {
            fetch.swap(_eventsToFetch);
        }
    }
    if (verdict != Verdict::Positioning) {
        // A frame arrived, so playback started, whichever thread is told first.
        int expected = WaitingForPlaybackStart;
        _phase.compare_exchange_strong(expected, Playing);
    }
    if (verdict == Verdict::EndOfInterval) {
        stopPlayback();
        return;
    }
    if (verdict != Verdict::Write) {
        return;
    }
    if (fetch) {
        fetchEvents(*fetch);
    }
    uint64_t mediaID = 0;
    Archiver::Result result = write(mediaID);
    if (result != Archiver::Result::Written) {
        {
            std::lock_guard<std::mutex> lock(_stateMutex);
            _endReached = true;  // nothing more is written until the stop is reported
        }
        _phase.store(result == Archiver::Result::NoSpace ? NoSpace : WriteFailed);
        stopPlayback();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        frameWritten(identity, keyFrame);
    }
    if (ArchivingDelegate* delegate = _delegate.load()) {
        delegate->frameArchived(*media, mediaID, identity.position);
    }
}

void NetworkArchivingClient::playbackStopped(int, int reason) {
    int phase = _phase.load();
    QF_TRACE("NetworkArchivingClient::playbackStopped : _phase = %d, PauseReason = %d", phase, reason);
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        if (_reportsOwed == 0) {
            QF_TRACE("\tnot a report of ours");
            return;
        }
        --_reportsOwed;
    }
    if (phase < WaitingForPlaybackStart) {
        return;  // a playback of an earlier interval
    }
    ArchivingDelegate* delegate = _delegate.load();
    if (phase == Positioned) {
        bool overwritten = false;
        {
            std::lock_guard<std::mutex> lock(_stateMutex);
            overwritten = _positionOverwritten;
        }
        if ((reason != PausedReason && reason != PositionedReason) || overwritten) {
            QF_TRACE("\tposition to jump is overwritten");
            _phase.store(Idle);
            // The recorder no longer holds that place: the next start finds its place by time.
            forgetLastFrame();
            if (delegate) delegate->playbackAborted(ArchivingDelegate::PositionOverwritten);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(_stateMutex);
            _started = true;
        }
        play();
        return;
    }
    _phase.store(Idle);
    if (delegate == nullptr) {
        return;
    }
    switch (phase) {
        case WaitingForPlaybackStart:
            delegate->playbackEnded(true);
            break;
        case Playing:
            delegate->playbackEnded(false);
            break;
        case WriteFailed:
            delegate->playbackAborted(ArchivingDelegate::WriteFailed);
            break;
        case NoSpace:
            delegate->playbackAborted(ArchivingDelegate::NoSpace);
            break;
        default:
            break;
    }
}

// ---- connection (network thread) ---------------------------------------------------------

void NetworkArchivingClient::connected(int) {
    if (ArchivingDelegate* delegate = _delegate.load()) {
        delegate->archivingConnected();
    }
}

void NetworkArchivingClient::disconnected(int, int reason) {
    _phase.store(Idle);
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _reportsOwed = 0;  // a new connection starts with nothing pending
        _fetchingEvents = false;
    }
    _eventsFetched.notify_all();
    if (ArchivingDelegate* delegate = _delegate.load()) {
        delegate->archivingDisconnected(reason);
    }
}

void NetworkArchivingClient::systemInfoReceived(int, const RemoteSystemInfo& info) {
    // Written on the media thread, like every other storage write.
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        _systemInfo = info;
    }
    if (_client) {
        _client->postCallback(SystemInfoCallback, 0);
    }
}

// ---- posted callbacks (media thread) -----------------------------------------------------

void NetworkArchivingClient::postRecord(int kind, const LastVideoRecord& record) {
    int number = 0;
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        number = _nextPosted++;
        _posted[number] = {kind, record};
    }
    if (_client) {
        _client->postCallback(kind, number);
    }
}

void NetworkArchivingClient::flush(const LastVideoRecord& lastVideo, bool direct) {
    if (!lastVideo.isValid()) {
        return;
    }
    if (direct) {
        _archiver.writeLastVideo(lastVideo);
    } else {
        postRecord(FlushCallback, lastVideo);
    }
}

void NetworkArchivingClient::postRollback(const LastVideoRecord& lastVideo) {
    postRecord(RollbackCallback, lastVideo);
}

void NetworkArchivingClient::playbackCallback(int, int kind, int value) {
    if (kind == SystemInfoCallback) {
        RemoteSystemInfo info;
        {
            std::lock_guard<std::mutex> lock(_stateMutex);
            info = _systemInfo;
        }
        _archiver.writeSystemInfo(info);
        return;
    }
    LastVideoRecord record;
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        auto it = _posted.find(value);
        if (it == _posted.end() || it->second.first != kind) {
            return;
        }
        record = it->second.second;
        _posted.erase(it);
    }
    if (kind == FlushCallback) {
        QF_TRACE("NetworkArchivingClient::playbackCallback : flush");
        QF_TRACE("\tlastVideoPosition = %s", record.positionText().c_str());
        QF_TRACE("\tlastVideoSectionID = %u", record.sectionID);
        QF_TRACE("\tlastVideoTime = %s", record.timeText().c_str());
        QF_TRACE("\tlastVideoMediaID = %llu", static_cast<unsigned long long>(record.mediaID));
        _archiver.writeLastVideo(record);
        return;
    }
    _archiver.rollbackTo(record);
    {
        // What was archived after the record's frame is gone; the positioning at the
        // record names the frame playback continues from.
        std::lock_guard<std::mutex> lock(_stateMutex);
        _last.reset();
        _lastSecond.clear();
        _keyGroups.clear();
    }
    if (ArchivingDelegate* delegate = _delegate.load()) {
        delegate->rolledBack();
    }
}

bool NetworkArchivingClient::cleanup() {
    QF_TRACE("NetworkArchivingClient::cleanup");
    if (_client) {
        _client->stop();
        _client->detach();
        _client.reset();
    }
    bool closed = _archiver.close();
    _delegate.store(nullptr);
    return closed;
}
