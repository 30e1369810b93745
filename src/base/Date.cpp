#include "base/Date.h"

#include "base/Buffer.h"
#include "base/IFormatable.h"

Date::Date(int year, int month, int day)
    : _value((static_cast<uint32_t>(year) << 16) | ((static_cast<uint32_t>(month) & 0xFF) << 8) |
             (static_cast<uint32_t>(day) & 0xFF)) {}

bool Date::isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int Date::daysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return days[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

void Date::toString(IFormatable& out) const {
    out.format("%d/%02d/%02d", year(), month(), day());
}

void Date::readFrom(Buffer& buffer, int position) {
    int y = buffer.getShortAt(position);
    int m = buffer.getByteAt(position + 2);
    int d = buffer.getByteAt(position + 3);
    *this = Date(y, m, d);
}

void Date::readFrom(Buffer& buffer) {
    int y = buffer.getShort();
    int m = buffer.getByte();
    int d = buffer.getByte();
    *this = Date(y, m, d);
}

void Date::writeTo(Buffer& buffer, int position) const {
    buffer.putShortAt(position, static_cast<uint16_t>(year()));
    buffer.putByteAt(position + 2, static_cast<uint8_t>(month()));
    buffer.putByteAt(position + 3, static_cast<uint8_t>(day()));
}

void Date::writeTo(Buffer& buffer) const {
    buffer.putShort(static_cast<uint16_t>(year()));
    buffer.putByte(static_cast<uint8_t>(month()));
    buffer.putByte(static_cast<uint8_t>(day()));
}
