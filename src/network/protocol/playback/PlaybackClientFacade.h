#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/BitMask32.h"
#include "base/Date.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "network/protocol/ClientFacade.h"
#include "network/protocol/playback/EventListRequest.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlayRequest.h"
#include "network/protocol/playback/PlaybackClientPacketAnalyzer.h"
#include "network/protocol/playback/PlaybackMessages.h"
#include "network/protocol/playback/RecordedSlice.h"
#include "network/protocol/playback/TextInFrame.h"

// The facade of the playback service on the client side: sends the playback requests on a
// session handle and reports every playback response through the notifications below,
// which the process's playback context implements. Accepts only recorders that offer the
// playback profile.
//
// Threads: the senders may be called from any thread (each builds in the shared build
// packet under the build mutex and queues it at normal priority); they raise
// InvalidSessionHandleException for a handle that is not connected and
// SendQueueOverflowException when its queue is full. The notifications arrive on the
// dispatcher's worker thread; a frame's data points into the received packet and is valid
// only during the call.
class PlaybackClientFacade : public ClientFacade {
public:
    PlaybackClientFacade(int sessionCount, const char* dispatcherName);

    bool acceptsProfiles(const IProfileList& profiles) override;
    ClientPacketAnalyzer& packetAnalyzer() override { return _playbackAnalyzer; }

    // ---- requests --------------------------------------------------------------------
    void sendRecordingCalendarRequest(int handle, const Date& from, const Date& to);
    void sendRecordingTimeTableRequest(int handle, const Interval& interval, BitMask32 channels);
    void sendPlayRequest(int handle, const PlayRequest& request);
    void sendSectionListRequest(int handle, const Interval& interval, BitMask32 channels);
    void sendPauseRequest(int handle, const MediaPosition& position);
    void sendEventCalendarRequest(int handle, const Date& from, const Date& to, bool flag);
    void sendEventListRequest(int handle, const EventListRequest& request);
    void sendEventListContinueRequest(int handle, unsigned value, bool flag);
    void sendJumpToPositionRequest(int handle, const MediaPosition& position, uint64_t mediaID);
    void sendJumpToEventRequest(int handle, const MediaPosition& position, BitMask32 channels);
    void sendTextInEventListRequest(int handle, const Interval& interval, const std::vector<std::string>& texts,
                                    bool flag, unsigned value);
    void sendTextInEventListContinueRequest(int handle, unsigned value, bool flag);
    void sendJumpToMediaIDRequest(int handle, unsigned value, uint64_t mediaID, BitMask32 channels);
    void sendJumpToNearPositionRequest(int handle, const MediaPosition& position, const DateTime& time, int value,
                                       BitMask32 channels);
    void sendPlaybackIntervalRequest(int handle, const Interval& interval);
    void sendStorageListRequest(int handle, bool flag);
    void sendStorageChangeRequest(int handle, const char* storage);

    // ---- notifications (dispatcher's worker thread) ------------------------------------
    virtual void recordingCalendarReceived(int handle, const std::vector<Date>& dates) = 0;
    // Sorted by time.
    virtual void recordingTimeTableReceived(int handle, const std::vector<RecordedSlice>& slices) = 0;
    virtual void sectionListReceived(int handle, BitMask32 channels, const Interval& interval,
                                     const std::vector<uint32_t>& sections) = 0;
    virtual void mediaFrameReceived(int handle, const MediaFrame& frame, bool flag, const MediaPosition& position) = 0;
    virtual void playbackStopped(int handle, int reason) = 0;
    virtual void eventCalendarReceived(int handle, const std::vector<Date>& dates) = 0;
    // The whole response: its leading values tell whether a continue request brings more.
    virtual void eventListReceived(int handle, const EventListResponse& list) = 0;
    virtual void textInFrameReceived(int handle, const TextInFrame& frame, bool flag,
                                     const MediaPosition& position) = 0;
    virtual void textInEventListReceived(int handle, const TextInEventListResponse& list) = 0;
    virtual void storageListReceived(int handle, const StorageListResponse& list) = 0;
    virtual void storageChanged(int handle) = 0;

private:
    template <typename Request>
    void send(int handle, const Request& request);

    PlaybackClientPacketAnalyzer _playbackAnalyzer;
};
