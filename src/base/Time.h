#pragma once

#include <cstdint>

#include "base/IComparable.h"
#include "base/ISerializable.h"
#include "base/IStringConvertable.h"

// A time of day packed into one word: the UTC offset in quarter hours as a signed byte in
// bits 31-24, hour in bits 23-16, minute in bits 15-8, second in bits 7-0. The offset is
// informational only: equality and order look at hour, minute and second alone. The
// all-ones word is the invalid (unset) time. A plain value; copies are independent.
class Time : public IComparable<Time>, public IStringConvertable, public ISerializable {
public:
    static constexpr uint32_t INVALID_VALUE = 0xFFFFFFFFu;

    Time() = default;
    // The offset is kept in whole quarter hours (utcOffsetSeconds / 900, toward zero).
    Time(int hour, int minute, int second, int utcOffsetSeconds = 0);
    explicit Time(uint32_t packed) : _value(packed) {}

    int hour() const { return static_cast<int>((_value >> 16) & 0xFF); }
    int minute() const { return static_cast<int>((_value >> 8) & 0xFF); }
    int second() const { return static_cast<int>(_value & 0xFF); }
    // Seconds east of UTC.
    int utcOffset() const { return quarterHours() * 900; }
    int quarterHours() const { return static_cast<int8_t>(_value >> 24); }
    uint32_t packed() const { return _value; }
    // Like equality, ignores the offset byte.
    bool isValid() const { return clock() != (INVALID_VALUE & 0x00FFFFFFu); }

    bool equals(const Time& other) const override { return clock() == other.clock(); }
    bool lessThan(const Time& other) const override { return clock() < other.clock(); }
    bool greaterThan(const Time& other) const override { return clock() > other.clock(); }

    // "23:59:59"
    void toString(IFormatable& out) const override;

    // 4 bytes: offset in quarter hours (signed), hour, minute, second.
    int serializedSize() const override { return 4; }
    void readFrom(Buffer& buffer, int position) override;
    void readFrom(Buffer& buffer) override;
    void writeTo(Buffer& buffer, int position) const override;
    void writeTo(Buffer& buffer) const override;

private:
    uint32_t clock() const { return _value & 0x00FFFFFFu; }

    uint32_t _value = INVALID_VALUE;
};
