#pragma once

#include <cstdint>

// The framing of every message exchanged with a recorder's playback service: an 8-byte
// header (magic, type, payload length, all big-endian) followed by the payload. Shared
// by the code that writes packets and the code that reads them. These values are fixed
// by the recorders in the field and cannot change.
namespace PacketFormat {

inline constexpr uint16_t Magic = 0x0617;
inline constexpr int HeaderSize = 8;
inline constexpr int MagicOffset = 0;
inline constexpr int TypeOffset = 2;
inline constexpr int PayloadLengthOffset = 4;
// Payloads are padded to a multiple of this many bytes when sent.
inline constexpr int PayloadAlignment = 4;

// Not part of the wire: how a packet's storage starts out and grows.
inline constexpr int InitialCapacity = 81920;
inline constexpr int GrowthStep = 81920;
// The largest payload a client session accepts (1 MiB).
inline constexpr uint32_t MaxClientPayloadLength = 1048576;

}  // namespace PacketFormat

// Packet type numbers (the u16 at offset 2). A name per direction where one number
// serves two messages.
namespace PacketType {

inline constexpr uint16_t SyncRequest = 1;
inline constexpr uint16_t SyncResponse = 1;
inline constexpr uint16_t LoginRequest = 2;
inline constexpr uint16_t LoginResponse = 3;
inline constexpr uint16_t FinNotice = 6;
inline constexpr uint16_t AliveCheck = 7;
inline constexpr uint16_t ChannelFull = 8;
inline constexpr uint16_t UnknownTypeNotice = 9;

inline constexpr uint16_t RecordingCalendar = 513;
inline constexpr uint16_t RecordingTimeTable = 514;
inline constexpr uint16_t EventList = 515;
inline constexpr uint16_t SectionList = 516;
inline constexpr uint16_t MediaFrame = 517;
inline constexpr uint16_t PlayRequest = 518;
inline constexpr uint16_t PauseRequest = 519;
inline constexpr uint16_t PlaybackStopNotice = 519;
inline constexpr uint16_t EventCalendar = 521;
inline constexpr uint16_t EventListContinue = 522;
inline constexpr uint16_t JumpToPosition = 523;
inline constexpr uint16_t JumpToEvent = 523;
inline constexpr uint16_t JumpToNearPosition = 524;
inline constexpr uint16_t PlaybackInterval = 525;
inline constexpr uint16_t TextInFrame = 526;
inline constexpr uint16_t TextInEventList = 527;
inline constexpr uint16_t TextInEventListContinue = 528;
inline constexpr uint16_t JumpToMediaId = 529;
inline constexpr uint16_t StorageList = 530;
inline constexpr uint16_t StorageChange = 531;

}  // namespace PacketType
