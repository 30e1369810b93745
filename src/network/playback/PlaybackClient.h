#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/DateTime.h"
#include "base/thread/Mutex.h"
#include "network/playback/IPlaybackClientListener.h"
#include "network/playback/IPlaybackStateMachineContext.h"
#include "network/playback/MediaDispatcherClient.h"
#include "network/playback/PlaybackStates.h"

// A client of one recorder's playback, independent of how requests reach the recorder:
// the playback state machine, the media queue through which frames, stop reports and
// posted callbacks reach the listener on a media dispatcher thread, and what was last
// delivered (position, time, followed channel), from which a stop or a channel change
// continues. A subclass supplies the handle and the transmit operations.
//
// Streams. Every request, positioning, stop and (re)connection begins a new stream: what
// is still queued from the one before is dropped, and a frame of an earlier stream that
// a dispatcher thread has already taken is dropped when it comes to be delivered. Once an
// owner's play, stop, changeChannels or positionAt has returned, no frame of the stream it
// ended reaches the listener: a delivery already under way is waited for. Text-in frames
// are taken only while a request or a positioning is under way.
//
// Media queue records start with u32 handle and u32 kind: 0 an audio or video frame
// (u32 stream, u32 flag, u32 rate, position, the 64-byte header in its storage form, the
// data padded to 4 bytes), 1 a text-in frame (u32 stream, position, 128-byte record), 2 a
// stop report (u32 reason), 4 an owner callback (u32 code, u32 value).
//
// Threads and locks: state-machine events come from the network thread (responses) and
// from owner threads (requests), each handled under the state mutex. A record an event
// produces is queued after the state mutex is released. The network thread never waits
// for room in the queue (see MediaDispatcherClient); owner threads may, without holding
// the state mutex, so a listener may call play/stop from a media dispatcher thread.
// The client mutex is held around every transmit; the frame mutex while a frame is handed
// to the listener.
class PlaybackClient : public IPlaybackStateMachineContext, public MediaDispatcherClient {
public:
    // The smallest media queue: one frame of the largest packet a recorder may send
    // must fit, or it could never be delivered.
    static constexpr int MinimumQueueBytes = (1 << 20) + 4096;

    PlaybackClient();
    ~PlaybackClient() override;

    // ---- state-machine events caused by the owner ------------------------------------
    // Each answers false when it could not be carried out: not connected, waiting for the
    // recorder to confirm a storage change, nothing followed yet (changeChannels), or the
    // recorder could not be told (its send queue full, its connection going away). The
    // state is then as before and the listener hears nothing of it.
    bool play(const PlaybackClientRequest& request);
    bool stop();
    bool changeChannels(BitMask32 mask);

    // Positions playback at a recorder-side position without playing (a pause request).
    // From STOPPED (or INIT) the client then waits for the recorder's stop report like for
    // any other request, delivering the frame the recorder sends from there, so that both
    // reach the listener. False as above.
    bool positionAt(const MediaPosition& position);

    // Queues a callback for the listener's playbackCallback, after everything queued so far.
    void postCallback(int code, int value);

    StateId stateId();
    IPlaybackClientListener* listener() const { return _listener.load(); }

    // Whether the client has been waiting for the recorder's answer (in WAITING_FOR_REPLY,
    // WAITING_FOR_STOP or STORAGE_UNKNOWN) for more than `limitMs` at tick `now`; a wait
    // entered after `now` has not begun then.
    bool isWaitOverdue(uint32_t now, uint32_t limitMs);

    // ---- IPlaybackStateMachineContext ------------------------------------------------
    PlaybackState& transitTo(StateId id) override;
    bool sendRequest(const PlaybackClientRequest& request) override;
    bool sendStop() override;
    bool sendChannels(BitMask32 mask) override;
    void playStarted(const PlaybackClientRequest& request) override;
    void deliverFrame(const MediaFrame& frame, bool flag, const MediaPosition& position) override;
    void reportStopped(int reason) override;

    // ---- MediaDispatcherClient -------------------------------------------------------
    void dispatch(Buffer& record) override;
    bool keepsAcrossClear(const uint8_t* record, int length) const override;

    // Record kinds.
    static constexpr uint32_t FrameRecord = 0;
    static constexpr uint32_t TextInRecordKind = 1;
    static constexpr uint32_t StopRecord = 2;
    static constexpr uint32_t CallbackRecord = 4;

protected:
    virtual int playbackHandle() const = 0;
    virtual void transmitPlay(const PlayRequest& request) = 0;
    virtual void transmitJumpToPosition(const MediaPosition& position, uint64_t mediaID) = 0;
    virtual void transmitJumpToMediaID(unsigned value, uint64_t mediaID, BitMask32 channels) = 0;
    virtual void transmitJumpNear(const MediaPosition& position, const DateTime& time, int value,
                                  BitMask32 channels) = 0;
    virtual void transmitPause(const MediaPosition& position) = 0;
    // Whether the calling thread may wait for room in the media queue: not the thread
    // that reads from the recorders, which owner calls made from its callbacks run on.
    virtual bool mayWaitForRoom() const { return true; }

    // Network-side events.
    void connectedEvent();
    void disconnectedEvent();
    void stoppedEvent(int reason);
    void frameEvent(const MediaFrame& frame, bool flag, const MediaPosition& position);
    void textInEvent(const TextInFrame& frame, const MediaPosition& position);
    void storageKnownEvent();
    // Caused by the owner (a storage change); false as for play().
    bool storageChangingEvent();

    // Opens the media queue (at least MinimumQueueBytes) and sets the listener.
    void attachListener(int queueBytes, IPlaybackClientListener* listener);
    // Closes the media queue and waits for a delivery in progress; then no more calls
    // reach the listener from a media dispatcher thread.
    void closeListener();
    void releaseListener();
    void resetLastDelivered();
    void clearQueue() { clearMediaQueue(); }

private:
    // What one event leaves to be queued once the state mutex is released.
    struct Outgoing {
        uint32_t stream = 0;
        bool frame = false;
        const MediaFrame* mediaFrame = nullptr;
        bool flag = false;
        int rate = 0;
        MediaPosition position;
        const TextInFrame* textIn = nullptr;
        bool stop = false;
        int reason = 0;
        bool failed = false;  // something the event had to tell the recorder was not sent
        bool newStream = false;
    };

    // Runs `event` on the current state. An owner's event that failed is undone; one that
    // began a new stream returns only once no delivery of the earlier stream is under way.
    template <typename Event>
    bool handleEvent(bool byOwner, Event event);
    // Under the state mutex: transmits with the client mutex held; false (traced) when
    // the transmit threw.
    template <typename Transmit>
    bool transmit(const char* what, Transmit send);
    // Under the state mutex: what is queued belongs to an earlier stream from now on.
    void beginStream(bool takesTextIn);
    // Queues what an event left; `withoutWaiting` for the network thread, which must not
    // wait for room.
    void send(const Outgoing& outgoing, bool withoutWaiting);
    bool queue(const void* const pieces[], const int lengths[], int n, bool withoutWaiting);
    void queueFrame(const Outgoing& outgoing, bool withoutWaiting);
    void queueTextIn(const Outgoing& outgoing, bool withoutWaiting);
    void queueSmall(uint32_t kind, uint32_t a, uint32_t b, int words, bool withoutWaiting);
    int rateOf(const PlaybackClientRequest& request) const;
    bool isCurrentStream(uint32_t stream) const { return stream == _stream.load(); }
    // A frame handed to the listener: where a stop or a change of channels continues from
    // (a video frame also names the channel followed).
    void rememberDelivered(const MediaFrame& frame, const MediaPosition& position, bool followed);

    std::atomic<IPlaybackClientListener*> _listener{nullptr};

    DisconnectedPlaybackState _disconnected{*this};
    InitialPlaybackState _initial{*this};
    StoppedPlaybackState _stopped{*this};
    WaitingForReplyPlaybackState _waitingForReply{*this};
    PlayingPlaybackState _playing{*this};
    WaitingForStopPlaybackState _waitingForStop{*this};
    StorageUnknownPlaybackState _storageUnknown{*this};
    std::array<PlaybackState*, StateCount> _states;
    PlaybackState* _current;
    uint32_t _enteredTick = 0;  // when the current state was entered; under the state mutex
    Mutex _stateMutex;
    Outgoing* _outgoing = nullptr;  // under the state mutex
    // The stream records are stamped with; changed under the state mutex, read by the
    // dispatcher under the frame mutex.
    std::atomic<uint32_t> _stream{0};
    bool _takesTextIn = false;  // under the state mutex

    Mutex _clientMutex;
    Mutex _frameMutex;
    std::mutex _lastMutex;  // what was last delivered; never held while calling out
    MediaPosition _lastPosition;
    DateTime _lastTime;
    int _followedChannel = -1;
};
