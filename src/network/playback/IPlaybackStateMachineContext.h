#pragma once

#include "base/BitMask32.h"
#include "network/playback/PlaybackClientRequest.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/MediaPosition.h"

class PlaybackState;

// What the playback states act on: the client that owns them. The states call these
// while the client's state mutex is held.
class IPlaybackStateMachineContext {
public:
    enum StateId {
        Disconnected = 0,
        Init,
        Stopped,
        WaitingForReply,
        Playing,
        WaitingForStop,
        StorageUnknown,
        StateCount,
    };

    virtual ~IPlaybackStateMachineContext() = default;

    // Makes `id` the current state (traced) and returns it so the caller can fill it in.
    virtual PlaybackState& transitTo(StateId id) = 0;

    // Sends the request to the recorder after dropping whatever is still queued for the
    // listener from earlier playback.
    virtual void sendRequest(const PlaybackClientRequest& request) = 0;
    // Asks the recorder to stop (pause at the last delivered position); frames still
    // queued or arriving until the stop report are dropped.
    virtual void sendStop() = 0;
    // Follows other channels from where playback is.
    virtual void sendChannels(BitMask32 mask) = 0;
    virtual void playStarted(const PlaybackClientRequest& request) = 0;
    virtual void deliverFrame(const MediaFrame& frame, bool flag, const MediaPosition& position) = 0;
    // Playback stopped for `reason`: queued for the listener's playbackStopped (named apart
    // from the session callback of the same meaning, which a network client also has).
    virtual void reportStopped(int reason) = 0;
};
