#include "base/DirtyMaskingBuffer.h"

#include <algorithm>

DirtyMaskingBuffer::DirtyMaskingBuffer(void* data, int capacity, int maskBytes, ByteOrder order)
    : Buffer(data, capacity, order), _mask(maskBytes) {}

int DirtyMaskingBuffer::blockLength() const {
    if (_mask.bitCount() == 0) {
        return 0;
    }
    // A buffer smaller than its mask still marks: one byte per bit at least.
    return std::max(capacity() / _mask.bitCount(), 1);
}

void DirtyMaskingBuffer::putAt(int position, const void* src, int length) {
    Buffer::putAt(position, src, length);
    markWritten(position, length);
}

void DirtyMaskingBuffer::fillAt(int position, int byte, int length) {
    Buffer::fillAt(position, byte, length);
    markWritten(position, length);
}

void DirtyMaskingBuffer::markWritten(int position, int length) {
    int block = blockLength();
    if (length <= 0 || position < 0 || block == 0) {
        return;
    }
    unsigned first = static_cast<unsigned>(position) / static_cast<unsigned>(block);
    unsigned last = (static_cast<unsigned>(position) + static_cast<unsigned>(length) - 1u) / static_cast<unsigned>(block);
    unsigned lastBit = static_cast<unsigned>(_mask.bitCount()) - 1u;
    if (first > lastBit) {
        return;
    }
    _mask.setRange(static_cast<int>(first), static_cast<int>(std::min(last, lastBit)));
}
