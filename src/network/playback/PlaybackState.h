#pragma once

#include "network/playback/IPlaybackStateMachineContext.h"
#include "network/playback/PlaybackClientRequest.h"

// One state of a playback client's state machine. The client holds one object of each
// state and a pointer to the current one; every event goes to the current state while the
// client's state mutex is held. By default an event is ignored, except the three that
// apply everywhere: connected (to STOPPED), disconnected (to DISCONNECTED) and a storage
// change (stop, then STORAGE_UNKNOWN until the recorder confirms it).
class PlaybackState {
public:
    PlaybackState(IPlaybackStateMachineContext& context, IPlaybackStateMachineContext::StateId id, const char* name)
        : _context(context), _id(id), _name(name) {}
    virtual ~PlaybackState() = default;
    PlaybackState(const PlaybackState&) = delete;
    PlaybackState& operator=(const PlaybackState&) = delete;

    virtual void play(const PlaybackClientRequest&) {}
    virtual void stop() {}
    virtual void changeChannels(BitMask32) {}
    virtual void stopped(int) {}
    virtual void frameArrived(const MediaFrame&, bool, const MediaPosition&) {}
    virtual void connected();
    virtual void disconnected();
    virtual void storageChanging();
    virtual void storageKnown() {}

    IPlaybackStateMachineContext::StateId id() const { return _id; }
    const char* name() const { return _name; }

    // The request this state is about (what is playing, or what was asked for).
    PlaybackClientRequest request;

protected:
    IPlaybackStateMachineContext& _context;

private:
    const IPlaybackStateMachineContext::StateId _id;
    const char* const _name;
};
