#include "base/DateTime.h"

#include <climits>
#include <ctime>

#include "base/IFormatable.h"

const DateTime DateTime::INVALID;

namespace {

constexpr int64_t SecondsPerDay = 86400;

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }

// Days from 1970-01-01 to the given date. A month outside 1-12 carries into the year,
// so any packed value gives a defined answer.
int64_t daysSinceEpoch(int64_t year, int64_t month, int64_t day) {
    static const int cumulative[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int64_t m0 = month - 1;
    year += floorDiv(m0, 12);
    m0 = floorMod(m0, 12);
    int64_t y = year - (m0 < 2 ? 1 : 0);
    return (year - 1900) * 365 + floorDiv(y, 4) - floorDiv(y, 100) + floorDiv(y, 400) + cumulative[m0] + day -
           26028;
}

struct Civil {
    int64_t year;
    int month;
    int day;
};

// The proleptic Gregorian date of a day number (inverse of daysSinceEpoch).
Civil civilFromDays(int64_t days) {
    int64_t z = days + 719468;
    int64_t era = floorDiv(z, 146097);
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

int64_t epochSeconds(const DateTime& t) {
    return daysSinceEpoch(t.year(), t.month(), t.day()) * SecondsPerDay + int64_t{t.hour()} * 3600 +
           int64_t{t.minute()} * 60 + t.second();
}

DateTime fromBrokenDown(const struct tm& tm, int utcOffsetSeconds) {
    return DateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                    utcOffsetSeconds);
}

}  // namespace

DateTime::DateTime(int year, int month, int day, int hour, int minute, int second, int utcOffsetSeconds)
    : _date(year, month, day), _time(hour, minute, second, utcOffsetSeconds) {}

DateTime DateTime::now() {
    time_t seconds = ::time(nullptr);
    struct tm local {};
    localtime_r(&seconds, &local);
    return fromBrokenDown(local, static_cast<int>(local.tm_gmtoff));
}

DateTime DateTime::nowUtc() {
    time_t seconds = ::time(nullptr);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    return fromBrokenDown(utc, 0);
}

DateTime DateTime::fromEpochSeconds(int64_t seconds, int utcOffsetSeconds) {
    int64_t days = floorDiv(seconds, SecondsPerDay);
    int64_t rest = seconds - days * SecondsPerDay;
    Civil c = civilFromDays(days);
    if (c.year < 0 || c.year > 0xFFFF) {
        return INVALID;
    }
    return DateTime(static_cast<int>(c.year), c.month, c.day, static_cast<int>(rest / 3600),
                    static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60), utcOffsetSeconds);
}

int64_t DateTime::toEpochSeconds() const { return epochSeconds(*this); }

DateTime DateTime::plusSeconds(int seconds) const {
    if (!isValid()) {
        return INVALID;
    }
    DateTime result = fromEpochSeconds(epochSeconds(*this) + seconds);
    if (!result.isValid()) {
        return INVALID;
    }
    return DateTime(result._date, Time(result.hour(), result.minute(), result.second(), utcOffset()));
}

int DateTime::secondsSince(const DateTime& other) const {
    int64_t difference = epochSeconds(*this) - epochSeconds(other);
    if (difference > INT_MAX) {
        return INT_MAX;
    }
    if (difference < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(difference);
}

bool DateTime::equals(const DateTime& other) const {
    return _date.equals(other._date) && _time.equals(other._time);
}

bool DateTime::lessThan(const DateTime& other) const {
    return _date.lessThan(other._date) || (_date.equals(other._date) && _time.lessThan(other._time));
}

bool DateTime::greaterThan(const DateTime& other) const {
    return _date.greaterThan(other._date) || (_date.equals(other._date) && _time.greaterThan(other._time));
}

void DateTime::toString(IFormatable& out) const {
    out.format("%d/%02d/%02d %02d:%02d:%02d", year(), month(), day(), hour(), minute(), second());
}

void DateTime::toHeaderString(IFormatable& out) const {
    static const char* const weekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // 1970-01-01 was a Thursday.
    int64_t weekday = floorMod(daysSinceEpoch(year(), month(), day()) + 4, 7);
    const char* monthName = month() >= 1 && month() <= 12 ? months[month() - 1] : "???";
    out.format("%s, %02d %s %d %02d:%02d:%02d GMT", weekdays[weekday], day(), monthName, year(), hour(), minute(),
               second());
}

void DateTime::readFrom(Buffer& buffer, int position) {
    _date.readFrom(buffer, position);
    _time.readFrom(buffer, position + 4);
}

void DateTime::readFrom(Buffer& buffer) {
    _date.readFrom(buffer);
    _time.readFrom(buffer);
}

void DateTime::writeTo(Buffer& buffer, int position) const {
    _date.writeTo(buffer, position);
    _time.writeTo(buffer, position + 4);
}

void DateTime::writeTo(Buffer& buffer) const {
    _date.writeTo(buffer);
    _time.writeTo(buffer);
}
