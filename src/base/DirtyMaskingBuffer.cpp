#include "base/DirtyMaskingBuffer.h"

#include <algorithm>
#include <bit>

DirtyMaskingBuffer::DirtyMaskingBuffer(void* data, int capacity, int maskBytes, ByteOrder order)
    : Buffer(data, capacity, order), _mask(maskBytes) {
    updateBlockLength();
}

void DirtyMaskingBuffer::wrap(void* data, int capacity, ByteOrder order) {
    Buffer::wrap(data, capacity, order);
    updateBlockLength();
}

void DirtyMaskingBuffer::setMaskSize(int maskBytes) {
    _mask.setSize(maskBytes);
    updateBlockLength();
}

void DirtyMaskingBuffer::updateBlockLength() {
    // A buffer smaller than its mask still marks: one byte per bit at least.
    _blockLength = _mask.bitCount() == 0 ? 0 : std::max(capacity() / _mask.bitCount(), 1);
    _blockShift = _blockLength > 0 && std::has_single_bit(static_cast<unsigned>(_blockLength))
                      ? std::countr_zero(static_cast<unsigned>(_blockLength))
                      : -1;
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
    int block = _blockLength;
    if (length <= 0 || position < 0 || block == 0) {
        return;
    }
    unsigned end = static_cast<unsigned>(position) + static_cast<unsigned>(length) - 1u;
    unsigned first = _blockShift >= 0 ? static_cast<unsigned>(position) >> _blockShift
                                      : static_cast<unsigned>(position) / static_cast<unsigned>(block);
    unsigned last = _blockShift >= 0 ? end >> _blockShift : end / static_cast<unsigned>(block);
    unsigned lastBit = static_cast<unsigned>(_mask.bitCount()) - 1u;
    if (first > lastBit) {
        return;
    }
    _mask.setRange(static_cast<int>(first), static_cast<int>(std::min(last, lastBit)));
}
