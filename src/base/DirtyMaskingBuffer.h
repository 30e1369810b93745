#pragma once

#include <vector>

#include "base/Buffer.h"
#include "base/DirtyMask.h"

// A Buffer that remembers which fixed-size blocks of its memory were written (puts and
// fills; reads never mark), so the superblock and storage pages write back only changed
// device blocks. The block length is capacity / (8 x mask bytes). Not thread-safe; it is
// used under the lock of the page it belongs to.
class DirtyMaskingBuffer : public Buffer {
public:
    DirtyMaskingBuffer() = default;
    DirtyMaskingBuffer(void* data, int capacity, int maskBytes, ByteOrder order = HostByteOrder);

    void wrap(void* data, int capacity, ByteOrder order = HostByteOrder) override;
    void putAt(int position, const void* src, int length) override;
    void fillAt(int position, int byte, int length) override;

    // Resizes the mask (all bits clear) and so the block length.
    void setMaskSize(int maskBytes);
    DirtyMask& mask() { return _mask; }
    const DirtyMask& mask() const { return _mask; }
    // Bytes per mask bit; 0 when the mask is empty.
    int blockLength() const { return _blockLength; }
    bool isClean() const { return _mask.isClean(); }
    void clearDirty() { _mask.clear(); }
    std::vector<DirtyRange> dirtyRanges() const { return _mask.dirtyRanges(blockLength()); }

private:
    void markWritten(int position, int length);
    // Works the block length out again after the capacity or the mask size changed.
    void updateBlockLength();

    DirtyMask _mask;
    // Every put marks: the block length and, when it is a power of two, its shift are
    // worked out once rather than divided out at each put.
    int _blockLength = 0;
    int _blockShift = -1;
};
