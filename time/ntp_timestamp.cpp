#include "time/ntp_timestamp.h"

#include <cmath>

#include "platform/platform.h"

namespace {

constexpr std::int32_t kJulianDay1900 = 2415021;  // 1900-01-01
constexpr std::uint64_t kSecondsPerDay = 86400;
constexpr std::uint64_t kEraSeconds = std::uint64_t{1} << 32;
constexpr double kSecondsPerFraction = 2.3283064370807974e-10;       // 1 / (2^32 - 1)
constexpr double kMillisecondsPerFraction = 2.3283064370807974e-07;  // 1000 / (2^32 - 1)
constexpr double kFractionsPerSecond = 4294967295.0;                 // 2^32 - 1

constexpr std::array<std::uint32_t, 1000> BuildMsFractionTable() {
    std::array<std::uint32_t, 1000> table{};
    for (std::uint64_t ms = 0; ms < table.size(); ++ms) {
        table[ms] = static_cast<std::uint32_t>(((ms << 32) + 500) / 1000);
    }
    return table;
}

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

void WriteBigEndian32(std::uint32_t value, std::uint8_t* bytes) {
    bytes[0] = static_cast<std::uint8_t>(value >> 24);
    bytes[1] = static_cast<std::uint8_t>(value >> 16);
    bytes[2] = static_cast<std::uint8_t>(value >> 8);
    bytes[3] = static_cast<std::uint8_t>(value);
}

// Seconds word and fraction of a 64-bit magnitude, as double seconds.
double MagnitudeToSeconds(std::uint64_t magnitude) {
    return static_cast<double>(magnitude >> 32) +
           FractionToSeconds(static_cast<std::uint32_t>(magnitude));
}

}  // namespace

const std::array<std::uint32_t, 1000> MsFractionTable = BuildMsFractionTable();

std::int32_t DateToJulianDay(std::uint16_t year, std::uint16_t month, std::uint16_t day) {
    // Count the year from March so that February and its leap day come last.
    std::int32_t m = 0;
    std::int32_t y = year;
    if (month > 2) {
        m = month - 3;
    } else {
        m = month + 9;
        y = year - 1;
    }
    const std::int32_t c = y / 100;
    const std::int32_t ya = y - 100 * c;
    return (146097 * c) / 4 + (1461 * ya) / 4 + (153 * m + 2) / 5 + day + 1721119;
}

void JulianDayToDate(std::int32_t jdn, std::uint16_t* year, std::uint16_t* month,
                     std::uint16_t* day) {
    std::int32_t t = 4 * jdn - 6884477;
    const std::int32_t cy = t / 146097;
    t -= 146097 * cy;
    std::int32_t d = t / 4;
    const std::int32_t yc = (4 * d + 3) / 1461;
    d = (4 * d + 3 - 1461 * yc + 4) / 4;
    const std::int32_t m = (5 * d - 3) / 153;
    *day = static_cast<std::uint16_t>((5 * d - 3 - 153 * m + 5) / 5);
    std::int32_t y = 100 * cy + yc;
    if (m < 10) {
        *month = static_cast<std::uint16_t>(m + 3);
    } else {
        *month = static_cast<std::uint16_t>(m - 9);
        ++y;
    }
    *year = static_cast<std::uint16_t>(y);
}

std::uint32_t MillisecondsToFraction(std::uint16_t ms) {
    return MsFractionTable[ms];
}

std::int32_t FractionToMilliseconds(std::uint32_t fraction) {
    // Never negative, so adding a half and truncating rounds to nearest.
    return static_cast<std::int32_t>(fraction * kMillisecondsPerFraction + 0.5);  // NOLINT
}

double FractionToSeconds(std::uint32_t fraction) {
    return fraction * kSecondsPerFraction;
}

NtpTimestamp NtpTimestamp::FromParts(std::uint32_t seconds, std::uint32_t fraction) {
    return NtpTimestamp((std::uint64_t{seconds} << 32) | fraction);
}

NtpTimestamp NtpTimestamp::FromNetwork(const NtpWireTimestamp& wire) {
    return FromParts(ReadBigEndian32(wire.bytes), ReadBigEndian32(wire.bytes + 4));
}

NtpWireTimestamp NtpTimestamp::ToNetwork() const {
    NtpWireTimestamp wire{};
    WriteBigEndian32(Seconds(), wire.bytes);
    WriteBigEndian32(Fraction(), wire.bytes + 4);
    return wire;
}

NtpTimestamp NtpTimestamp::FromSystemTime(const SYSTEMTIME& utc) {
    const std::int64_t days = DateToJulianDay(utc.wYear, utc.wMonth, utc.wDay) - kJulianDay1900;
    const std::int64_t total = ((days * 24 + utc.wHour) * 60 + utc.wMinute) * 60 + utc.wSecond;
    // Modulo 2^64: the seconds word wraps for dates outside 1900 to 2036.
    const std::uint64_t value =
        (static_cast<std::uint64_t>(total) << 32) + MillisecondsToFraction(utc.wMilliseconds);
    return NtpTimestamp(value);
}

SYSTEMTIME NtpTimestamp::ToSystemTime() const {
    // RFC 4330 section 3: a clear top bit means the era that begins in 2036.
    std::uint64_t total = Seconds();
    if ((Seconds() & 0x80000000u) == 0) {
        total += kEraSeconds;
    }
    std::int32_t ms = FractionToMilliseconds(Fraction());
    if (ms == 1000) {  // 0.9995 s and above round up into the next second
        ms = 0;
        ++total;
    }

    SYSTEMTIME t{};
    t.wSecond = static_cast<WORD>(total % 60);
    t.wMinute = static_cast<WORD>(total / 60 % 60);
    t.wHour = static_cast<WORD>(total / 3600 % 24);
    const std::uint64_t days = total / kSecondsPerDay;
    t.wDayOfWeek = static_cast<WORD>((days + kJulianDay1900 + 1) % 7);
    JulianDayToDate(static_cast<std::int32_t>(days) + kJulianDay1900, &t.wYear, &t.wMonth, &t.wDay);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

NtpTimestamp NtpTimestamp::Now() {
    SYSTEMTIME now{};
    platform::UtcNow(&now);
    return FromSystemTime(now);
}

NtpTimestamp NtpTimestamp::PreciseNow() {
    std::int64_t unixSeconds = 0;
    std::uint32_t nanoseconds = 0;
    platform::PreciseUtcNow(&unixSeconds, &nanoseconds);
    return FromUnixTime(unixSeconds, nanoseconds);
}

NtpTimestamp NtpTimestamp::FromUnixTime(std::int64_t unixSeconds, std::uint32_t nanoseconds) {
    constexpr std::int64_t kUnixEpochInNtpSeconds = 2208988800;
    // Seconds modulo 2^32 (the era wraps); nanoseconds to the nearest fraction step, which
    // for 999999999 ns stays below a whole second.
    const auto seconds = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(unixSeconds + kUnixEpochInNtpSeconds) & 0xFFFFFFFFu);
    const auto fraction = static_cast<std::uint32_t>(
        ((static_cast<std::uint64_t>(nanoseconds) << 32) + 500000000u) / 1000000000u);
    return FromParts(seconds, fraction);
}

double NtpTimestamp::Difference(const NtpTimestamp& other) const {
    // The sign comes from the wrap-around difference, not from the unsigned order, so a
    // span across the 2036 rollover keeps its sign.
    const std::uint64_t forward = m_value - other.m_value;
    if (static_cast<std::int64_t>(forward) >= 0) {
        return MagnitudeToSeconds(forward);
    }
    return -MagnitudeToSeconds(other.m_value - m_value);
}

NtpTimestamp NtpTimestamp::AddSeconds(double seconds) const {
    if (!std::isfinite(seconds)) {
        return *this;
    }
    const double magnitude = std::fabs(seconds);
    double whole = 0.0;
    const double part = std::modf(magnitude, &whole);
    // Whole seconds modulo 2^32 (fmod is exact), the fraction scaled by 2^32 - 1 and truncated.
    const std::uint64_t addend =
        (static_cast<std::uint64_t>(std::fmod(whole, 4294967296.0)) << 32) +
        static_cast<std::uint64_t>(part * kFractionsPerSecond);
    return NtpTimestamp(seconds < 0 ? m_value - addend : m_value + addend);
}
