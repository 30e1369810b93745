#include "network/playback/PlaybackClient.h"

#include <algorithm>
#include <cstring>

#include "base/Buffer.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/Trace.h"
#include "network/playback/TextInRecord.h"
#include "network/protocol/playback/PlaybackLayout.h"

namespace {

constexpr int FrameHeaderSize = static_cast<int>(PlaybackLayout::FrameHeaderSize);
constexpr int PositionSize = static_cast<int>(PlaybackLayout::PositionSize);
// The stop reason some recorders give for a position they could not find exactly; the
// listeners know it as 10.
constexpr int PositionApproximated = 3;
constexpr int PositionApproximatedReported = 10;

void writePosition(Buffer& buffer, const MediaPosition& position) {
    buffer.putInt(position.positionA);
    buffer.putInt(position.positionB);
    buffer.putInt(position.positionC);
}

MediaPosition readPosition(Buffer& buffer) {
    MediaPosition position;
    position.positionA = buffer.getInt();
    position.positionB = buffer.getInt();
    position.positionC = buffer.getInt();
    return position;
}

int lowestChannel(BitMask32 mask) {
    uint32_t bits = mask.value();
    return bits == 0 ? -1 : __builtin_ctz(bits);
}

}  // namespace

PlaybackClient::PlaybackClient()
    : _states{&_disconnected, &_initial, &_stopped, &_waitingForReply, &_playing, &_waitingForStop, &_storageUnknown},
      _current(&_disconnected) {}

PlaybackClient::~PlaybackClient() = default;

// ---- events ------------------------------------------------------------------------------

template <typename Event>
bool PlaybackClient::handleEvent(bool byOwner, Event event) {
    Outgoing outgoing;
    {
        std::lock_guard<Mutex> guard(_stateMutex);
        PlaybackState* before = _current;
        if (byOwner && (before->id() == Disconnected || before->id() == StorageUnknown)) {
            return false;
        }
        uint32_t enteredBefore = _enteredTick;
        Outgoing* outer = _outgoing;
        _outgoing = &outgoing;
        try {
            event(*_current);
        } catch (...) {
            _outgoing = outer;
            throw;
        }
        _outgoing = outer;
        if (byOwner && outgoing.failed) {
            // Nothing was sent, so nothing will be answered: back to where the event found
            // the client, with nothing reported.
            if (_current != before) {
                _current = before;
                _enteredTick = enteredBefore;
                QF_TRACE("TRANSIT TO: %s\n", _current->name());
            }
            return false;
        }
    }
    send(outgoing, byOwner ? !mayWaitForRoom() : true);
    if (byOwner && outgoing.newStream) {
        // A frame of the stream just ended may be in the listener's hands on a dispatcher
        // thread: wait until it is out of them.
        std::lock_guard<Mutex> delivered(_frameMutex);
    }
    return true;
}

bool PlaybackClient::play(const PlaybackClientRequest& request) {
    return handleEvent(true, [&](PlaybackState& state) { state.play(request); });
}

bool PlaybackClient::stop() {
    return handleEvent(true, [&](PlaybackState& state) { state.stop(); });
}

bool PlaybackClient::changeChannels(BitMask32 mask) {
    return handleEvent(true, [&](PlaybackState& state) { state.changeChannels(mask); });
}

bool PlaybackClient::storageChangingEvent() {
    return handleEvent(true, [&](PlaybackState& state) { state.storageChanging(); });
}

void PlaybackClient::connectedEvent() {
    handleEvent(false, [&](PlaybackState& state) {
        state.connected();
        beginStream(false);
    });
}

void PlaybackClient::disconnectedEvent() {
    handleEvent(false, [&](PlaybackState& state) {
        state.disconnected();
        beginStream(false);
    });
}

void PlaybackClient::stoppedEvent(int reason) {
    handleEvent(false, [&](PlaybackState& state) { state.stopped(reason); });
}

void PlaybackClient::frameEvent(const MediaFrame& frame, bool flag, const MediaPosition& position) {
    handleEvent(false, [&](PlaybackState& state) { state.frameArrived(frame, flag, position); });
}

void PlaybackClient::textInEvent(const TextInFrame& frame, const MediaPosition& position) {
    // Text-in frames travel outside the state machine; those of a stream being stopped
    // are dropped here, like its audio and video.
    handleEvent(false, [&](PlaybackState&) {
        if (_takesTextIn) {
            _outgoing->textIn = &frame;
            _outgoing->position = position;
            _outgoing->stream = _stream.load();
        }
    });
}

void PlaybackClient::storageKnownEvent() {
    handleEvent(false, [&](PlaybackState& state) { state.storageKnown(); });
}

bool PlaybackClient::positionAt(const MediaPosition& position) {
    {
        std::lock_guard<Mutex> guard(_stateMutex);
        StateId id = _current->id();
        if (id == Disconnected || id == StorageUnknown) {
            return false;
        }
        // Sent with the state mutex held: the stop report, handled under the same mutex,
        // cannot overtake the transition below.
        if (!transmit("positionAt", [&] { transmitPause(position); })) {
            return false;
        }
        if (id != Stopped && id != Init) {
            return true;  // a plain pause of what is under way
        }
        PlaybackClientRequest current = _current->request;
        transitTo(WaitingForReply).request = current;
        beginStream(true);
    }
    std::lock_guard<Mutex> delivered(_frameMutex);
    return true;
}

IPlaybackStateMachineContext::StateId PlaybackClient::stateId() {
    std::lock_guard<Mutex> guard(_stateMutex);
    return _current->id();
}

bool PlaybackClient::isWaitOverdue(uint32_t now, uint32_t limitMs) {
    std::lock_guard<Mutex> guard(_stateMutex);
    StateId id = _current->id();
    bool waiting = id == WaitingForReply || id == WaitingForStop || id == StorageUnknown;
    // `now` may have been read before the state was entered (the watchdog reads the clock
    // once per look, then asks every owner): such a wait has not begun at `now`, where the
    // unsigned difference would make it 49 days old. Signed, it also survives the tick
    // count's wrap.
    int32_t waited = static_cast<int32_t>(now - _enteredTick);
    return waiting && waited > 0 && static_cast<uint32_t>(waited) > limitMs;
}

PlaybackState& PlaybackClient::transitTo(StateId id) {
    _current = _states[static_cast<size_t>(id)];
    _enteredTick = Clock::current().tickCount();
    QF_TRACE("TRANSIT TO: %s\n", _current->name());
    return *_current;
}

// ---- what the states do -------------------------------------------------------------------

template <typename Transmit>
bool PlaybackClient::transmit(const char* what, Transmit send) {
    try {
        std::lock_guard<Mutex> guard(_clientMutex);
        send();
        return true;
    } catch (const Exception& e) {
        QF_TRACE("PlaybackClient::%s : %s\n", what, messageOf(e));
        if (_outgoing != nullptr) {
            _outgoing->failed = true;
        }
        return false;
    }
}

void PlaybackClient::beginStream(bool takesTextIn) {
    clearMediaQueue();
    _stream.fetch_add(1);
    _takesTextIn = takesTextIn;
    if (_outgoing != nullptr) {
        _outgoing->newStream = true;
    }
}

bool PlaybackClient::sendRequest(const PlaybackClientRequest& request) {
    bool sent = transmit("sendRequest", [&] {
        switch (request.kind) {
            case PlaybackClientRequest::Play:
                transmitPlay(request.play);
                break;
            case PlaybackClientRequest::JumpToPosition:
                transmitJumpToPosition(request.position, request.mediaID);
                break;
            case PlaybackClientRequest::JumpToMediaID:
                transmitJumpToMediaID(request.value, request.mediaID, request.channels);
                break;
            default:
                transmitJumpNear(request.position, request.time, request.nearValue, request.channels);
                break;
        }
    });
    if (sent) {
        beginStream(true);
    }
    return sent;
}

bool PlaybackClient::sendStop() {
    MediaPosition position;
    {
        std::lock_guard<std::mutex> last(_lastMutex);
        position = _lastPosition;
    }
    bool sent = transmit("sendStop", [&] { transmitPause(position); });
    if (sent) {
        beginStream(false);
    }
    return sent;
}

bool PlaybackClient::sendChannels(BitMask32 mask) {
    MediaPosition position;
    DateTime time;
    int followed = -1;
    {
        std::lock_guard<std::mutex> last(_lastMutex);
        position = _lastPosition;
        time = _lastTime;
        followed = _followedChannel;
    }
    if (followed < 0) {
        if (_outgoing != nullptr) {
            _outgoing->failed = true;  // nothing to continue from
        }
        return false;
    }
    bool sent = transmit("sendChannels", [&] {
        if (mask.isSet(followed) && !position.isZero()) {
            transmitJumpToPosition(position, 0);
        } else {
            transmitJumpNear(position, time, 1, mask);
        }
    });
    if (sent) {
        beginStream(true);
    }
    return sent;
}

void PlaybackClient::playStarted(const PlaybackClientRequest& request) {
    if (IPlaybackClientListener* l = listener()) {
        l->playStarted(playbackHandle(), request.startedMode());
    }
}

int PlaybackClient::rateOf(const PlaybackClientRequest& request) const {
    if (request.kind != PlaybackClientRequest::Play || request.play.mode != 1) {
        return 0;
    }
    int rate = static_cast<int>(request.play.param2);
    return request.play.param1 == 2 ? -rate : rate;
}

void PlaybackClient::deliverFrame(const MediaFrame& frame, bool flag, const MediaPosition& position) {
    if (_outgoing == nullptr) {
        return;
    }
    _outgoing->frame = true;
    _outgoing->stream = _stream.load();
    _outgoing->mediaFrame = &frame;
    _outgoing->flag = flag;
    _outgoing->rate = rateOf(_current->request);
    _outgoing->position = position;
}

void PlaybackClient::reportStopped(int reason) {
    QF_TRACE("PlaybackClient::playbackStopped : reason = %d\n", reason);
    if (_outgoing == nullptr) {
        return;
    }
    _outgoing->stop = true;
    _outgoing->reason = reason == PositionApproximated ? PositionApproximatedReported : reason;
}

// ---- the media queue -----------------------------------------------------------------------

void PlaybackClient::send(const Outgoing& outgoing, bool withoutWaiting) {
    if (outgoing.frame) {
        queueFrame(outgoing, withoutWaiting);
    }
    if (outgoing.textIn != nullptr) {
        queueTextIn(outgoing, withoutWaiting);
    }
    if (outgoing.stop) {
        queueSmall(StopRecord, static_cast<uint32_t>(outgoing.reason), 0, 1, withoutWaiting);
    }
}

bool PlaybackClient::queue(const void* const pieces[], const int lengths[], int n, bool withoutWaiting) {
    return withoutWaiting ? queueRecordWithoutWaiting(pieces, lengths, n) : queueRecord(pieces, lengths, n);
}

void PlaybackClient::queueFrame(const Outgoing& outgoing, bool withoutWaiting) {
    const MediaFrame& frame = *outgoing.mediaFrame;
    uint8_t head[12 + 8 + PositionSize + FrameHeaderSize];
    Buffer buffer(head, sizeof head);
    buffer.putInt(static_cast<uint32_t>(playbackHandle()));
    buffer.putInt(FrameRecord);
    buffer.putInt(outgoing.stream);
    buffer.putInt(outgoing.flag ? 1 : 0);
    buffer.putInt(static_cast<uint32_t>(outgoing.rate));
    writePosition(buffer, outgoing.position);
    frame.writeTo(buffer);
    // The session refuses payloads above 1 MiB, so the data length fits an int.
    int dataLength = frame.data != nullptr ? static_cast<int>(frame.payloadSize()) : 0;
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    const void* pieces[3] = {head};
    int lengths[3] = {static_cast<int>(sizeof head)};
    int n = 1;
    if (dataLength > 0) {
        pieces[n] = frame.data;
        lengths[n++] = dataLength;
    }
    if (dataLength % 4 != 0) {
        pieces[n] = zeros;
        lengths[n++] = 4 - dataLength % 4;
    }
    queue(pieces, lengths, n, withoutWaiting);
}

void PlaybackClient::queueTextIn(const Outgoing& outgoing, bool withoutWaiting) {
    uint8_t record[12 + PositionSize + TextInRecord::Size];
    Buffer buffer(record, sizeof record);
    buffer.putInt(static_cast<uint32_t>(playbackHandle()));
    buffer.putInt(TextInRecordKind);
    buffer.putInt(outgoing.stream);
    writePosition(buffer, outgoing.position);
    TextInRecord::write(buffer, *outgoing.textIn);
    const void* pieces[] = {record};
    int lengths[] = {static_cast<int>(sizeof record)};
    queue(pieces, lengths, 1, withoutWaiting);
}

void PlaybackClient::queueSmall(uint32_t kind, uint32_t a, uint32_t b, int words, bool withoutWaiting) {
    uint8_t record[16];
    Buffer buffer(record, sizeof record);
    buffer.putInt(static_cast<uint32_t>(playbackHandle()));
    buffer.putInt(kind);
    buffer.putInt(a);
    buffer.putInt(b);
    const void* pieces[] = {record};
    int lengths[] = {8 + 4 * words};
    queue(pieces, lengths, 1, withoutWaiting);
}

void PlaybackClient::postCallback(int code, int value) {
    queueSmall(CallbackRecord, static_cast<uint32_t>(code), static_cast<uint32_t>(value), 2, !mayWaitForRoom());
}

bool PlaybackClient::keepsAcrossClear(const uint8_t* record, int length) const {
    uint32_t kind = 0;
    if (length < 8) {
        return false;
    }
    std::memcpy(&kind, record + 4, sizeof kind);
    // Stale media may go, but not what the listener must hear: the callbacks its owner
    // posted (a flush, a roll-back) and the stops the recorder reported.
    return kind == CallbackRecord || kind == StopRecord;
}

void PlaybackClient::dispatch(Buffer& record) {
    IPlaybackClientListener* l = listener();
    int handle = static_cast<int>(record.getInt());
    uint32_t kind = record.getInt();
    if (l == nullptr) {
        return;
    }
    switch (kind) {
        case FrameRecord: {
            uint32_t stream = record.getInt();
            bool flag = record.getInt() != 0;
            int rate = static_cast<int>(record.getInt());
            MediaPosition position = readPosition(record);
            MediaFrame frame;
            frame.readFrom(record);
            frame.data = record.current();
            std::lock_guard<Mutex> guard(_frameMutex);
            if (!isCurrentStream(stream)) {
                return;
            }
            if (frame.mediaType == PlaybackLayout::MediaTypeVideo) {
                // Recorded before the listener hears of the frame: a stop or a change of
                // channels it asks for continues from this frame.
                rememberDelivered(frame, position, true);
                l->videoFrameReceived(handle, flag, rate, frame, position);
                break;
            }
            if (frame.mediaType == PlaybackLayout::MediaTypeAudio) {
                l->audioFrameReceived(handle, frame, position);
            }
            rememberDelivered(frame, position, false);
            break;
        }
        case TextInRecordKind: {
            uint32_t stream = record.getInt();
            MediaPosition position = readPosition(record);
            TextInFrame frame;
            TextInRecord::read(record, frame);
            std::lock_guard<Mutex> guard(_frameMutex);
            if (!isCurrentStream(stream)) {
                return;
            }
            l->textInFrameReceived(handle, frame, position);
            break;
        }
        case StopRecord:
            l->playbackStopped(handle, static_cast<int>(record.getInt()));
            break;
        case CallbackRecord: {
            int code = static_cast<int>(record.getInt());
            int value = static_cast<int>(record.getInt());
            l->playbackCallback(handle, code, value);
            break;
        }
        default:
            break;
    }
}

// ---- owner side ----------------------------------------------------------------------------

void PlaybackClient::attachListener(int queueBytes, IPlaybackClientListener* listener) {
    _listener.store(listener);
    openMediaQueue(std::max(queueBytes, MinimumQueueBytes));
}

void PlaybackClient::closeListener() {
    closeMediaQueue();
}

void PlaybackClient::releaseListener() {
    destroyMediaQueue();
    _listener.store(nullptr);
}

void PlaybackClient::rememberDelivered(const MediaFrame& frame, const MediaPosition& position, bool followed) {
    std::lock_guard<std::mutex> last(_lastMutex);
    _lastTime = frame.time;
    _lastPosition = position;
    if (followed) {
        _followedChannel = lowestChannel(frame.channelMask);
    }
}

void PlaybackClient::resetLastDelivered() {
    std::lock_guard<std::mutex> last(_lastMutex);
    _lastPosition = MediaPosition();
    _lastTime = DateTime();
    _followedChannel = -1;
}
