#pragma once

#include <vector>

#include "base/BitMask32.h"
#include "base/Interval.h"
#include "network/protocol/RemoteSystemInfo.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlaybackMessages.h"
#include "network/protocol/playback/RecordedSlice.h"
#include "network/protocol/playback/TextInFrame.h"

// What a playback client reports to its owner (the archiving client, the schedule
// wizard, the probe). Every call names the client's handle first.
//
// Threads: frames, playbackStopped and playbackCallback arrive on a media dispatcher
// thread, one at a time and in the order they were queued for this client; the others
// (connected, disconnected, lists, playStarted) arrive on the playback context's network
// thread. A frame's data is valid only during the call. Every operation does nothing by
// default, so a listener implements only what it uses.
class IPlaybackClientListener {
public:
    virtual ~IPlaybackClientListener() = default;

    virtual void recordingTimeTableReceived(int, const std::vector<RecordedSlice>&) {}
    virtual void playbackRecordingSectionListReceived(int, BitMask32, const Interval&,
                                                      const std::vector<uint32_t>&) {}
    virtual void audioFrameReceived(int, const MediaFrame&, const MediaPosition&) {}
    // `flag` is set for a frame that depends on earlier frames of its key group; `rate`
    // is the playback rate asked for (negative when playing backwards, 0 when not known).
    virtual void videoFrameReceived(int, bool, int, const MediaFrame&, const MediaPosition&) {}
    virtual void textInFrameReceived(int, const TextInFrame&, const MediaPosition&) {}
    // The first frame of a request arrived: its play mode, or 3 for a jump.
    virtual void playStarted(int, int) {}
    virtual void playbackStopped(int, int) {}
    // Logged in.
    virtual void connected(int) {}
    // The connection ended; 301 when this side asked for it.
    virtual void disconnected(int, int) {}
    virtual void systemInfoReceived(int, const RemoteSystemInfo&) {}
    // One part of an event list; `hasMore` says whether a continue request brings more.
    virtual void playbackEventListReceived(int, const EventListResponse&) {}
    // A callback the owner posted through the client (runs on a media dispatcher thread).
    virtual void playbackCallback(int, int, int) {}
};
