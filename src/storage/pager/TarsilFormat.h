#pragma once

#include <cstdint>

// The bytes of a storage file: superblock, track list and page header layout. Read and
// written by the superblock and the pages alike. These values are fixed by the storage
// files already written and cannot change.
namespace TarsilFormat {

// Superblock (always big-endian).
inline constexpr uint32_t SuperBlockSize = 4096;
inline constexpr char Magic[] = "Tarsil Storage 1";  // 16 characters, stored without the NUL
inline constexpr uint32_t MagicLength = 16;
inline constexpr uint32_t CurrentVersion = 4;

inline constexpr int OffsetMagic = 0x000;
inline constexpr int OffsetVersion = 0x010;
inline constexpr int OffsetRepositoryID = 0x014;
inline constexpr int OffsetStorageID = 0x024;
inline constexpr int OffsetPageSize = 0x034;
inline constexpr int OffsetPageCount = 0x038;
inline constexpr int OffsetByteOrder = 0x03C;
inline constexpr int OffsetFirstPageOffset = 0x040;
inline constexpr int OffsetFreePageNumber = 0x044;
inline constexpr int OffsetFormattedTime = 0x048;
inline constexpr int OffsetDescription = 0x050;
inline constexpr int DescriptionSize = 32;
inline constexpr int OffsetNextItemID = 0x070;
inline constexpr int OffsetTimeStampTime = 0x078;
inline constexpr int OffsetTimeStampBasis = 0x080;
inline constexpr int OffsetChecksum = 0x084;
inline constexpr int OffsetFlags = 0x088;
inline constexpr int OffsetRecorderType = 0x08C;

// Track list: copy A at 0x200; versions 1 and 2 also keep copy B at 0x900.
inline constexpr int OffsetTrackListSequence = 0x200;
inline constexpr int OffsetTrackCount = 0x208;
inline constexpr int OffsetTrackList = 0x210;
inline constexpr int OffsetLegacyTrackListCopy = 0x900;
inline constexpr int TrackListCopySize = 0x700;  // 1792 bytes: 0x200 - 0x8FF
inline constexpr int TrackListItemSize = 24;
inline constexpr uint32_t MaxTrackCount = (OffsetLegacyTrackListCopy - OffsetTrackList) / TrackListItemSize;  // 74

// Written into byteOrder by a little-endian host (any nonzero value reads as little).
inline constexpr uint32_t ByteOrderLittleMark = 0xFFFFFFFF;
inline constexpr uint32_t FirstPageOffset = 4096;
// pageCount = (file size - FormatReserve) / pageSize.
inline constexpr uint64_t FormatReserve = 8192;
inline constexpr uint32_t DefaultPageSize = 524288;
// The largest page a storage may declare: 32 times the default. Every page load takes a
// block of this size from the memory pool, so a larger value read from a damaged
// superblock must be refused rather than turned into gigabytes of allocations.
inline constexpr uint32_t MaxPageSize = 16 * 1024 * 1024;
// A page holds at least this many I/O blocks (its change mask has a bit per block).
inline constexpr uint32_t MinIOBlocksPerPage = 8;

// Page header (the storage's byte order).
inline constexpr int PageHeaderSize = 128;
inline constexpr int PageOffsetType = 0x00;
inline constexpr int PageOffsetReserved = 0x04;
inline constexpr int PageOffsetPrevious = 0x08;
inline constexpr int PageOffsetNext = 0x0C;
inline constexpr int PageOffsetItemSize = 0x10;
inline constexpr int PageOffsetItemCount = 0x14;
inline constexpr int PageOffsetFirstItemOffset = 0x18;
inline constexpr int PageOffsetLastItemOffset = 0x1C;
inline constexpr int PageOffsetFirstItemID = 0x20;
inline constexpr int PageOffsetLastItemID = 0x28;
inline constexpr int PageOffsetItemFlags = 0x30;
inline constexpr int PageOffsetChecksum = 0x3C;
inline constexpr int PageOffsetPreviousChecksum = 0x40;
inline constexpr int PageOffsetNextChecksum = 0x44;
inline constexpr int PageOffsetTimeStamp = 0x48;
inline constexpr int PageOffsetSuperChecksum = 0x4C;
inline constexpr int PageOffsetPageTag = 0x50;

// One free-list interval on disk: first, last.
inline constexpr int FreePageListItemSize = 8;

}  // namespace TarsilFormat
