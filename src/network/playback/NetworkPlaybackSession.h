#pragma once

#include <atomic>
#include <vector>

#include "base/BitMask32.h"
#include "base/Date.h"
#include "base/Interval.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/RemoteSystemInfo.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlaybackMessages.h"
#include "network/protocol/playback/RecordedSlice.h"
#include "network/protocol/playback/TextInFrame.h"

// The owner of a handle of the NetworkPlaybackContext: what the context calls back, on its
// network thread, for everything that happens on that handle. Implemented by
// NetworkPlaybackClient. The state below is shared with the context: the handle (-1 when
// not connected), whether this side asked for the disconnect, whether the connection is
// up, and the last login result (written under the context mutex).
class NetworkPlaybackSession {
public:
    virtual ~NetworkPlaybackSession() = default;

    // Logged in.
    virtual void connected() = 0;
    virtual void disconnected(int reason) = 0;
    virtual void systemInfoReceived(const RemoteSystemInfo& info) = 0;
    virtual void productInfoReceived(const ProductInfo& info) = 0;
    virtual void recordingCalendarReceived(const std::vector<Date>&) {}
    virtual void recordingTimeTableReceived(const std::vector<RecordedSlice>& slices) = 0;
    virtual void sectionListReceived(BitMask32 channels, const Interval& interval,
                                     const std::vector<uint32_t>& sections) = 0;
    virtual void textInFrameReceived(const TextInFrame& frame, const MediaPosition& position) = 0;
    virtual void mediaFrameReceived(const MediaFrame& frame, bool flag, const MediaPosition& position) = 0;
    virtual void playbackStopped(int reason) = 0;
    virtual void eventCalendarReceived(const std::vector<Date>&) {}
    virtual void eventListReceived(const EventListResponse& list) = 0;
    virtual void textInEventListReceived(const TextInEventListResponse&) {}
    virtual void storageListReceived(const StorageListResponse&) {}
    virtual void storageChanged() = 0;
    // Whether this owner has waited longer than `limitMs` (at tick `now`) for the recorder
    // to answer a request; the context then ends the connection.
    virtual bool replyOverdue(uint32_t /*now*/, uint32_t /*limitMs*/) { return false; }

    std::atomic<int> handle{-1};
    std::atomic<bool> closeRequested{false};
    std::atomic<bool> connectedFlag{false};
    LoginResult loginResult;
};
