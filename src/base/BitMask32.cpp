#include "base/BitMask32.h"

#include "base/IFormatable.h"

void BitMask32::toString(IFormatable& out) const {
    char digits[33];
    for (int i = 0; i < 32; ++i) {
        digits[i] = ((_bits >> (31 - i)) & 1u) ? '1' : '0';
    }
    digits[32] = '\0';
    out.format("0b%s", digits);
}
