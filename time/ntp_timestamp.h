// The 64-bit NTP timestamp (RFC 4330): unsigned seconds since 1900-01-01 00:00:00 UTC in
// the high word, a binary fraction of a second in the low word. Zero means "no time taken".
#pragma once

#include <array>
#include <cstdint>

#include "platform/win_types.h"

// 8 bytes in wire form: seconds word then fraction word, each big-endian.
struct NtpWireTimestamp {
    std::uint8_t bytes[8];
};

class NtpTimestamp {
public:
    NtpTimestamp() = default;

    static NtpTimestamp FromNetwork(const NtpWireTimestamp& wire);
    NtpWireTimestamp ToNetwork() const;

    // wDayOfWeek is not read; wMilliseconds must be 0-999. The seconds word wraps modulo 2^32.
    static NtpTimestamp FromSystemTime(const SYSTEMTIME& utc);
    // A seconds word with its top bit clear lies in the era that starts 2036-02-07 06:28:16,
    // so results run from 1968-01-20 03:14:08 to 2104-02-26 09:42:23.
    SYSTEMTIME ToSystemTime() const;

    // The current UTC time, to the millisecond.
    static NtpTimestamp Now();
    // The current UTC time from the finest clock there is, with its full fraction.
    static NtpTimestamp PreciseNow();
    // Seconds since 1970-01-01 UTC and nanoseconds (0-999999999).
    static NtpTimestamp FromUnixTime(std::int64_t unixSeconds, std::uint32_t nanoseconds);

    static NtpTimestamp FromParts(std::uint32_t seconds, std::uint32_t fraction);
    std::uint32_t Seconds() const { return static_cast<std::uint32_t>(m_value >> 32); }
    std::uint32_t Fraction() const { return static_cast<std::uint32_t>(m_value); }
    std::uint64_t Value() const { return m_value; }
    bool IsZero() const { return m_value == 0; }

    // this - other in seconds; the sign follows the wrap-around difference, so the result
    // is right across the 2036 rollover for timestamps less than 68 years apart.
    double Difference(const NtpTimestamp& other) const;
    // this + seconds (either sign); the receiver is unchanged. Whole seconds wrap modulo 2^32.
    NtpTimestamp AddSeconds(double seconds) const;

    friend bool operator==(const NtpTimestamp& a, const NtpTimestamp& b) {
        return a.m_value == b.m_value;
    }
    friend bool operator!=(const NtpTimestamp& a, const NtpTimestamp& b) { return !(a == b); }

private:
    explicit NtpTimestamp(std::uint64_t value) : m_value(value) {}

    std::uint64_t m_value = 0;
};

std::int32_t DateToJulianDay(std::uint16_t year, std::uint16_t month, std::uint16_t day);
void JulianDayToDate(std::int32_t jdn, std::uint16_t* year, std::uint16_t* month,
                     std::uint16_t* day);

// ms * 2^32 / 1000, rounded: the fraction word for whole milliseconds 0-999.
extern const std::array<std::uint32_t, 1000> MsFractionTable;
std::uint32_t MillisecondsToFraction(std::uint16_t ms);
// fraction * 1000 / (2^32 - 1), rounded to the nearest integer: 0 to 1000.
std::int32_t FractionToMilliseconds(std::uint32_t fraction);
// fraction / (2^32 - 1): 0.0 to 1.0.
double FractionToSeconds(std::uint32_t fraction);
