#include "network/protocol/playback/PlaybackClientFacade.h"

#include "network/protocol/IProfileList.h"

PlaybackClientFacade::PlaybackClientFacade(int sessionCount, const char* dispatcherName)
    : ClientFacade(sessionCount, dispatcherName) {}

bool PlaybackClientFacade::acceptsProfiles(const IProfileList& profiles) {
    return profiles.contains(IProfileList::PlaybackProfile);
}

template <typename Request>
void PlaybackClientFacade::send(int handle, const Request& request) {
    // A session whose analyzer is not ours cannot build playback requests: the facade then
    // raises "Unsupported packet type.".
    sendRequest(handle, [&](PacketAnalyzer& analyzer, Packet& packet) {
        auto* playback = dynamic_cast<PlaybackClientPacketAnalyzer*>(&analyzer);
        if (playback == nullptr) return false;
        playback->build(packet, request);
        return true;
    });
}

void PlaybackClientFacade::sendRecordingCalendarRequest(int handle, const Date& from, const Date& to) {
    send(handle, RecordingCalendarRequest{from, to});
}

void PlaybackClientFacade::sendRecordingTimeTableRequest(int handle, const Interval& interval, BitMask32 channels) {
    send(handle, RecordingTimeTableRequest{interval, channels});
}

void PlaybackClientFacade::sendPlayRequest(int handle, const PlayRequest& request) {
    send(handle, PlayRequestMessage{request});
}

void PlaybackClientFacade::sendSectionListRequest(int handle, const Interval& interval, BitMask32 channels) {
    send(handle, SectionListRequest{channels, interval});
}

void PlaybackClientFacade::sendPauseRequest(int handle, const MediaPosition& position) {
    send(handle, PauseRequest{position});
}

void PlaybackClientFacade::sendEventCalendarRequest(int handle, const Date& from, const Date& to, bool flag) {
    send(handle, EventCalendarRequest{from, to, flag});
}

void PlaybackClientFacade::sendEventListRequest(int handle, const EventListRequest& request) {
    send(handle, EventListRequestMessage{request});
}

void PlaybackClientFacade::sendEventListContinueRequest(int handle, unsigned value, bool flag) {
    send(handle, EventListContinueRequest{flag, value});
}

void PlaybackClientFacade::sendJumpToPositionRequest(int handle, const MediaPosition& position, uint64_t mediaID) {
    send(handle, JumpToPositionRequest{position, mediaID, false, {}});
}

void PlaybackClientFacade::sendJumpToEventRequest(int handle, const MediaPosition& position, BitMask32 channels) {
    send(handle, JumpToPositionRequest{position, 0, true, channels});
}

void PlaybackClientFacade::sendTextInEventListRequest(int handle, const Interval& interval,
                                                      const std::vector<std::string>& texts, bool flag,
                                                      unsigned value) {
    send(handle, TextInEventListRequest{interval, value, texts, flag});
}

void PlaybackClientFacade::sendTextInEventListContinueRequest(int handle, unsigned value, bool flag) {
    send(handle, TextInEventListContinueRequest{flag, value});
}

void PlaybackClientFacade::sendJumpToMediaIDRequest(int handle, unsigned value, uint64_t mediaID,
                                                    BitMask32 channels) {
    send(handle, JumpToMediaIDRequest{value, mediaID, channels});
}

void PlaybackClientFacade::sendJumpToNearPositionRequest(int handle, const MediaPosition& position,
                                                         const DateTime& time, int value, BitMask32 channels) {
    send(handle, JumpToNearPositionRequest{position, time, static_cast<uint32_t>(value), channels});
}

void PlaybackClientFacade::sendPlaybackIntervalRequest(int handle, const Interval& interval) {
    send(handle, PlaybackIntervalRequest{interval});
}

void PlaybackClientFacade::sendStorageListRequest(int handle, bool flag) {
    send(handle, StorageListRequest{flag});
}

void PlaybackClientFacade::sendStorageChangeRequest(int handle, const char* storage) {
    send(handle, StorageChangeRequest{storage == nullptr ? std::string() : std::string(storage)});
}
