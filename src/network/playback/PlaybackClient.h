#pragma once

#include <array>
#include <atomic>
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
// posted callbacks reach the listener on the media dispatcher thread, and what was last
// delivered (position, time, followed channel), from which a stop or a channel change
// continues. A subclass supplies the handle and the transmit operations.
//
// Media queue records start with u32 handle and u32 kind: 0 an audio or video frame
// (u32 flag, u32 rate, position, the 64-byte header in its storage form, the data padded
// to 4 bytes), 1 a text-in frame (position, 128-byte record), 2 a stop report (u32
// reason), 4 an owner callback (u32 code, u32 value).
//
// Threads and locks: state-machine events come from the network thread (responses) and
// from owner threads (requests), each handled under the state mutex. A record an event
// produces is queued after the state mutex is released, so a producer blocked on a full
// queue never holds it: a listener may then call play/stop from the media dispatcher
// thread without deadlock. The client mutex is held in sendStop; the frame mutex while a
// frame is handed to the listener.
class PlaybackClient : public IPlaybackStateMachineContext, public MediaDispatcherClient {
public:
    // The smallest media queue: one frame of the largest packet a recorder may send
    // must fit, or its producer would wait forever.
    static constexpr int MinimumQueueBytes = (1 << 20) + 4096;

    PlaybackClient();
    ~PlaybackClient() override;

    // ---- state-machine events caused by the owner ------------------------------------
    void play(const PlaybackClientRequest& request);
    void stop();
    void changeChannels(BitMask32 mask);

    // Positions playback at a recorder-side position without playing (a pause request).
    // From STOPPED (or INIT) the client then waits for the recorder's stop report like for
    // any other request, so that the report reaches the listener. False when the request
    // could not be sent.
    bool positionAt(const MediaPosition& position);

    // Queues a callback for the listener's playbackCallback, after everything queued so far.
    void postCallback(int code, int value);

    StateId stateId();
    IPlaybackClientListener* listener() const { return _listener.load(); }

    // ---- IPlaybackStateMachineContext ------------------------------------------------
    PlaybackState& transitTo(StateId id) override;
    void sendRequest(const PlaybackClientRequest& request) override;
    void sendStop() override;
    void sendChannels(BitMask32 mask) override;
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

    // Network-side events.
    void connectedEvent();
    void disconnectedEvent();
    void stoppedEvent(int reason);
    void frameEvent(const MediaFrame& frame, bool flag, const MediaPosition& position);
    void storageChangingEvent();
    void storageKnownEvent();
    void queueTextIn(const TextInFrame& frame, const MediaPosition& position);

    // Opens the media queue (at least MinimumQueueBytes) and sets the listener.
    void attachListener(int queueBytes, IPlaybackClientListener* listener);
    // Closes the media queue and waits for a delivery in progress; then no more calls
    // reach the listener from the media dispatcher thread.
    void closeListener();
    void releaseListener();
    void resetLastDelivered();
    void clearQueue() { clearMediaQueue(); }

private:
    // What one event leaves to be queued once the state mutex is released.
    struct Outgoing {
        bool frame = false;
        const MediaFrame* mediaFrame = nullptr;
        bool flag = false;
        int rate = 0;
        MediaPosition position;
        bool stop = false;
        int reason = 0;
    };

    template <typename Event>
    void handleEvent(Event event);
    void send(const Outgoing& outgoing);
    void queueFrame(const MediaFrame& frame, bool flag, int rate, const MediaPosition& position);
    void queueSmall(uint32_t kind, uint32_t a, uint32_t b, int words);
    int rateOf(const PlaybackClientRequest& request) const;

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
    Mutex _stateMutex;
    Outgoing* _outgoing = nullptr;  // under the state mutex

    Mutex _clientMutex;
    std::atomic<bool> _stopping{false};
    PlaybackClientRequest _active;  // under the client mutex

    Mutex _frameMutex;
    std::mutex _lastMutex;  // what was last delivered; never held while calling out
    MediaPosition _lastPosition;
    DateTime _lastTime;
    int _followedChannel = -1;
};
