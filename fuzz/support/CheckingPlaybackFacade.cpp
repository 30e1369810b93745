#include "CheckingPlaybackFacade.h"

#include <algorithm>
#include <cstring>

#include "FuzzCheck.h"
#include "network/protocol/ClientSession.h"
#include "network/protocol/FinOption.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/RemoteSystemInfo.h"

CheckingPlaybackFacade::CheckingPlaybackFacade() : PlaybackClientFacade(1, "FuzzDispatcher") {}

CheckingPlaybackFacade::~CheckingPlaybackFacade() = default;

int CheckingPlaybackFacade::bind(ClientSession& session) {
    std::lock_guard<Mutex> guard(_mutex);
    _bound = &session;
    return mapNewHandle(0);
}

CommonSession* CheckingPlaybackFacade::sessionAt(int slot) {
    return slot == 0 ? _bound : nullptr;
}

void CheckingPlaybackFacade::touch(const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) _sum = static_cast<uint8_t>(_sum + bytes[i]);
}

void CheckingPlaybackFacade::checkTerminated(const char* text, size_t capacity) {
    QF_FUZZ_CHECK(std::memchr(text, 0, capacity) != nullptr);
}

void CheckingPlaybackFacade::unknownPacket(int handle, Packet& packet) {
    note(Event::Unknown, packet.type());
    PlaybackClientFacade::unknownPacket(handle, packet);
}

void CheckingPlaybackFacade::disconnected(int, int reason, void*) {
    note(Event::Disconnected, reason);
}

void CheckingPlaybackFacade::connected(int, void*) {
    note(Event::Connected);
}

void CheckingPlaybackFacade::loginSucceeded(int, const LoginResult& result) {
    QF_FUZZ_CHECK(result.succeeded());
    note(Event::LoginSucceeded);
}

void CheckingPlaybackFacade::loginFailed(int, const LoginResult& result) {
    QF_FUZZ_CHECK(!result.succeeded());
    QF_FUZZ_CHECK(result.code >= 0 && result.code <= 5);
    note(Event::LoginFailed, result.code);
}

void CheckingPlaybackFacade::finReceived(int, const FinOption& fin) {
    checkTerminated(fin.text(), FinOption::TextSize);
    note(Event::Fin);
}

void CheckingPlaybackFacade::systemInfoReceived(int, const RemoteSystemInfo& info) {
    checkTerminated(info.systemName(), RemoteSystemInfo::NameSize);
    QF_FUZZ_CHECK(info.systemKind <= 3);
    note(Event::SystemInfo);
}

void CheckingPlaybackFacade::productInfoReceived(int, const ProductInfo& info) {
    checkTerminated(info.modelName(), ProductInfo::TextSize);
    checkTerminated(info.version(), ProductInfo::TextSize);
    QF_FUZZ_CHECK(info.modelCode() == 0 || ProductInfo::isKnownModel(info.modelCode()));
    note(Event::ProductInfo);
}

void CheckingPlaybackFacade::recordingCalendarReceived(int, const std::vector<Date>& dates) {
    touch(dates.data(), dates.size() * sizeof(Date));
    note(Event::Playback, PacketType::RecordingCalendar);
}

void CheckingPlaybackFacade::recordingTimeTableReceived(int, const std::vector<RecordedSlice>& slices) {
    QF_FUZZ_CHECK(std::is_sorted(slices.begin(), slices.end()));
    touch(slices.data(), slices.size() * sizeof(RecordedSlice));
    note(Event::Playback, PacketType::RecordingTimeTable);
}

void CheckingPlaybackFacade::sectionListReceived(int, BitMask32, const Interval&,
                                                 const std::vector<uint32_t>& sections) {
    touch(sections.data(), sections.size() * sizeof(uint32_t));
    note(Event::Playback, PacketType::SectionList);
}

void CheckingPlaybackFacade::mediaFrameReceived(int, const MediaFrame& frame, bool, const MediaPosition&) {
    QF_FUZZ_CHECK(frame.payloadSize() == 0 || frame.data != nullptr);
    touch(frame.data, static_cast<size_t>(frame.payloadSize()));
    note(Event::Playback, PacketType::MediaFrame);
}

void CheckingPlaybackFacade::playbackStopped(int, int) {
    note(Event::Playback, PacketType::PlaybackStopNotice);
}

void CheckingPlaybackFacade::eventCalendarReceived(int, const std::vector<Date>& dates) {
    touch(dates.data(), dates.size() * sizeof(Date));
    note(Event::Playback, PacketType::EventCalendar);
}

void CheckingPlaybackFacade::eventListReceived(int, const EventListResponse& list) {
    touch(list.events.data(), list.events.size() * sizeof(PlaybackEvent));
    note(Event::Playback, PacketType::EventList);
}

void CheckingPlaybackFacade::textInFrameReceived(int, const TextInFrame& frame, bool flag,
                                                 const MediaPosition&) {
    QF_FUZZ_CHECK(flag);
    QF_FUZZ_CHECK(frame.mediaType == PlaybackLayout::MediaTypeTextIn);
    QF_FUZZ_CHECK(frame.linkedChannelMask.value() == 0xFFFFFFFFu);
    checkTerminated(frame.text, sizeof frame.text);
    note(Event::Playback, PacketType::TextInFrame);
}

void CheckingPlaybackFacade::textInEventListReceived(int, const TextInEventListResponse& list) {
    for (const TextInListEntry& entry : list.entries) checkTerminated(entry.text, sizeof entry.text);
    note(Event::Playback, PacketType::TextInEventList);
}

void CheckingPlaybackFacade::storageListReceived(int, const StorageListResponse& list) {
    for (const StorageListEntry& storage : list.storages) {
        QF_FUZZ_CHECK(storage.name.size() <= PlaybackLayout::StorageNameMaxLength);
        touch(storage.name.data(), storage.name.size());
    }
    note(Event::Playback, PacketType::StorageList);
}

void CheckingPlaybackFacade::storageChanged(int) {
    note(Event::Playback, PacketType::StorageChange);
}
