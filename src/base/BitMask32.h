#pragma once

#include <cstdint>

#include "base/IComparable.h"
#include "base/IStringConvertable.h"

// A set of 32 flags in one word, bit n being flag n; channel masks use it. Flag numbers
// are taken modulo 32. A plain value.
class BitMask32 : public IStringConvertable, public IComparable<BitMask32> {
public:
    BitMask32(uint32_t bits = 0) : _bits(bits) {}

    uint32_t value() const { return _bits; }
    bool isSet(int n) const { return (_bits >> bit(n)) & 1u; }
    void set(int n) { _bits |= 1u << bit(n); }
    void reset(int n) { _bits &= ~(1u << bit(n)); }

    bool equals(const BitMask32& other) const override { return _bits == other._bits; }
    bool lessThan(const BitMask32& other) const override { return _bits < other._bits; }
    bool greaterThan(const BitMask32& other) const override { return _bits > other._bits; }

    // "0b" and 32 digits, most significant bit first.
    void toString(IFormatable& out) const override;

private:
    static unsigned bit(int n) { return static_cast<unsigned>(n) & 31u; }

    uint32_t _bits;
};
