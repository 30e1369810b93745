#pragma once

#include <cstdint>

#include "base/IComparable.h"
#include "base/ISerializable.h"
#include "base/IStringConvertable.h"

// A calendar date packed into one word: year in bits 31-16, month (1-12) in bits 15-8,
// day (1-31) in bits 7-0. The all-ones word is the invalid (unset) date, which sorts
// after every real date. A plain value; copies are independent.
class Date : public IComparable<Date>, public IStringConvertable, public ISerializable {
public:
    static constexpr uint32_t INVALID_VALUE = 0xFFFFFFFFu;

    Date() = default;
    Date(int year, int month, int day);
    explicit Date(uint32_t packed) : _value(packed) {}

    int year() const { return static_cast<int>(_value >> 16); }
    int month() const { return static_cast<int>((_value >> 8) & 0xFF); }
    int day() const { return static_cast<int>(_value & 0xFF); }
    uint32_t packed() const { return _value; }
    bool isValid() const { return _value != INVALID_VALUE; }

    static bool isLeapYear(int year);
    // 28 to 31; 0 for a month outside 1-12.
    static int daysInMonth(int year, int month);

    bool equals(const Date& other) const override { return _value == other._value; }
    bool lessThan(const Date& other) const override { return _value < other._value; }
    bool greaterThan(const Date& other) const override { return _value > other._value; }

    // "2009/03/01"
    void toString(IFormatable& out) const override;

    // 4 bytes: year (16 bits), month, day.
    int serializedSize() const override { return 4; }
    void readFrom(Buffer& buffer, int position) override;
    void readFrom(Buffer& buffer) override;
    void writeTo(Buffer& buffer, int position) const override;
    void writeTo(Buffer& buffer) const override;

private:
    uint32_t _value = INVALID_VALUE;
};
