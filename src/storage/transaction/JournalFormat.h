#pragma once

#include <cstdint>

// The bytes of the journal page and of its records. Stored in files: the values cannot
// change. Record integers use the storage's byte order.
namespace JournalFormat {

// A record: a 16-bit type, then the type's payload; records follow each other from the
// page's data start, without padding, in the order they are carried out.
inline constexpr int TypeSize = 2;

inline constexpr uint16_t FlushPage = 1;
inline constexpr uint16_t ExtractFreePage = 2;
inline constexpr uint16_t AppendFreePage = 3;
inline constexpr uint16_t UpdateTrackLast = 4;
inline constexpr uint16_t UpdateTrackFirst = 5;
inline constexpr uint16_t DeleteTrack = 6;
inline constexpr uint16_t AppendFreePageInterval = 7;
inline constexpr uint16_t ChangePageLink = 8;

inline constexpr int PageHeaderSize = 128;
inline constexpr int FlushPagePayload = 4 + PageHeaderSize;  // 132
inline constexpr int FreePagePayload = 4;                    // types 2, 3
inline constexpr int UpdateTrackPayload = 20;                // types 4, 5
inline constexpr int DeleteTrackPayload = 4;
inline constexpr int AppendFreePageIntervalPayload = 8;
inline constexpr int ChangePageLinkPayload = 4 + 6 * 4 + PageHeaderSize;  // 156

// Records that end within the first 512 bytes of the journal page share one sector
// with the page header, so one write puts header and records down together.
inline constexpr int SectorSize = 512;

}  // namespace JournalFormat
