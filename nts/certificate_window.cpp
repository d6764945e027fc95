#include "nts/certificate_window.h"

#include <algorithm>
#include <cstdio>

#include "time/ntp_timestamp.h"

namespace nts {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int32_t kUnixEpochJulianDay = 2440588;

struct Civil {
    int year, month, day, hour, minute, second;
};

Civil CivilOf(std::int64_t unixTime) {
    std::int64_t days = unixTime / kDay;
    std::int64_t rest = unixTime % kDay;
    if (rest < 0) {
        rest += kDay;
        --days;
    }
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day = 0;
    JulianDayToDate(static_cast<std::int32_t>(days + kUnixEpochJulianDay), &year, &month, &day);
    return {year,
            month,
            day,
            static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60),
            static_cast<int>(rest % 60)};
}

}  // namespace

void CertificateWindow::Narrow(std::int64_t from, std::int64_t until) {
    validFrom = read ? std::max(validFrom, from) : from;
    validUntil = read ? std::min(validUntil, until) : until;
    read = true;
}

bool ChainValidAt(const CertificateWindow& window, std::int64_t unixTime, std::string* error) {
    if (!window.Holds(unixTime)) {
        *error = WindowText(window) + ", but the servers agree on " + UtcMinuteText(unixTime);
        return false;
    }
#ifdef _WIN32
    if (!window.engineChain.empty()) {
        return SystemTrustsChainAt(window, unixTime, error);
    }
#endif
    return true;
}

std::string WindowText(const CertificateWindow& window) {
    return "certificate valid from " + UtcDateText(window.validFrom) + " to " +
           UtcDateText(window.validUntil) + " UTC";
}

std::string LocalClockOutsideText(const CertificateWindow& window, std::int64_t localClock) {
    return WindowText(window) + ", but the local clock reads " + UtcMinuteText(localClock) +
           ": the local clock is probably wrong";
}

std::int64_t LocalUnixTime() {
    const SYSTEMTIME now = NtpTimestamp::PreciseNow().ToSystemTime();
    return UnixTimeOf(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

std::int64_t UnixTimeOf(int year, int month, int day, int hour, int minute, int second) {
    const std::int64_t days =
        DateToJulianDay(static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                        static_cast<std::uint16_t>(day)) -
        kUnixEpochJulianDay;
    return days * kDay + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

std::string UtcDateText(std::int64_t unixTime) {
    const Civil c = CivilOf(unixTime);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
    return text;
}

std::string UtcMinuteText(std::int64_t unixTime) {
    const Civil c = CivilOf(unixTime);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d UTC", c.year, c.month, c.day, c.hour,
                  c.minute);
    return text;
}

std::string UtcIsoText(std::int64_t unixTime) {
    const Civil c = CivilOf(unixTime);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", c.year, c.month, c.day,
                  c.hour, c.minute, c.second);
    return text;
}

}  // namespace nts
