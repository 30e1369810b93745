#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/IStringConvertable.h"

// One contiguous run of changed bytes: where it starts and how long it is.
struct DirtyRange {
    int offset;
    int length;
    bool operator==(const DirtyRange&) const = default;
};

// A bit per fixed-size block of some memory, set when the block was written, so that only
// changed device blocks are written back. Bit i is bit (i mod 8) of byte i / 8. Not
// thread-safe; it belongs to the buffer it tracks.
class DirtyMask : public IStringConvertable {
public:
    DirtyMask() = default;
    explicit DirtyMask(int sizeInBytes) { setSize(sizeInBytes); }

    // Resizes to `sizeInBytes` bytes (8 bits each) and clears every bit.
    void setSize(int sizeInBytes);
    int size() const { return static_cast<int>(_bytes.size()); }
    int bitCount() const { return size() * 8; }

    void set(int bit) { _bytes[static_cast<size_t>(bit) / 8] |= static_cast<uint8_t>(1u << (bit % 8)); }
    bool isSet(int bit) const { return (_bytes[static_cast<size_t>(bit) / 8] >> (bit % 8)) & 1u; }
    // Sets bits first..last inclusive.
    void setRange(int first, int last);
    bool isClean() const;
    bool isAllDirty() const;
    void clear();

    // The runs of set bits, bit 0 first, as byte ranges of `blockLength`-byte blocks.
    std::vector<DirtyRange> dirtyRanges(int blockLength) const;

    // "0b" and one digit per bit, bit 0 first.
    void toString(IFormatable& out) const override;

private:
    std::vector<uint8_t> _bytes;
};
