#include "network/playback/PlaybackStates.h"

namespace {

using Ctx = IPlaybackStateMachineContext;

void enterStopped(Ctx& context, bool wasPlaying, const PlaybackClientRequest& current) {
    auto& state = static_cast<StoppedPlaybackState&>(context.transitTo(Ctx::Stopped));
    state.wasPlaying = wasPlaying;
    state.request = current;
}

void enterWaitingForReply(Ctx& context, const PlaybackClientRequest& r) {
    context.transitTo(Ctx::WaitingForReply).request = r;
}

WaitingForStopPlaybackState& enterWaitingForStop(Ctx& context, const PlaybackClientRequest& current) {
    auto& state = static_cast<WaitingForStopPlaybackState&>(context.transitTo(Ctx::WaitingForStop));
    state.request = current;
    state.pend(current);
    return state;
}

}  // namespace

// ---- every state ------------------------------------------------------------------------

void PlaybackState::connected() {
    enterStopped(_context, false, request);
}

void PlaybackState::disconnected() {
    _context.transitTo(Ctx::Disconnected);
}

void PlaybackState::storageChanging() {
    _context.sendStop();
    _context.transitTo(Ctx::StorageUnknown);
}

// ---- INIT -------------------------------------------------------------------------------

void InitialPlaybackState::play(const PlaybackClientRequest& r) {
    enterWaitingForReply(_context, r);
    _context.sendRequest(r);
}

// ---- STOPPED ----------------------------------------------------------------------------

void StoppedPlaybackState::play(const PlaybackClientRequest& r) {
    if (wasPlaying) {
        // The recorder answers the stop with a stop report of its own; the request goes
        // out only after it, or that report would be taken for the request's answer and
        // the stream that follows dropped.
        enterWaitingForStop(_context, request).pend(r);
        _context.sendStop();
        return;
    }
    enterWaitingForReply(_context, r);
    _context.sendRequest(r);
}

void StoppedPlaybackState::stop() {
    _context.sendStop();
    _context.reportStopped(1);
}

void StoppedPlaybackState::changeChannels(BitMask32 mask) {
    if (_context.sendChannels(mask)) {
        enterWaitingForReply(_context, request.withChannels(mask));
    }
}

// ---- WAITING_FOR_REPLY ------------------------------------------------------------------

void WaitingForReplyPlaybackState::play(const PlaybackClientRequest& r) {
    enterWaitingForStop(_context, request).pend(r);
    _context.sendStop();
}

void WaitingForReplyPlaybackState::stop() {
    enterWaitingForStop(_context, request).stopOnly = true;
    _context.sendStop();
}

void WaitingForReplyPlaybackState::changeChannels(BitMask32 mask) {
    auto& next = enterWaitingForStop(_context, request);
    next.hasPendingMask = true;
    next.pendingMask = mask;
    _context.sendStop();
}

void WaitingForReplyPlaybackState::stopped(int reason) {
    enterStopped(_context, false, PlaybackClientRequest(request));
    _context.reportStopped(reason);
}

void WaitingForReplyPlaybackState::frameArrived(const MediaFrame& f, bool flag, const MediaPosition& p) {
    PlaybackClientRequest current = request;
    _context.transitTo(Ctx::Playing).request = current;
    _context.playStarted(current);
    _context.deliverFrame(f, flag, p);
}

// ---- PLAYING ----------------------------------------------------------------------------

void PlayingPlaybackState::play(const PlaybackClientRequest& r) {
    enterWaitingForStop(_context, request).pend(r);
    _context.sendStop();
}

void PlayingPlaybackState::stop() {
    enterWaitingForStop(_context, request).stopOnly = true;
    _context.sendStop();
}

void PlayingPlaybackState::changeChannels(BitMask32 mask) {
    auto& next = enterWaitingForStop(_context, request);
    next.hasPendingMask = true;
    next.pendingMask = mask;
    _context.sendStop();
}

void PlayingPlaybackState::stopped(int reason) {
    enterStopped(_context, true, PlaybackClientRequest(request));
    _context.reportStopped(reason);
}

void PlayingPlaybackState::frameArrived(const MediaFrame& f, bool flag, const MediaPosition& p) {
    _context.deliverFrame(f, flag, p);
}

// ---- WAITING_FOR_STOP -------------------------------------------------------------------

void WaitingForStopPlaybackState::play(const PlaybackClientRequest& r) {
    pend(r);
}

void WaitingForStopPlaybackState::stop() {
    stopOnly = true;
}

void WaitingForStopPlaybackState::changeChannels(BitMask32 mask) {
    hasPendingMask = true;
    pendingMask = mask;
}

void WaitingForStopPlaybackState::stopped(int reason) {
    if (stopOnly) {
        enterStopped(_context, false, PlaybackClientRequest(request));
        _context.reportStopped(reason);
        return;
    }
    PlaybackClientRequest next = hasPendingMask ? pending.withChannels(pendingMask) : pending;
    enterWaitingForReply(_context, next);
    if (!_context.sendRequest(next)) {
        // Nobody would ever answer: report the stop instead, so the owner is not left
        // waiting for a playback that never starts.
        enterStopped(_context, false, PlaybackClientRequest(request));
        _context.reportStopped(reason);
    }
}

// ---- STORAGE_UNKNOWN --------------------------------------------------------------------

void StorageUnknownPlaybackState::storageKnown() {
    _context.transitTo(Ctx::Init);
}
