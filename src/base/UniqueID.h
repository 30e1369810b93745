#pragma once

#include <cstdint>

#include "base/IComparable.h"
#include "base/IStringConvertable.h"

// A 16-byte globally unique identifier for sites and storages, kept in the Windows GUID
// byte layout so stored files stay readable everywhere: a 32-bit, then two 16-bit
// fields in little-endian order, then 8 bytes as they are. The text form is the
// lower-case 8-4-4-4-12 hexadecimal one, the first three groups read as numbers. A
// plain value; creating a fresh one is thread-safe.
class UniqueID : public IComparable<UniqueID>, public IStringConvertable {
public:
    static constexpr int SIZE = 16;
    static constexpr int TEXT_LENGTH = 36;

    // A fresh random (version 4) identifier from the kernel's random source.
    UniqueID();
    // Parses the 8-4-4-4-12 form (either letter case); anything else raises
    // ParseException.
    explicit UniqueID(const char* text);
    static UniqueID fromBytes(const void* sixteenBytes);

    const uint8_t* bytes() const { return _bytes; }

    bool equals(const UniqueID& other) const override;
    // Byte by byte in memory order, as unsigned values.
    bool lessThan(const UniqueID& other) const override;
    bool greaterThan(const UniqueID& other) const override;

    // "6b29fc40-ca47-1067-b31d-00dd010662da"
    void toString(IFormatable& out) const override;

private:
    struct RawTag {};
    explicit UniqueID(RawTag) {}

    uint8_t _bytes[SIZE] = {};
};
