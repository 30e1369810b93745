#pragma once

#include "network/playback/PlaybackState.h"

// The seven states of a playback client. A client starts DISCONNECTED, is STOPPED once
// logged in, and cycles STOPPED -> WAITING_FOR_REPLY -> PLAYING -> WAITING_FOR_STOP ->
// STOPPED (or WAITING_FOR_REPLY again when a new request waited for the stop report).

class DisconnectedPlaybackState : public PlaybackState {
public:
    explicit DisconnectedPlaybackState(IPlaybackStateMachineContext& c)
        : PlaybackState(c, IPlaybackStateMachineContext::Disconnected, "DISCONNECTED") {}
    // Nothing can be stopped on a connection that is gone.
    void storageChanging() override {}
};

// Before the first request after a storage change.
class InitialPlaybackState : public PlaybackState {
public:
    explicit InitialPlaybackState(IPlaybackStateMachineContext& c)
        : PlaybackState(c, IPlaybackStateMachineContext::Init, "INIT") {}
    void play(const PlaybackClientRequest& r) override;
};

class StoppedPlaybackState : public PlaybackState {
public:
    explicit StoppedPlaybackState(IPlaybackStateMachineContext& c)
        : PlaybackState(c, IPlaybackStateMachineContext::Stopped, "STOPPED") {}
    void play(const PlaybackClientRequest& r) override;
    void stop() override;
    void changeChannels(BitMask32 mask) override;

    // Whether the recorder was streaming when it stopped (it is then told to stop again,
    // and the next request waits for that stop's report).
    bool wasPlaying = false;
};

// A request was sent; its first frame or a stop report is awaited.
class WaitingForReplyPlaybackState : public PlaybackState {
public:
    explicit WaitingForReplyPlaybackState(IPlaybackStateMachineContext& c)
        : PlaybackState(c, IPlaybackStateMachineContext::WaitingForReply, "WAITING_FOR_REPLY") {}
    void play(const PlaybackClientRequest& r) override;
    void stop() override;
    void changeChannels(BitMask32 mask) override;
    void stopped(int reason) override;
    void frameArrived(const MediaFrame& f, bool flag, const MediaPosition& p) override;
};

class PlayingPlaybackState : public PlaybackState {
public:
    explicit PlayingPlaybackState(IPlaybackStateMachineContext& c)
        : PlaybackState(c, IPlaybackStateMachineContext::Playing, "PLAYING") {}
    void play(const PlaybackClientRequest& r) override;
    void stop() override;
    void changeChannels(BitMask32 mask) override;
    void stopped(int reason) override;
    void frameArrived(const MediaFrame& f, bool flag, const MediaPosition& p) override;
};

// A stop was sent; the stop report is awaited, after which the pending request (if any)
// is sent.
class WaitingForStopPlaybackState : public PlaybackState {
public:
    explicit WaitingForStopPlaybackState(IPlaybackStateMachineContext& c)
        : PlaybackState(c, IPlaybackStateMachineContext::WaitingForStop, "WAITING_FOR_STOP") {}
    void play(const PlaybackClientRequest& r) override;
    void stop() override;
    void changeChannels(BitMask32 mask) override;
    void stopped(int reason) override;

    void pend(const PlaybackClientRequest& r) {
        pending = r;
        hasPendingMask = false;
        stopOnly = false;
    }

    PlaybackClientRequest pending;
    bool hasPendingMask = false;
    BitMask32 pendingMask;
    bool stopOnly = false;
};

// A storage change was asked for; nothing is played until the recorder confirms it.
class StorageUnknownPlaybackState : public PlaybackState {
public:
    explicit StorageUnknownPlaybackState(IPlaybackStateMachineContext& c)
        : PlaybackState(c, IPlaybackStateMachineContext::StorageUnknown, "STORAGE_UNKNOWN") {}
    void storageKnown() override;
};
