#include "PlaybackHandler.h"

#include <algorithm>
#include <cstdio>

#include "PlaybackService.h"
#include "RecorderConnection.h"
#include "network/protocol/playback/PlaybackWire.h"
#include "recorder-sim/recording/SyntheticRecording.h"

namespace {

// Batches generated per loop round at most, so requests that arrive mid-stream (a pause)
// are read promptly even when the client drains the socket as fast as it is filled.
constexpr int MaxBatchesPerRound = 16;

// Recorders know storage lists from version 1.2 on.
bool knowsStorages(const std::string& version) {
    int major = 0;
    int minor = 0;
    if (std::sscanf(version.c_str(), "%d.%d", &major, &minor) < 1) {
        return false;
    }
    return major > 1 || (major == 1 && minor >= 2);
}

// Whether a frame's time lies inside an interval (an unset end bounds nothing).
bool inside(const SyntheticFrame& frame, const Interval& interval) {
    const DateTime& time = frame.isTextIn() ? frame.textIn.time : frame.header.time;
    bool afterFrom = !interval.from().isValid() || !time.lessThan(interval.from());
    bool beforeTo = !interval.to().isValid() || !time.greaterThan(interval.to());
    return afterFrom && beforeTo;
}

BitMask32 allChannels() {
    return BitMask32(0xFFFFFFFFu);
}

}  // namespace

PlaybackHandler::PlaybackHandler(PlaybackService& service)
    : _service(service), _recording(service.recording()), _channels(service.recording().channelMask()) {}

bool PlaybackHandler::handle(RecorderConnection& connection, Packet& packet) {
    if (!connection.loggedIn) {
        return false;
    }
    std::optional<PlaybackRequestMessage> request = readPlaybackRequest(packet);
    if (!request) {
        return false;
    }
    bool storageRequest = std::holds_alternative<StorageListRequest>(*request) ||
                          std::holds_alternative<StorageChangeRequest>(*request);
    if (storageRequest && !knowsStorages(connection.sim().config().productVersion)) {
        return false;  // an older recorder does not know these: answered as unknown
    }
    const std::vector<uint16_t>& unanswered = _service.config().unansweredRequests;
    if (std::find(unanswered.begin(), unanswered.end(), packet.type()) != unanswered.end()) {
        return true;
    }
    _connection = &connection;
    std::visit([this](const auto& message) { on(message); }, *request);
    _connection = nullptr;
    return true;
}

template <typename Message>
void PlaybackHandler::reply(const Message& message) {
    writePlaybackMessage(_packet, message);
    _connection->send(_packet);
}

void PlaybackHandler::stopReport(int reason) {
    reply(PlaybackStopNotice{static_cast<uint32_t>(reason)});
    _service.countStopReport();
}

// ---- lists ---------------------------------------------------------------------------------

void PlaybackHandler::on(const RecordingCalendarRequest& m) {
    reply(RecordingCalendarResponse{_recording.recordingCalendar(m.from, m.to)});
}

void PlaybackHandler::on(const EventCalendarRequest& m) {
    reply(EventCalendarResponse{_recording.eventCalendar(m.from, m.to, m.flag)});
}

void PlaybackHandler::on(const RecordingTimeTableRequest& m) {
    reply(RecordingTimeTableResponse{_recording.timeTable(m.interval, m.channels)});
}

void PlaybackHandler::on(const SectionListRequest& m) {
    reply(SectionListResponse{m.channels, m.interval, _recording.sectionList(m.interval, m.channels)});
}

void PlaybackHandler::on(const EventListRequestMessage& m) {
    _eventInterval = m.request.interval;
    _eventChannels = m.request.channels;
    _eventCursor = 0;
    _eventsPending = true;
    sendEventPage();
}

void PlaybackHandler::on(const EventListContinueRequest&) {
    sendEventPage();
}

void PlaybackHandler::sendEventPage() {
    EventListResponse response;
    if (_eventsPending) {
        auto page = _recording.eventList(_eventInterval, _eventChannels, _eventCursor,
                                         static_cast<size_t>(_service.config().listPageSize));
        response.events = std::move(page.entries);
        response.hasMore = page.hasMore;
        _eventCursor = page.nextCursor;
        _eventsPending = page.hasMore;
    }
    reply(response);
}

void PlaybackHandler::on(const TextInEventListRequest& m) {
    _textInInterval = m.interval;
    _textInTexts = m.texts;
    _textInValue = m.value;
    _textInCursor = 0;
    _textInPending = true;
    sendTextInPage();
}

void PlaybackHandler::on(const TextInEventListContinueRequest&) {
    sendTextInPage();
}

void PlaybackHandler::sendTextInPage() {
    TextInEventListResponse response;
    response.value = _textInValue;
    if (_textInPending) {
        auto page = _recording.textInList(_textInInterval, allChannels(), _textInTexts, _textInCursor,
                                          static_cast<size_t>(_service.config().listPageSize));
        response.entries = std::move(page.entries);
        response.hasMore = page.hasMore;
        _textInCursor = page.nextCursor;
        _textInPending = page.hasMore;
    }
    reply(response);
}

void PlaybackHandler::on(const StorageListRequest& m) {
    std::vector<StorageListEntry> storages = _recording.storageList();
    reply(StorageListResponse{m.flag, storages});
}

void PlaybackHandler::on(const StorageChangeRequest&) {
    halt();
    _cursor.reset();
    reply(StorageChangeResponse{});
}

// ---- playback --------------------------------------------------------------------------------

void PlaybackHandler::halt() {
    _streaming = false;
    _held.reset();
}

void PlaybackHandler::on(const PlayRequestMessage& m) {
    const PlayRequest& request = m.request;
    halt();
    _channels = request.channels;
    _window = request.interval;
    if (request.mode == 3) {
        // Position at a section; the next play starts there.
        _cursor = _recording.cursorAtSection(request.param1, _channels, _window);
        if (_cursor) {
            sendFrameAt(*_cursor, false);
        }
        stopReport(_cursor ? SimStopReason::Paused : SimStopReason::NotFound);
        return;
    }
    if (request.mode != 1) {
        stopReport(SimStopReason::NotFound);
        return;
    }
    std::optional<FrameCursor> from;
    if (_cursor) {
        // Positioned by a section, a pause or a jump: start there, following this request,
        // unless that place lies outside the requested interval (a place left over from
        // an earlier playback).
        SyntheticFrame at;
        std::optional<MediaPosition> position = _cursor->peekPosition();
        if (position && _recording.frameAt(*position, at) && inside(at, _window)) {
            from = _recording.cursorAtPosition(*position, _channels, _window);
        }
        _cursor.reset();
    }
    if (!from) {
        from = _window.from().isValid() ? _recording.cursorAtTime(_window.from(), _channels, _window)
                                        : _recording.cursorAtFirst(_channels, _window);
    }
    startStreaming(*from);
}

void PlaybackHandler::on(const PauseRequest& m) {
    halt();
    if (m.position.isZero()) {
        stopReport(SimStopReason::Paused);
        return;
    }
    _cursor = _recording.cursorAtPosition(m.position, _channels, _window);
    if (_cursor) {
        sendFrameAt(*_cursor, _service.config().positionsOverwritten);
    }
    stopReport(_cursor ? SimStopReason::Paused : SimStopReason::NotFound);
}

void PlaybackHandler::sendFrameAt(FrameCursor cursor, bool overwritten) {
    SyntheticFrame frame;
    if (!cursor.next(frame)) {
        return;
    }
    if (overwritten) {
        constexpr int Day = 86400;
        frame.header.time = frame.header.time.plusSeconds(Day);
        frame.textIn.time = frame.textIn.time.plusSeconds(Day);
    }
    sendFrame(frame);
}

void PlaybackHandler::on(const JumpToPositionRequest& m) {
    if (m.hasChannels) {
        _channels = m.channels;
    }
    jumpTo(_recording.cursorAtPosition(m.position, _channels, _window));
}

void PlaybackHandler::on(const JumpToNearPositionRequest& m) {
    _channels = m.channels;
    jumpTo(_recording.cursorAtTime(m.time, _channels, _window));
}

void PlaybackHandler::on(const JumpToMediaIDRequest& m) {
    _channels = m.channels;
    jumpTo(_recording.cursorAtMediaID(m.mediaID, _channels, _window));
}

void PlaybackHandler::on(const PlaybackIntervalRequest& m) {
    _window = m.interval;
}

void PlaybackHandler::jumpTo(std::optional<FrameCursor> cursor) {
    halt();
    _cursor.reset();
    if (!cursor) {
        stopReport(SimStopReason::NotFound);
        return;
    }
    startStreaming(*cursor);
}

void PlaybackHandler::startStreaming(FrameCursor cursor) {
    _cursor = cursor;
    _streaming = true;
    _held.reset();
    _streamStartMs = 0;
    _streamSeconds = 0;
    _lastFrameTime.reset();
}

void PlaybackHandler::tick(RecorderConnection& connection, uint32_t nowMs) {
    if (!_streaming || _stalled || connection.silent) {
        return;
    }
    _connection = &connection;
    if (_streamStartMs == 0) {
        _streamStartMs = nowMs == 0 ? 1 : nowMs;
    }
    for (int batch = 0; batch < MaxBatchesPerRound && _streaming; ++batch) {
        if (connection.wantsWrite()) {
            connection.onWritable();
            if (connection.wantsWrite()) {
                break;  // the socket is full: wait until it takes more
            }
        }
        if (!streamBatch(nowMs)) {
            break;
        }
    }
    _connection = nullptr;
}

bool PlaybackHandler::paceAllows(const SyntheticFrame& frame, uint32_t nowMs) {
    if (!_service.config().realTime) {
        return true;
    }
    // Every new recorded second of the stream may go out one real second after the last.
    int64_t seconds = _streamSeconds;
    if (!_lastFrameTime || !_lastFrameTime->equals(frame.header.time)) {
        seconds += _lastFrameTime ? 1 : 0;
    }
    return seconds * 1000 <= static_cast<int64_t>(nowMs - _streamStartMs);
}

bool PlaybackHandler::streamBatch(uint32_t nowMs) {
    const PlaybackServiceConfig& config = _service.config();
    size_t bytes = 0;
    while (bytes < config.batchBytes) {
        if (config.disconnectAfterFrames >= 0 && _framesStreamed >= config.disconnectAfterFrames) {
            halt();
            _connection->closeAfterFlush();
            return false;
        }
        if (config.stallAfterFrames >= 0 && _framesStreamed >= config.stallAfterFrames) {
            halt();
            _stalled = true;
            _connection->silent = true;
            return false;
        }
        if (!_held) {
            SyntheticFrame frame;
            if (!_cursor || !_cursor->next(frame)) {
                halt();
                _cursor.reset();
                stopReport(SimStopReason::EndOfPlayback);
                return false;
            }
            _held = std::move(frame);
        }
        _pacing = !paceAllows(*_held, nowMs);
        if (_pacing) {
            return false;
        }
        const DateTime& time = _held->isTextIn() ? _held->textIn.time : _held->header.time;
        if (_lastFrameTime && !_lastFrameTime->equals(time)) {
            ++_streamSeconds;
        }
        _lastFrameTime = time;
        sendFrame(*_held);
        bytes += _held->payload.size() + 96;
        _held.reset();
    }
    return true;
}

void PlaybackHandler::sendFrame(const SyntheticFrame& frame) {
    if (frame.isTextIn()) {
        reply(frame.textInFrameMessage());
    } else {
        reply(frame.mediaFrameMessage());
    }
    ++_framesStreamed;
    _service.countFrame();
}
