#pragma once

#include <cstdint>
#include <cstring>

#include "base/Buffer.h"
#include "base/IComparable.h"
#include "base/ISerializable.h"
#include "base/IStringConvertable.h"

// A four-byte tag (page types, recorder types) kept in the order it is written, first
// character first, and stored without byte-order conversion. Concrete tags derive from
// it with themselves as T and supply the text form. Ordered byte by byte as unsigned
// values, the first byte most significant. A plain value.
template <typename T>
class FourCharacterCode : public IComparable<T>, public IStringConvertable, public ISerializable {
public:
    FourCharacterCode(char a, char b, char c, char d) : _code{toByte(a), toByte(b), toByte(c), toByte(d)} {}
    // The first four characters of `text`; a shorter text is padded with NUL bytes.
    explicit FourCharacterCode(const char* text) {
        size_t n = text == nullptr ? 0 : strnlen(text, 4);
        std::memcpy(_code, text == nullptr ? "" : text, n);
    }

    const uint8_t* bytes() const { return _code; }
    // The four bytes as one number, first byte most significant.
    uint32_t value() const {
        return (uint32_t{_code[0]} << 24) | (uint32_t{_code[1]} << 16) | (uint32_t{_code[2]} << 8) | _code[3];
    }

    bool equals(const T& other) const override { return value() == codeOf(other).value(); }
    bool lessThan(const T& other) const override { return value() < codeOf(other).value(); }
    bool greaterThan(const T& other) const override { return value() > codeOf(other).value(); }

    int serializedSize() const override { return 4; }
    void readFrom(Buffer& buffer, int position) override { std::memcpy(_code, buffer.pointerAt(position, 4), 4); }
    void readFrom(Buffer& buffer) override { std::memcpy(_code, buffer.read(4), 4); }
    void writeTo(Buffer& buffer, int position) const override { buffer.putAt(position, _code, 4); }
    void writeTo(Buffer& buffer) const override { buffer.put(_code, 4); }

private:
    static uint8_t toByte(char c) { return static_cast<uint8_t>(c); }
    static const FourCharacterCode& codeOf(const T& other) { return other; }

    uint8_t _code[4] = {};
};
