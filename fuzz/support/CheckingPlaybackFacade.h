#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "network/protocol/playback/PlaybackClientFacade.h"

class ClientSession;

// The playback facade of the fuzz targets. It is never started (no dispatcher thread, no
// sockets); one session can be bound to its slot 0 by hand. Every notification checks the
// invariants its callers rely on (a time table arrives sorted, texts are terminated,
// received text-in frames are linked to every channel) and reads every byte it was
// handed, so that AddressSanitizer reports a frame or a list pointing outside its packet.
// It also keeps a transcript of the session's events in order, into which a target may
// add what the session sent. Single-threaded: the fuzzing thread only.
class CheckingPlaybackFacade : public PlaybackClientFacade {
public:
    enum class Event {
        Connected,
        SystemInfo,
        ProductInfo,
        LoginSucceeded,
        LoginFailed,
        Fin,
        Playback,      // any playback response or frame
        Unknown,       // a packet nobody handles; the value is its type
        Sent,          // noted by the target; the value is the packet type
        Disconnected,  // the value is the reason
    };
    struct Entry {
        Event event;
        int value;
    };

    CheckingPlaybackFacade();
    ~CheckingPlaybackFacade() override;

    // Maps a fresh handle to slot 0 for `session`, which must then be opened on slot 0.
    int bind(ClientSession& session);
    CommonSession* sessionAt(int slot) override;

    void note(Event event, int value = 0) { _transcript.push_back(Entry{event, value}); }
    const std::vector<Entry>& transcript() const { return _transcript; }
    void clearTranscript() { _transcript.clear(); }

    void unknownPacket(int handle, Packet& packet) override;
    void disconnected(int handle, int reason, void* owner) override;
    void connected(int handle, void* owner) override;
    void loginSucceeded(int handle, const LoginResult& result) override;
    void loginFailed(int handle, const LoginResult& result) override;
    void finReceived(int handle, const FinOption& fin) override;
    void systemInfoReceived(int handle, const RemoteSystemInfo& info) override;
    void productInfoReceived(int handle, const ProductInfo& info) override;

    void recordingCalendarReceived(int handle, const std::vector<Date>& dates) override;
    void recordingTimeTableReceived(int handle, const std::vector<RecordedSlice>& slices) override;
    void sectionListReceived(int handle, BitMask32 channels, const Interval& interval,
                             const std::vector<uint32_t>& sections) override;
    void mediaFrameReceived(int handle, const MediaFrame& frame, bool flag,
                            const MediaPosition& position) override;
    void playbackStopped(int handle, int reason) override;
    void eventCalendarReceived(int handle, const std::vector<Date>& dates) override;
    void eventListReceived(int handle, const EventListResponse& list) override;
    void textInFrameReceived(int handle, const TextInFrame& frame, bool flag,
                             const MediaPosition& position) override;
    void textInEventListReceived(int handle, const TextInEventListResponse& list) override;
    void storageListReceived(int handle, const StorageListResponse& list) override;
    void storageChanged(int handle) override;

private:
    // Reads `length` bytes, so that memory outside the packet is reported.
    void touch(const void* data, size_t length);
    void checkTerminated(const char* text, size_t capacity);

    ClientSession* _bound = nullptr;
    std::vector<Entry> _transcript;
    uint8_t _sum = 0;
};
