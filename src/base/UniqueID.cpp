#include "base/UniqueID.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "base/IFormatable.h"
#include "base/ParseException.h"
#include "base/SystemException.h"

namespace {

void fillRandom(uint8_t* out, size_t length) {
    size_t filled = 0;
    while (filled < length) {
        ssize_t n = ::getrandom(out + filled, length - filled, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemException(QF_HERE, errno);
        }
        filled += static_cast<size_t>(n);
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal characters as one number; -1 when one is not a digit.
int64_t hexNumber(const char* text, int digits) {
    int64_t value = 0;
    for (int i = 0; i < digits; ++i) {
        int v = hexValue(text[i]);
        if (v < 0) {
            return -1;
        }
        value = value * 16 + v;
    }
    return value;
}

void storeLittleEndian(uint8_t* out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint64_t loadLittleEndian(const uint8_t* in, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

constexpr const char* Expected = "a unique identifier (xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx)";

}  // namespace

UniqueID::UniqueID() {
    fillRandom(_bytes, SIZE);
    // Version 4 lives in the top nibble of the third field (stored little-endian, so in
    // byte 7); the variant bits 10 in the top of byte 8.
    _bytes[7] = static_cast<uint8_t>((_bytes[7] & 0x0F) | 0x40);
    _bytes[8] = static_cast<uint8_t>((_bytes[8] & 0x3F) | 0x80);
}

UniqueID::UniqueID(const char* text) {
    if (text == nullptr || std::strlen(text) != TEXT_LENGTH || text[8] != '-' || text[13] != '-' ||
        text[18] != '-' || text[23] != '-') {
        throw ParseException(QF_HERE, Expected, text);
    }
    int64_t data1 = hexNumber(text, 8);
    int64_t data2 = hexNumber(text + 9, 4);
    int64_t data3 = hexNumber(text + 14, 4);
    if (data1 < 0 || data2 < 0 || data3 < 0) {
        throw ParseException(QF_HERE, Expected, text);
    }
    storeLittleEndian(_bytes, static_cast<uint64_t>(data1), 4);
    storeLittleEndian(_bytes + 4, static_cast<uint64_t>(data2), 2);
    storeLittleEndian(_bytes + 6, static_cast<uint64_t>(data3), 2);
    // The last two groups are the eight bytes in memory order.
    static const int offsets[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        int64_t b = hexNumber(text + offsets[i], 2);
        if (b < 0) {
            throw ParseException(QF_HERE, Expected, text);
        }
        _bytes[8 + i] = static_cast<uint8_t>(b);
    }
}

UniqueID UniqueID::fromBytes(const void* sixteenBytes) {
    UniqueID id{RawTag{}};
    std::memcpy(id._bytes, sixteenBytes, SIZE);
    return id;
}

bool UniqueID::equals(const UniqueID& other) const { return std::memcmp(_bytes, other._bytes, SIZE) == 0; }
bool UniqueID::lessThan(const UniqueID& other) const { return std::memcmp(_bytes, other._bytes, SIZE) < 0; }
bool UniqueID::greaterThan(const UniqueID& other) const { return std::memcmp(_bytes, other._bytes, SIZE) > 0; }

void UniqueID::toString(IFormatable& out) const {
    const uint8_t* b = _bytes;
    out.format("%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", static_cast<unsigned>(loadLittleEndian(b, 4)),
               static_cast<unsigned>(loadLittleEndian(b + 4, 2)), static_cast<unsigned>(loadLittleEndian(b + 6, 2)),
               b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}
