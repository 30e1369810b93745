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

    // The three operations that tell the recorder something answer false when it could
    // not be told (nothing was sent and nothing changed); the event is then not carried
    // out.
    //
    // Sends the request to the recorder; whatever is still queued for the listener from
    // earlier playback is dropped.
    virtual bool sendRequest(const PlaybackClientRequest& request) = 0;
    // Asks the recorder to stop (pause at the last delivered position); frames still
    // queued or arriving until the next request are dropped.
    virtual bool sendStop() = 0;
    // Follows other channels from where playback is; false also when no channel is being
    // followed yet.
    virtual bool sendChannels(BitMask32 mask) = 0;
    virtual void playStarted(const PlaybackClientRequest& request) = 0;
    virtual void deliverFrame(const MediaFrame& frame, bool flag, const MediaPosition& position) = 0;
    // Playback stopped for `reason`: queued for the listener's playbackStopped (named apart
    // from the session callback of the same meaning, which a network client also has).
    virtual void reportStopped(int reason) = 0;
};
