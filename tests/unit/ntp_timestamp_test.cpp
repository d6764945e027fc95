#include "time/ntp_timestamp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

SYSTEMTIME Utc(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0,
               WORD ms = 0) {
    SYSTEMTIME t{};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    t.wMilliseconds = ms;
    return t;
}

void ExpectCalendar(const SYSTEMTIME& t, WORD year, WORD month, WORD day, WORD hour, WORD minute,
                    WORD second, WORD ms, WORD dayOfWeek) {
    EXPECT_EQ(t.wYear, year);
    EXPECT_EQ(t.wMonth, month);
    EXPECT_EQ(t.wDay, day);
    EXPECT_EQ(t.wHour, hour);
    EXPECT_EQ(t.wMinute, minute);
    EXPECT_EQ(t.wSecond, second);
    EXPECT_EQ(t.wMilliseconds, ms);
    EXPECT_EQ(t.wDayOfWeek, dayOfWeek);
}

NtpTimestamp Ts(std::uint32_t seconds, std::uint32_t fraction = 0) {
    return NtpTimestamp::FromParts(seconds, fraction);
}

TEST(JulianDay, KnownDatesAndLeapDays) {
    EXPECT_EQ(DateToJulianDay(1900, 1, 1), 2415021);
    EXPECT_EQ(DateToJulianDay(2000, 2, 29), 2451604);
    EXPECT_EQ(DateToJulianDay(1900, 2, 28), 2415079);
    EXPECT_EQ(DateToJulianDay(1900, 3, 1), 2415080);  // 1900 has no 29 February
    WORD y = 0, m = 0, d = 0;
    JulianDayToDate(2452276, &y, &m, &d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20020101);
    JulianDayToDate(2452334, &y, &m, &d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20020228);
}

TEST(JulianDay, ExactInversesFrom1601To9999) {
    const std::int32_t first = DateToJulianDay(1601, 1, 1);
    const std::int32_t last = DateToJulianDay(9999, 12, 31);
    WORD prevYear = 1600, prevMonth = 12, prevDay = 31;
    for (std::int32_t jdn = first; jdn <= last; ++jdn) {
        WORD y = 0, m = 0, d = 0;
        JulianDayToDate(jdn, &y, &m, &d);
        ASSERT_EQ(DateToJulianDay(y, m, d), jdn) << y << "-" << m << "-" << d;
        // Consecutive days: either the next day of the month or the 1st of the next month.
        const bool nextDay = y == prevYear && m == prevMonth && d == prevDay + 1;
        const bool nextMonth = d == 1 && ((y == prevYear && m == prevMonth + 1) ||
                                          (y == prevYear + 1 && m == 1 && prevMonth == 12));
        ASSERT_TRUE(nextDay || nextMonth) << y << "-" << m << "-" << d;
        prevYear = y;
        prevMonth = m;
        prevDay = d;
    }
}

TEST(FractionScales, TableAndConversions) {
    EXPECT_EQ(MsFractionTable.size(), 1000u);
    EXPECT_EQ(MillisecondsToFraction(0), 0u);
    EXPECT_EQ(MillisecondsToFraction(1), 4294967u);
    EXPECT_EQ(MillisecondsToFraction(500), 2147483648u);
    EXPECT_EQ(MillisecondsToFraction(999), 4290672329u);
    EXPECT_EQ(FractionToMilliseconds(0), 0);
    EXPECT_EQ(FractionToMilliseconds(4294966), 1);
    EXPECT_EQ(FractionToMilliseconds(2147483648u), 500);
    EXPECT_EQ(FractionToMilliseconds(4292819811u), 999);
    EXPECT_EQ(FractionToMilliseconds(4292819812u), 1000);
    EXPECT_EQ(FractionToSeconds(4294967295u), 1.0);
    EXPECT_EQ(FractionToSeconds(2147483648u), 0.5000000001164153);
    for (WORD ms = 0; ms < 1000; ++ms) {
        ASSERT_EQ(FractionToMilliseconds(MillisecondsToFraction(ms)), ms);
    }
}

TEST(CalendarConversion, KnownInstants) {
    const NtpTimestamp zero;
    EXPECT_TRUE(zero.IsZero());
    EXPECT_EQ(NtpTimestamp::FromSystemTime(Utc(1970, 1, 1)).Seconds(), 2208988800u);

    const NtpTimestamp y2002 = NtpTimestamp::FromSystemTime(Utc(2002, 1, 1));
    EXPECT_EQ(y2002.Seconds(), 3218832000u);
    EXPECT_EQ(y2002.Fraction(), 0u);
    const NtpWireTimestamp wire = y2002.ToNetwork();
    const std::uint8_t expected[8] = {0xbf, 0xdb, 0x7a, 0x80, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(wire.bytes, expected, 8));

    const NtpTimestamp june = NtpTimestamp::FromSystemTime(Utc(2002, 6, 15, 12, 34, 56, 789));
    EXPECT_EQ(june.Seconds(), 3233133296u);
    EXPECT_EQ(june.Fraction(), 3388729197u);
    const std::uint8_t juneWire[8] = {0xc0, 0xb5, 0xb2, 0xf0, 0xc9, 0xfb, 0xe7, 0x6d};
    EXPECT_EQ(0, std::memcmp(june.ToNetwork().bytes, juneWire, 8));
    ExpectCalendar(june.ToSystemTime(), 2002, 6, 15, 12, 34, 56, 789, 6);
}

TEST(CalendarConversion, MillisecondCarryGoesIntoTheSeconds) {
    // 0.9996 s would print as .1000; it becomes the next whole second instead.
    const NtpTimestamp t = Ts(3233133296u, 4293000000u);
    ExpectCalendar(t.ToSystemTime(), 2002, 6, 15, 12, 34, 57, 0, 6);
    // The carry ripples through minute, hour, day, month and year.
    const NtpTimestamp newYear =
        NtpTimestamp::FromSystemTime(Utc(2030, 12, 31, 23, 59, 59)).AddSeconds(0.9999);
    ExpectCalendar(newYear.ToSystemTime(), 2031, 1, 1, 0, 0, 0, 0, 3);
}

TEST(Rollover2036, BothSidesOfTheEraBoundary) {
    const NtpTimestamp last = NtpTimestamp::FromSystemTime(Utc(2036, 2, 7, 6, 28, 15, 999));
    EXPECT_EQ(last.Seconds(), 4294967295u);
    EXPECT_EQ(last.Fraction(), 4290672329u);
    ExpectCalendar(last.ToSystemTime(), 2036, 2, 7, 6, 28, 15, 999, 4);

    const NtpTimestamp first = NtpTimestamp::FromSystemTime(Utc(2036, 2, 7, 6, 28, 16));
    EXPECT_EQ(first.Seconds(), 0u);
    EXPECT_EQ(first.Fraction(), 0u);

    // Era 1 for a clear top bit: seconds 1 is 2036-02-07 06:28:17, not 1900.
    ExpectCalendar(Ts(1).ToSystemTime(), 2036, 2, 7, 6, 28, 17, 0, 4);
    ExpectCalendar(Ts(0x7FFFFFFFu).ToSystemTime(), 2104, 2, 26, 9, 42, 23, 0, 2);
    ExpectCalendar(Ts(0x80000000u).ToSystemTime(), 1968, 1, 20, 3, 14, 8, 0, 6);

    // 1899-12-31 23:59:59 wraps to the last second of era 0.
    const NtpTimestamp before1900 = NtpTimestamp::FromSystemTime(Utc(1899, 12, 31, 23, 59, 59));
    EXPECT_EQ(before1900.Seconds(), 4294967295u);
    ExpectCalendar(before1900.ToSystemTime(), 2036, 2, 7, 6, 28, 15, 0, 4);

    // A carry at the very end of era 0 lands in era 1.
    ExpectCalendar(Ts(4294967295u, 4294967295u).ToSystemTime(), 2036, 2, 7, 6, 28, 16, 0, 4);
}

TEST(Rollover2036, CalendarRoundTripOverTheWholeRange) {
    std::mt19937 random(2036);
    std::uniform_int_distribution<std::uint32_t> anySeconds;
    std::uniform_int_distribution<int> anyMs(0, 999);
    for (int i = 0; i < 20000; ++i) {
        const NtpTimestamp t = Ts(anySeconds(random), MillisecondsToFraction(anyMs(random)));
        const SYSTEMTIME calendar = t.ToSystemTime();
        ASSERT_GE(calendar.wYear, 1968);
        ASSERT_LE(calendar.wYear, 2104);
        ASSERT_EQ(NtpTimestamp::FromSystemTime(calendar), t);
    }
}

TEST(WireForm, RoundTripsAnyValue) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t v = random();
        const NtpTimestamp t =
            Ts(static_cast<std::uint32_t>(v >> 32), static_cast<std::uint32_t>(v));
        ASSERT_EQ(NtpTimestamp::FromNetwork(t.ToNetwork()), t);
    }
}

TEST(Difference, SignsAndScales) {
    EXPECT_EQ(Ts(5, 7).Difference(Ts(5, 7)), 0.0);
    EXPECT_FALSE(std::signbit(Ts(5, 7).Difference(Ts(5, 7))));
    EXPECT_EQ(Ts(1).Difference(Ts(2)), -1.0);
    EXPECT_EQ(Ts(3, 4294967295u).Difference(Ts(3)), 1.0);
    EXPECT_EQ(Ts(3, 2147483648u).Difference(Ts(3)), 0.5000000001164153);
    // Large timestamps lose no precision: the difference is formed in integers.
    EXPECT_EQ(Ts(4000000000u, 4294967).Difference(Ts(4000000000u)), 4294967 / 4294967295.0);
}

TEST(Difference, AcrossThe2036Rollover) {
    const NtpTimestamp before = Ts(4294967295u);  // 2036-02-07 06:28:15
    const NtpTimestamp after = Ts(2);             // 2036-02-07 06:28:18
    EXPECT_EQ(after.Difference(before), 3.0);
    EXPECT_EQ(before.Difference(after), -3.0);
    const NtpTimestamp almostEra = Ts(0x7FFFFFFFu);
    EXPECT_EQ(almostEra.Difference(Ts(0)), 2147483647.0);
    EXPECT_EQ(Ts(0).Difference(almostEra), -2147483647.0);
}

TEST(AddSeconds, FixedPointCarriesAndBorrows) {
    const NtpTimestamp base = Ts(100);
    EXPECT_EQ(base.AddSeconds(0.5), Ts(100, 2147483647u));
    EXPECT_EQ(base.AddSeconds(-0.5), Ts(99, 2147483649u));
    EXPECT_EQ(base.AddSeconds(1.25), Ts(101, 1073741823u));
    EXPECT_EQ(base.AddSeconds(-1.25), Ts(98, 3221225473u));
    EXPECT_EQ(base.AddSeconds(3600.0), Ts(3700));
    EXPECT_EQ(base.AddSeconds(-0.0), base);
    EXPECT_EQ(base.AddSeconds(1e-10), base);
    EXPECT_EQ(base.AddSeconds(4294967298.0), Ts(102));
    EXPECT_EQ(Ts(100, 4294967295u).AddSeconds(0.5), Ts(101, 2147483646u));
    EXPECT_EQ(Ts(0).AddSeconds(-1.0), Ts(4294967295u));
    EXPECT_EQ(base.Seconds(), 100u);  // the receiver is unchanged
}

TEST(AddSeconds, NonFiniteAmountsLeaveTheValue) {
    const NtpTimestamp base = Ts(100, 5);
    EXPECT_EQ(base.AddSeconds(NAN), base);
    EXPECT_EQ(base.AddSeconds(INFINITY), base);
    EXPECT_EQ(base.AddSeconds(-INFINITY), base);
    // Huge finite amounts wrap like whole seconds modulo 2^32, without undefined behaviour.
    EXPECT_EQ(base.AddSeconds(1e300).Fraction(), 5u);
}

TEST(AddSeconds, DifferenceRecoversTheAmount) {
    std::mt19937 random(4330);
    std::uniform_real_distribution<double> amount(-1e6, 1e6);
    for (int i = 0; i < 10000; ++i) {
        const NtpTimestamp start = Ts(3900000000u + random() % 1000000u, random());
        const double x = amount(random);
        // Truncation of the fraction loses less than one fraction step, 2.4e-10 s.
        ASSERT_NEAR(start.AddSeconds(x).Difference(start), x, 1e-9) << x;
    }
}

TEST(Now, IsTheCurrentTimeToTheMillisecond) {
    const NtpTimestamp a = NtpTimestamp::Now();
    const NtpTimestamp b = NtpTimestamp::Now();
    EXPECT_GE(b.Difference(a), 0.0);
    EXPECT_LT(b.Difference(a), 1.0);
    // Every reading is a whole millisecond: its fraction is one of the table entries.
    const std::int32_t ms = FractionToMilliseconds(a.Fraction());
    ASSERT_LT(ms, 1000);
    EXPECT_EQ(a.Fraction(), MillisecondsToFraction(static_cast<std::uint16_t>(ms)));
    EXPECT_GE(a.ToSystemTime().wYear, 2024);
}

}  // namespace
