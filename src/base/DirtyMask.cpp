#include "base/DirtyMask.h"

#include <algorithm>
#include <string>

#include "base/IFormatable.h"

void DirtyMask::setSize(int sizeInBytes) {
    _bytes.assign(static_cast<size_t>(std::max(sizeInBytes, 0)), 0);
}

void DirtyMask::setRange(int first, int last) {
    for (int bit = first; bit <= last; ++bit) {
        set(bit);
    }
}

bool DirtyMask::isClean() const {
    return std::all_of(_bytes.begin(), _bytes.end(), [](uint8_t b) { return b == 0; });
}

bool DirtyMask::isAllDirty() const {
    return std::all_of(_bytes.begin(), _bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

void DirtyMask::clear() { std::fill(_bytes.begin(), _bytes.end(), uint8_t{0}); }

std::vector<DirtyRange> DirtyMask::dirtyRanges(int blockLength) const {
    std::vector<DirtyRange> ranges;
    int runStart = -1;
    for (int bit = 0; bit <= bitCount(); ++bit) {
        bool dirty = bit < bitCount() && isSet(bit);
        if (dirty && runStart < 0) {
            runStart = bit;
        } else if (!dirty && runStart >= 0) {
            ranges.push_back({runStart * blockLength, (bit - runStart) * blockLength});
            runStart = -1;
        }
    }
    return ranges;
}

void DirtyMask::toString(IFormatable& out) const {
    std::string digits;
    digits.reserve(static_cast<size_t>(bitCount()));
    for (int bit = 0; bit < bitCount(); ++bit) {
        digits.push_back(isSet(bit) ? '1' : '0');
    }
    out.format("0b%s", digits.c_str());
}
