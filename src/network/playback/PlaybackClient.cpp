#include "network/playback/PlaybackClient.h"

#include <algorithm>
#include <cstring>

#include "base/Buffer.h"
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
void PlaybackClient::handleEvent(Event event) {
    Outgoing outgoing;
    {
        std::lock_guard<Mutex> guard(_stateMutex);
        Outgoing* outer = _outgoing;
        _outgoing = &outgoing;
        try {
            event(*_current);
        } catch (...) {
            _outgoing = outer;
            throw;
        }
        _outgoing = outer;
    }
    send(outgoing);
}

void PlaybackClient::play(const PlaybackClientRequest& request) {
    handleEvent([&](PlaybackState& state) { state.play(request); });
}

void PlaybackClient::stop() {
    handleEvent([&](PlaybackState& state) { state.stop(); });
}

void PlaybackClient::changeChannels(BitMask32 mask) {
    handleEvent([&](PlaybackState& state) { state.changeChannels(mask); });
}

void PlaybackClient::connectedEvent() {
    handleEvent([&](PlaybackState& state) { state.connected(); });
}

void PlaybackClient::disconnectedEvent() {
    handleEvent([&](PlaybackState& state) { state.disconnected(); });
}

void PlaybackClient::stoppedEvent(int reason) {
    handleEvent([&](PlaybackState& state) { state.stopped(reason); });
}

void PlaybackClient::frameEvent(const MediaFrame& frame, bool flag, const MediaPosition& position) {
    handleEvent([&](PlaybackState& state) { state.frameArrived(frame, flag, position); });
}

void PlaybackClient::storageChangingEvent() {
    handleEvent([&](PlaybackState& state) { state.storageChanging(); });
}

void PlaybackClient::storageKnownEvent() {
    handleEvent([&](PlaybackState& state) { state.storageKnown(); });
}

bool PlaybackClient::positionAt(const MediaPosition& position) {
    std::lock_guard<Mutex> guard(_stateMutex);
    PlaybackState* before = _current;
    if (before->id() == Stopped || before->id() == Init) {
        PlaybackClientRequest current = before->request;
        transitTo(WaitingForReply).request = current;
    }
    // Sent with the state mutex held: the stop report, handled under the same mutex,
    // cannot overtake the transition above.
    try {
        transmitPause(position);
        return true;
    } catch (const Exception& e) {
        QF_TRACE("PlaybackClient::positionAt : %s\n", messageOf(e));
        if (_current != before) {
            transitTo(before->id());
        }
        return false;
    }
}

IPlaybackStateMachineContext::StateId PlaybackClient::stateId() {
    std::lock_guard<Mutex> guard(_stateMutex);
    return _current->id();
}

PlaybackState& PlaybackClient::transitTo(StateId id) {
    _current = _states[static_cast<size_t>(id)];
    QF_TRACE("TRANSIT TO: %s\n", _current->name());
    return *_current;
}

// ---- what the states do -------------------------------------------------------------------

void PlaybackClient::sendRequest(const PlaybackClientRequest& request) {
    std::lock_guard<Mutex> guard(_clientMutex);
    clearMediaQueue();
    _stopping.store(false);
    try {
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
        _active = request;
    } catch (const Exception& e) {
        QF_TRACE("PlaybackClient::sendRequest : %s\n", messageOf(e));
    }
}

void PlaybackClient::sendStop() {
    std::lock_guard<Mutex> guard(_clientMutex);
    clearMediaQueue();
    _stopping.store(true);
    MediaPosition position;
    {
        std::lock_guard<std::mutex> last(_lastMutex);
        position = _lastPosition;
    }
    try {
        transmitPause(position);
    } catch (const Exception& e) {
        QF_TRACE("PlaybackClient::sendStop : %s\n", messageOf(e));
    }
}

void PlaybackClient::sendChannels(BitMask32 mask) {
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
        return;
    }
    std::lock_guard<Mutex> guard(_clientMutex);
    clearMediaQueue();
    _stopping.store(false);
    try {
        if (mask.isSet(followed) && !position.isZero()) {
            transmitJumpToPosition(position, 0);
        } else {
            transmitJumpNear(position, time, 1, mask);
        }
    } catch (const Exception& e) {
        QF_TRACE("PlaybackClient::sendChannels : %s\n", messageOf(e));
    }
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

void PlaybackClient::send(const Outgoing& outgoing) {
    if (outgoing.frame) {
        queueFrame(*outgoing.mediaFrame, outgoing.flag, outgoing.rate, outgoing.position);
    }
    if (outgoing.stop) {
        queueSmall(StopRecord, static_cast<uint32_t>(outgoing.reason), 0, 1);
    }
}

void PlaybackClient::queueFrame(const MediaFrame& frame, bool flag, int rate, const MediaPosition& position) {
    uint8_t head[8 + 8 + PositionSize + FrameHeaderSize];
    Buffer buffer(head, sizeof head);
    buffer.putInt(static_cast<uint32_t>(playbackHandle()));
    buffer.putInt(FrameRecord);
    buffer.putInt(flag ? 1 : 0);
    buffer.putInt(static_cast<uint32_t>(rate));
    writePosition(buffer, position);
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
    queueRecord(pieces, lengths, n);
}

void PlaybackClient::queueTextIn(const TextInFrame& frame, const MediaPosition& position) {
    uint8_t record[8 + PositionSize + TextInRecord::Size];
    Buffer buffer(record, sizeof record);
    buffer.putInt(static_cast<uint32_t>(playbackHandle()));
    buffer.putInt(TextInRecordKind);
    writePosition(buffer, position);
    TextInRecord::write(buffer, frame);
    const void* pieces[] = {record};
    int lengths[] = {static_cast<int>(sizeof record)};
    queueRecord(pieces, lengths, 1);
}

void PlaybackClient::queueSmall(uint32_t kind, uint32_t a, uint32_t b, int words) {
    uint8_t record[16];
    Buffer buffer(record, sizeof record);
    buffer.putInt(static_cast<uint32_t>(playbackHandle()));
    buffer.putInt(kind);
    buffer.putInt(a);
    buffer.putInt(b);
    const void* pieces[] = {record};
    int lengths[] = {8 + 4 * words};
    queueRecord(pieces, lengths, 1);
}

void PlaybackClient::postCallback(int code, int value) {
    queueSmall(CallbackRecord, static_cast<uint32_t>(code), static_cast<uint32_t>(value), 2);
}

bool PlaybackClient::keepsAcrossClear(const uint8_t* record, int length) const {
    uint32_t kind = 0;
    if (length < 8) {
        return false;
    }
    std::memcpy(&kind, record + 4, sizeof kind);
    return kind == CallbackRecord;
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
            bool flag = record.getInt() != 0;
            int rate = static_cast<int>(record.getInt());
            MediaPosition position = readPosition(record);
            MediaFrame frame;
            frame.readFrom(record);
            frame.data = record.current();
            std::lock_guard<Mutex> guard(_frameMutex);
            if (_stopping.load()) {
                return;
            }
            if (frame.mediaType == PlaybackLayout::MediaTypeAudio) {
                l->audioFrameReceived(handle, frame, position);
            } else if (frame.mediaType == PlaybackLayout::MediaTypeVideo) {
                {
                    std::lock_guard<std::mutex> last(_lastMutex);
                    _lastPosition = position;
                    _followedChannel = lowestChannel(frame.channelMask);
                }
                l->videoFrameReceived(handle, flag, rate, frame, position);
            }
            std::lock_guard<std::mutex> last(_lastMutex);
            _lastTime = frame.time;
            _lastPosition = position;
            break;
        }
        case TextInRecordKind: {
            MediaPosition position = readPosition(record);
            TextInFrame frame;
            TextInRecord::read(record, frame);
            // Text-in frames travel outside the state machine, so those of a stream being
            // stopped are dropped here like its audio and video.
            std::lock_guard<Mutex> guard(_frameMutex);
            if (_stopping.load()) {
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

void PlaybackClient::resetLastDelivered() {
    std::lock_guard<std::mutex> last(_lastMutex);
    _lastPosition = MediaPosition();
    _lastTime = DateTime();
    _followedChannel = -1;
}
