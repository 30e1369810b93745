#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "network/playback/NetworkPlaybackSession.h"
#include "network/playback/PlaybackClient.h"
#include "network/protocol/playback/EventListRequest.h"

// A playback client bound to one handle of the process-wide NetworkPlaybackContext: what
// the archiving client and the schedule dialogs hold to talk to one recorder. It connects
// and logs in, sends the list and playback requests, and reports to its listener. It keeps
// the recorder's system and product information.
//
// Use: attach() once, connect(), requests, disconnect(), detach() before destruction (the
// destructor does it when forgotten). Requests do nothing (and answer false) while not
// connected, and answer false when the connection went away meanwhile; they may be made
// from any thread, including the listener's callbacks.
class NetworkPlaybackClient : public PlaybackClient, public NetworkPlaybackSession {
public:
    NetworkPlaybackClient();
    ~NetworkPlaybackClient() override;

    // Creates the media queue (`queueBytes`, at least MinimumQueueBytes) and registers with
    // the media dispatcher.
    void attach(int queueBytes, IPlaybackClientListener* listener);
    // Unregisters, forgets this client in the context and destroys the queue. Afterwards no
    // call reaches the listener.
    void detach();

    // Starts connecting and logging in; the handle, or -1 (no free session, or the host
    // name does not resolve: lastConnectError() then says 108).
    int connect(const std::string& host, uint16_t port, const std::string& user, const std::string& password);
    void disconnect(bool requested);
    bool isConnected();
    int lastConnectError() const { return _lastConnectError.load(); }

    bool requestRecordingCalendar();
    bool requestRecordingTimeTable(const Interval& interval, BitMask32 channels);
    bool requestSectionList(const Interval& interval, BitMask32 channels);
    bool requestEventCalendar();
    bool requestTextInEventCalendar();
    bool requestEventList(const EventListRequest& request);
    bool continueEventList(unsigned value, bool flag);
    bool requestTextInEventList(const Interval& interval, const std::vector<std::string>& texts, bool flag,
                                unsigned value);
    bool continueTextInEventList(unsigned value, bool flag);
    bool requestPlaybackInterval(const Interval& interval);
    bool pause(const MediaPosition& position);
    // Only recorders of version 1.2 or later know storages; for older ones both answer
    // false and send nothing.
    bool requestStorageList();
    bool changeStorage(const std::string& name);
    // Not supported by this client: traced, nothing sent.
    bool requestSensorInfo();

    RemoteSystemInfo systemInfo() const;
    ProductInfo productInfo() const;
    // Whether the last calendar request asked for text-in dates.
    bool textInCalendarRequested() const { return _textInCalendar.load(); }

    // Whether a recorder of this version knows storage lists (1.2 and later).
    static bool supportsStorageList(const char* version);

    // ---- NetworkPlaybackSession (network thread) ---------------------------------------
    void connected() override;
    void disconnected(int reason) override;
    void systemInfoReceived(const RemoteSystemInfo& info) override;
    void productInfoReceived(const ProductInfo& info) override;
    void recordingTimeTableReceived(const std::vector<RecordedSlice>& slices) override;
    void sectionListReceived(BitMask32 channels, const Interval& interval,
                             const std::vector<uint32_t>& sections) override;
    void textInFrameReceived(const TextInFrame& frame, const MediaPosition& position) override;
    void mediaFrameReceived(const MediaFrame& frame, bool flag, const MediaPosition& position) override;
    void playbackStopped(int reason) override;
    void eventListReceived(const EventListResponse& list) override;
    void storageChanged() override;
    bool replyOverdue(uint32_t now, uint32_t limitMs) override;

protected:
    int playbackHandle() const override { return handle.load(); }
    void transmitPlay(const PlayRequest& request) override;
    void transmitJumpToPosition(const MediaPosition& position, uint64_t mediaID) override;
    void transmitJumpToMediaID(unsigned value, uint64_t mediaID, BitMask32 channels) override;
    void transmitJumpNear(const MediaPosition& position, const DateTime& time, int value,
                          BitMask32 channels) override;
    void transmitPause(const MediaPosition& position) override;
    bool mayWaitForRoom() const override;
    // The media queue is full: read nothing more from the recorder until it has room.
    void holdSource() override;
    void releaseSource() override;

private:
    // Sends through the context on the current handle; false when not connected or when
    // the handle went away meanwhile (traced).
    template <typename Send>
    bool request(const char* what, Send send);

    bool _attached = false;
    int _heldHandle = -1;  // the connection held by holdSource(); under the media queue's lock
    std::atomic<int> _lastConnectError{0};
    std::atomic<bool> _textInCalendar{false};
    mutable std::mutex _infoMutex;
    RemoteSystemInfo _systemInfo;
    ProductInfo _productInfo;
};
