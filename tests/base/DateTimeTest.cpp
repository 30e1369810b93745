#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "base/BitMask32.h"
#include "base/Buffer.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "base/TextOf.h"

namespace {

std::string plus(const DateTime& t, int seconds) { return textOf(t.plusSeconds(seconds)); }

// Sets TZ for the life of the object (a POSIX zone string needs no zone database).
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        const char* old = std::getenv("TZ");
        _had = old != nullptr;
        if (_had) _old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (_had) setenv("TZ", _old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool _had = false;
    std::string _old;
};

}  // namespace

TEST(DateTime, InvalidIsTheDefaultAndSortsAfterEveryRealTime) {
    EXPECT_EQ(DateTime(), DateTime::INVALID);
    EXPECT_FALSE(DateTime::INVALID.isValid());
    EXPECT_EQ(textOf(Date()), "65535/255/255");
    EXPECT_GT(Date(), Date(65535, 12, 31));
    EXPECT_LT(DateTime(9999, 12, 31, 23, 59, 59), DateTime::INVALID);
    Interval none;
    EXPECT_EQ(none.from(), DateTime::INVALID);
    EXPECT_EQ(none.to(), DateTime::INVALID);
}

TEST(DateTime, OffsetIsIgnoredByEqualityAndOrder) {
    DateTime tokyo(2009, 3, 1, 12, 0, 0, 32400);
    DateTime newYork(2009, 3, 1, 12, 0, 0, -18000);
    EXPECT_EQ(tokyo, newYork);
    EXPECT_TRUE(tokyo.lessOrEqual(newYork));
    EXPECT_TRUE(tokyo.greaterOrEqual(newYork));
    EXPECT_EQ(Time(1, 2, 3, 3600), Time(1, 2, 3, 0));

    // The date decides before the time does.
    DateTime lateEve(2008, 12, 31, 23, 59, 59);
    DateTime newYear(2009, 1, 1, 0, 0, 0);
    EXPECT_LT(lateEve, newYear);
    EXPECT_GT(newYear, lateEve);
    EXPECT_FALSE(newYear.lessOrEqual(lateEve));
    EXPECT_TRUE(newYear.notEquals(lateEve));
}

TEST(DateTime, PlusSecondsCrossesFebruaryLeapYearsAndYearEnds) {
    EXPECT_EQ(plus(DateTime(2008, 2, 28, 23, 0, 0), 86400), "2008/02/29 23:00:00");
    EXPECT_EQ(plus(DateTime(2009, 2, 28, 23, 0, 0), 86400), "2009/03/01 23:00:00");
    EXPECT_EQ(plus(DateTime(2009, 1, 1, 0, 0, 0), -1), "2008/12/31 23:59:59");
    EXPECT_EQ(plus(DateTime(2000, 2, 28, 12, 0, 0), 86400), "2000/02/29 12:00:00");
    EXPECT_EQ(plus(DateTime(2100, 2, 28, 12, 0, 0), 86400), "2100/03/01 12:00:00");
    EXPECT_EQ(plus(DateTime(1900, 3, 1, 0, 0, 0), -1), "1900/02/28 23:59:59");
    EXPECT_EQ(plus(DateTime(2008, 12, 31, 23, 59, 59), 1), "2009/01/01 00:00:00");
    EXPECT_EQ(plus(DateTime(2008, 1, 1, 0, 0, 0), 366 * 86400), "2009/01/01 00:00:00");
    EXPECT_EQ(plus(DateTime(1969, 12, 31, 23, 59, 59), 2), "1970/01/01 00:00:01");

    DateTime withOffset(2009, 6, 30, 23, 30, 0, -18000);
    EXPECT_EQ(withOffset.plusSeconds(3600).utcOffset(), -18000);
    EXPECT_EQ(DateTime::INVALID.plusSeconds(60), DateTime::INVALID);
}

TEST(DateTime, SecondsSinceIsSignedAndAgreesWithTheSystemCalendar) {
    DateTime a(2009, 3, 1, 0, 0, 0);
    DateTime b(2009, 2, 28, 0, 0, 0);
    EXPECT_EQ(a.secondsSince(b), 86400);
    EXPECT_EQ(b.secondsSince(a), -86400);
    EXPECT_EQ(DateTime(2009, 1, 1, 0, 0, 0).secondsSince(DateTime(2008, 1, 1, 0, 0, 0)), 366 * 86400);
    EXPECT_EQ(DateTime(2009, 3, 1, 9, 0, 0, 32400).secondsSince(DateTime(2009, 3, 1, 9, 0, 0, 0)), 0);

    std::mt19937 random(1234);
    for (int i = 0; i < 2000; ++i) {
        int year = std::uniform_int_distribution<int>(1901, 2200)(random);
        int month = std::uniform_int_distribution<int>(1, 12)(random);
        int day = std::uniform_int_distribution<int>(1, Date::daysInMonth(year, month))(random);
        int second = std::uniform_int_distribution<int>(0, 86399)(random);
        DateTime t(year, month, day, second / 3600, second / 60 % 60, second % 60);
        struct tm tm {};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = t.hour();
        tm.tm_min = t.minute();
        tm.tm_sec = t.second();
        ASSERT_EQ(t.toEpochSeconds(), static_cast<int64_t>(timegm(&tm))) << textOf(t);

        int delta = std::uniform_int_distribution<int>(-400000000, 400000000)(random);
        DateTime moved = t.plusSeconds(delta);
        ASSERT_EQ(moved.secondsSince(t), delta) << textOf(t) << " + " << delta;
    }
}

TEST(DateTime, SecondsSinceHoldsToTheIntRangeInsteadOfWrapping) {
    DateTime epoch(1970, 1, 1, 0, 0, 0);
    EXPECT_EQ(DateTime::INVALID.secondsSince(epoch), INT_MAX);
    EXPECT_EQ(epoch.secondsSince(DateTime::INVALID), INT_MIN);
    EXPECT_EQ(DateTime(2100, 1, 1, 0, 0, 0).secondsSince(DateTime(1990, 1, 1, 0, 0, 0)), INT_MAX);
}

TEST(DateTime, TextForms) {
    DateTime t(2009, 3, 1, 23, 5, 7, 32400);
    EXPECT_EQ(textOf(t), "2009/03/01 23:05:07");
    EXPECT_EQ(textOf(t.time()), "23:05:07");
    FormatableBuffer<64> header;
    t.toHeaderString(header);
    EXPECT_STREQ(header.c_str(), "Sun, 01 Mar 2009 23:05:07 GMT");
    DateTime(2000, 2, 29, 0, 0, 0).toHeaderString(header);
    EXPECT_STREQ(header.c_str(), "Tue, 29 Feb 2000 00:00:00 GMT");
    DateTime(1970, 1, 1, 0, 0, 0).toHeaderString(header);
    EXPECT_STREQ(header.c_str(), "Thu, 01 Jan 1970 00:00:00 GMT");

    EXPECT_EQ(textOf(Interval(DateTime(2009, 1, 2, 3, 4, 5), DateTime(2010, 11, 12, 13, 14, 15))),
              "[2009/01/02 03:04:05, 2010/11/12 13:14:15]");
    EXPECT_EQ(textOf(Interval(DateTime(2009, 1, 2, 3, 4, 5))), "[2009/01/02 03:04:05, 2009/01/02 03:04:05]");
}

TEST(DateTime, TimeKeepsItsOffsetInSignedQuarterHours) {
    Time east(10, 20, 30, 32400);
    EXPECT_EQ(east.packed() >> 24, 36u);
    EXPECT_EQ(east.utcOffset(), 32400);
    Time west(10, 20, 30, -18000);
    EXPECT_EQ(west.packed() >> 24, 0xECu);
    EXPECT_EQ(west.utcOffset(), -18000);
    EXPECT_EQ(Time(0, 0, 0, 5399).utcOffset(), 4500);  // whole quarter hours only

    uint8_t bytes[4];
    Buffer buffer(bytes, 4, ByteOrder::BigEndian);
    east.writeTo(buffer);
    EXPECT_EQ(bytes[0], 0x24);
    EXPECT_EQ(bytes[1], 10);
    EXPECT_EQ(bytes[2], 20);
    EXPECT_EQ(bytes[3], 30);
    west.writeTo(buffer, 0);
    EXPECT_EQ(bytes[0], 0xEC);
    Time read;
    read.readFrom(buffer, 0);
    EXPECT_EQ(read.utcOffset(), -18000);
    EXPECT_EQ(read.packed(), west.packed());
}

TEST(DateTime, SerializedFormFollowsTheBufferByteOrder) {
    uint8_t bytes[16] = {};
    DateTime t(2009, 3, 1, 23, 5, 7, -3600);
    Buffer big(bytes, 16, ByteOrder::BigEndian);
    big.skip(4);
    t.writeTo(big);
    EXPECT_EQ(big.position(), 12);
    const uint8_t expected[8] = {0x07, 0xD9, 3, 1, 0xFC, 23, 5, 7};
    EXPECT_EQ(0, memcmp(bytes + 4, expected, 8));

    Buffer little(bytes, 16, ByteOrder::LittleEndian);
    t.date().writeTo(little, 0);
    EXPECT_EQ(bytes[0], 0xD9);
    EXPECT_EQ(bytes[1], 0x07);

    DateTime read;
    read.readFrom(big, 4);
    EXPECT_EQ(big.position(), 12);
    EXPECT_EQ(textOf(read), textOf(t));
    EXPECT_EQ(read.utcOffset(), -3600);
    // An unset time survives storage as unset.
    DateTime::INVALID.writeTo(big, 0);
    read.readFrom(big, 0);
    EXPECT_FALSE(read.isValid());
}

TEST(DateTime, NowCarriesTheLocalZoneOffset) {
    {
        ZoneScope zone("JST-9");
        DateTime local = DateTime::now();
        DateTime utc = DateTime::nowUtc();
        EXPECT_EQ(local.utcOffset(), 32400);
        EXPECT_EQ(utc.utcOffset(), 0);
        EXPECT_NEAR(local.secondsSince(utc), 32400, 5);
    }
    {
        ZoneScope zone("EST5");
        DateTime local = DateTime::now();
        EXPECT_EQ(local.utcOffset(), -18000);
        EXPECT_NEAR(local.secondsSince(DateTime::nowUtc()), -18000, 5);
    }
}

TEST(BitMask32, PrintsMostSignificantBitFirstAndWrapsFlagNumbers) {
    EXPECT_EQ(textOf(BitMask32(5)), "0b00000000000000000000000000000101");
    EXPECT_EQ(textOf(BitMask32(0x80000000u)), "0b10000000000000000000000000000000");
    BitMask32 mask(5);
    EXPECT_TRUE(mask.isSet(0));
    EXPECT_FALSE(mask.isSet(1));
    EXPECT_TRUE(mask.isSet(34));
    mask.set(31);
    mask.reset(2);
    EXPECT_EQ(mask.value(), 0x80000001u);
    EXPECT_LT(BitMask32(1), BitMask32(0x80000000u));
}
