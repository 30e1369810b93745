#include "network/protocol/playback/PlaybackClientPacketAnalyzer.h"

#include <algorithm>

#include "network/protocol/playback/PlaybackClientFacade.h"

bool PlaybackClientPacketAnalyzer::dispatch(int handle, Packet& packet, CommonFacade& facade) {
    auto* playback = dynamic_cast<PlaybackClientFacade*>(&facade);
    if (playback != nullptr) {
        std::optional<PlaybackResponseMessage> response = readPlaybackResponse(packet);
        if (response.has_value()) {
            deliver(handle, *response, *playback);
            return true;
        }
    }
    return ClientPacketAnalyzer::dispatch(handle, packet, facade);
}

namespace {
template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;
}  // namespace

void PlaybackClientPacketAnalyzer::deliver(int handle, PlaybackResponseMessage& response,
                                           PlaybackClientFacade& facade) {
    std::visit(
        Overloaded{
            [&](RecordingCalendarResponse& m) { facade.recordingCalendarReceived(handle, m.dates); },
            [&](RecordingTimeTableResponse& m) {
                std::sort(m.slices.begin(), m.slices.end());
                facade.recordingTimeTableReceived(handle, m.slices);
            },
            [&](SectionListResponse& m) { facade.sectionListReceived(handle, m.channels, m.interval, m.sections); },
            [&](MediaFrameMessage& m) { facade.mediaFrameReceived(handle, m.frame, m.flag, m.position); },
            [&](PlaybackStopNotice& m) { facade.playbackStopped(handle, static_cast<int>(m.reason)); },
            [&](EventCalendarResponse& m) { facade.eventCalendarReceived(handle, m.dates); },
            [&](EventListResponse& m) { facade.eventListReceived(handle, m); },
            [&](TextInFrameMessage& m) { facade.textInFrameReceived(handle, m.frame, true, m.position); },
            [&](TextInEventListResponse& m) { facade.textInEventListReceived(handle, m); },
            [&](StorageListResponse& m) { facade.storageListReceived(handle, m); },
            [&](StorageChangeResponse&) { facade.storageChanged(handle); },
        },
        response);
}
