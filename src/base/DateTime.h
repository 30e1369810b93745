#pragma once

#include <cstdint>

#include "base/Date.h"
#include "base/IComparable.h"
#include "base/ISerializable.h"
#include "base/IStringConvertable.h"
#include "base/Time.h"

// A time stamp: a Date followed by a Time. The UTC offset of the time half is carried
// along but ignored by comparisons and arithmetic, which treat the fields as they are.
// DateTime::INVALID (both halves invalid, the default) is the system's value for "no
// time". A plain value; copies are independent.
class DateTime : public IComparable<DateTime>, public IStringConvertable, public ISerializable {
public:
    static const DateTime INVALID;

    DateTime() = default;
    DateTime(int year, int month, int day, int hour, int minute, int second, int utcOffsetSeconds = 0);
    DateTime(const Date& date, const Time& time) : _date(date), _time(time) {}

    // Local wall-clock time; the offset is the local zone's, positive east of UTC.
    static DateTime now();
    // UTC wall-clock time, offset 0.
    static DateTime nowUtc();
    // The calendar fields of `seconds` since 1970-01-01 00:00:00, with the given offset
    // recorded; INVALID when the year would not fit the date's 16 bits.
    static DateTime fromEpochSeconds(int64_t seconds, int utcOffsetSeconds = 0);

    const Date& date() const { return _date; }
    const Time& time() const { return _time; }
    int year() const { return _date.year(); }
    int month() const { return _date.month(); }
    int day() const { return _date.day(); }
    int hour() const { return _time.hour(); }
    int minute() const { return _time.minute(); }
    int second() const { return _time.second(); }
    int utcOffset() const { return _time.utcOffset(); }
    bool isValid() const { return _date.isValid() && _time.isValid(); }

    // Seconds since 1970-01-01 00:00:00 with the fields read as UTC (offset ignored);
    // fields beyond their range carry into the next larger unit.
    int64_t toEpochSeconds() const;
    // The calendar time `seconds` later (earlier when negative), fields normalised, the
    // offset kept. An invalid value stays INVALID.
    DateTime plusSeconds(int seconds) const;
    // This minus `other` in seconds, offsets ignored; held to the int range.
    int secondsSince(const DateTime& other) const;

    bool equals(const DateTime& other) const override;
    bool lessThan(const DateTime& other) const override;
    bool greaterThan(const DateTime& other) const override;

    // "2009/03/01 23:00:00"
    void toString(IFormatable& out) const override;
    // "Sun, 01 Mar 2009 23:00:00 GMT", printed from the stored fields without conversion.
    void toHeaderString(IFormatable& out) const;

    // 8 bytes: the Date form, then the Time form.
    int serializedSize() const override { return 8; }
    void readFrom(Buffer& buffer, int position) override;
    void readFrom(Buffer& buffer) override;
    void writeTo(Buffer& buffer, int position) const override;
    void writeTo(Buffer& buffer) const override;

private:
    Date _date;
    Time _time;
};
