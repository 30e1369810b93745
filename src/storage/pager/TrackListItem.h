#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/ISerializable.h"
#include "storage/pager/PageType.h"

// One record of the superblock's track list: a track's type, flags, and its first and
// last page, each with the checksum that page must carry for the link to be valid.
// 24 bytes on disk. A plain value.
class TrackListItem : public ISerializable {
public:
    TrackListItem() = default;
    // A one-page track: first = last = page, both checksums = checksum.
    TrackListItem(const PageType& type, BitMask32 flags, uint32_t page, uint32_t checksum);

    const PageType& type() const { return _type; }
    BitMask32 flags() const { return _flags; }
    uint32_t firstPage() const { return _firstPage; }
    uint32_t lastPage() const { return _lastPage; }
    uint32_t firstPageChecksum() const { return _firstPageChecksum; }
    uint32_t lastPageChecksum() const { return _lastPageChecksum; }
    void setFirst(uint32_t page, uint32_t checksum);
    void setLast(uint32_t page, uint32_t checksum);

    int serializedSize() const override { return 24; }
    void readFrom(Buffer& buffer, int position) override;
    void readFrom(Buffer& buffer) override;
    void writeTo(Buffer& buffer, int position) const override;
    void writeTo(Buffer& buffer) const override;

private:
    PageType _type;
    BitMask32 _flags;
    uint32_t _firstPage = 0;
    uint32_t _lastPage = 0;
    uint32_t _firstPageChecksum = 0;
    uint32_t _lastPageChecksum = 0;
};
