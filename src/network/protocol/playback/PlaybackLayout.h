#pragma once

#include <cstddef>
#include <cstdint>

// Sizes and counts of the playback service's payloads (the packet type numbers are in
// network/protocol/PacketFormat.h). They are fixed by the recorders we
// talk to and by the storage records built from received frames: they cannot change.
// Every reader and writer of these payloads takes its numbers from here.
namespace PlaybackLayout {

// Encoded value sizes.
inline constexpr size_t DateSize = 4;
inline constexpr size_t DateTimeSize = 8;
inline constexpr size_t IntervalSize = 2 * DateTimeSize;
inline constexpr size_t PositionSize = 12;  // three u32
// The smallest encoded string: u16 length 0 and its terminating NUL.
inline constexpr size_t EmptyStringSize = 3;

// The media frame header that precedes every frame's data (same layout as the media
// element header of a storage, apart from the time's form).
inline constexpr size_t FrameHeaderSize = 64;
inline constexpr size_t FrameHeaderReserved = 8;

// Text of a text-in frame: 64 bytes on the wire, kept NUL-terminated.
inline constexpr size_t TextInTextSize = 64;
// Text of a text-in list entry: 63 bytes on the wire, kept NUL-terminated in 64.
inline constexpr size_t TextInListTextSize = 63;
// Storage names of a storage list are kept to this many characters.
inline constexpr size_t StorageNameMaxLength = 255;

// Fixed list entries.
inline constexpr size_t RecordedSliceSize = 4 + IntervalSize + 4;                           // 24
inline constexpr size_t EventEntrySize = 1 + 1 + 4 + DateTimeSize + 8 + PositionSize;       // 34
inline constexpr size_t TextInListEntrySize = 8 + 4 + DateTimeSize + 4 + 2 + 4 + TextInListTextSize;  // 93
inline constexpr size_t StorageEntryMinSize = 4 + EmptyStringSize;
inline constexpr size_t SectionIdSize = 4;

// A text-in frame carries its flags only when at least this many bytes remain after the text.
inline constexpr size_t TextInFlagsSize = 4;

// Media types carried in frame headers.
inline constexpr uint16_t MediaTypeVideo = 0;
inline constexpr uint16_t MediaTypeAudio = 1;
inline constexpr uint16_t MediaTypeTextIn = 3;

}  // namespace PlaybackLayout
