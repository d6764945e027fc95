// Answer parsing and validation: any bytes a server (or anyone else) may send back.
//
// Input: 8 bytes of the transmit time we sent, 8 bytes of the arrival time T4, then the
// answer as received. Checks that CheckAnswer accepts exactly the answers that meet every
// rule, that ReadAnswer reads the fields where they are, that delay and offset agree with
// each other, and that the report lines and the calendar conversions of every timestamp
// stay well formed.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/report_lines.h"
#include "net/sntp_packet.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr size_t kHeader = 16;

NtpTimestamp TimestampAt(const std::uint8_t* bytes) {
    NtpWireTimestamp wire;
    std::memcpy(wire.bytes, bytes, sizeof wire.bytes);
    return NtpTimestamp::FromNetwork(wire);
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Wire form, calendar form and back: nothing lost but the rounding to a millisecond.
void CheckConversions(const NtpTimestamp& t) {
    const NtpWireTimestamp wire = t.ToNetwork();
    FUZZ_CHECK(NtpTimestamp::FromNetwork(wire) == t);

    const SYSTEMTIME utc = t.ToSystemTime();
    FUZZ_CHECK(utc.wYear >= 1968 && utc.wYear <= 2104);
    FUZZ_CHECK(utc.wMonth >= 1 && utc.wMonth <= 12);
    FUZZ_CHECK(utc.wDay >= 1 && utc.wDay <= DaysInMonth(utc.wYear, utc.wMonth));
    FUZZ_CHECK(utc.wHour < 24 && utc.wMinute < 60 && utc.wSecond < 60);
    FUZZ_CHECK(utc.wMilliseconds < 1000);

    const double back = NtpTimestamp::FromSystemTime(utc).Difference(t);
    FUZZ_CHECK(std::fabs(back) <= 0.0005 + 1e-9);
}

void CheckReport(const SntpResult& result) {
    const std::vector<std::string> lines = report::ExchangeReport(TRUE, result);
    FUZZ_CHECK(lines.size() == 5);
    const std::string& date = lines[2];
    FUZZ_CHECK(date.size() == 33);
    FUZZ_CHECK(date.compare(0, 9, std::string(9, ' ')) == 0);
    const std::string& offset = lines[4];
    const std::string suffix = " seconds";
    FUZZ_CHECK(offset.size() > 9 + suffix.size());
    FUZZ_CHECK(offset.compare(offset.size() - suffix.size(), suffix.size(), suffix) == 0);
    const double printed = std::strtod(offset.c_str(), nullptr);
    // Six decimals, plus the rounding of the text back to a double.
    FUZZ_CHECK(std::fabs(printed - result.m_dClockOffset) <= 1e-6);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    const NtpTimestamp sent = TimestampAt(data);
    const NtpTimestamp arrival = TimestampAt(data + 8);
    const size_t length = size - kHeader;
    // An exact-size copy, so that a read past the answer's end is an ASan report.
    const std::vector<std::uint8_t> exact(data + kHeader, data + size);
    const std::uint8_t* answer = exact.empty() ? nullptr : exact.data();
    const int count = static_cast<int>(length > 0x7FFFFFFF ? 0x7FFFFFFF : length);

    static const std::uint8_t kNothing[1] = {0};
    const sntp::AnswerCheck verdict = sntp::CheckAnswer(answer ? answer : kNothing, count, sent);

    const bool longEnough = length >= sntp::kPacketSize;
    const bool serverMode = longEnough && (answer[0] & 0x07) == 4;
    const bool echoesUs = longEnough && TimestampAt(answer + 24) == sent;
    const bool hasTransmit = longEnough && !TimestampAt(answer + 40).IsZero();
    const bool synchronised = longEnough && (answer[0] >> 6) != 3;
    const bool validStratum = longEnough && answer[1] >= 1 && answer[1] <= 15;
    const bool believable =
        longEnough && serverMode && echoesUs && hasTransmit && synchronised && validStratum;
    FUZZ_CHECK((verdict == sntp::AnswerCheck::kAccepted) == believable);
    // A rejection names a rule that the answer breaks.
    switch (verdict) {
        case sntp::AnswerCheck::kAccepted:
            break;
        case sntp::AnswerCheck::kTooShort:
            FUZZ_CHECK(!longEnough);
            break;
        case sntp::AnswerCheck::kNotServerMode:
            FUZZ_CHECK(longEnough && !serverMode);
            break;
        case sntp::AnswerCheck::kBogusOrigin:
            FUZZ_CHECK(longEnough && !echoesUs);
            break;
        case sntp::AnswerCheck::kZeroTransmit:
            FUZZ_CHECK(longEnough && !hasTransmit);
            break;
        case sntp::AnswerCheck::kUnsynchronised:
            FUZZ_CHECK(longEnough && !synchronised);
            break;
        case sntp::AnswerCheck::kBadStratum:
            FUZZ_CHECK(longEnough && !validStratum);
            break;
        default:
            FUZZ_CHECK(false && "unknown verdict");
    }

    // The exchange receives at most the answer buffer's size into a cleared buffer.
    std::uint8_t buffer[sntp::kAnswerBufferSize] = {};
    const size_t received = length < sizeof buffer ? length : sizeof buffer;
    if (received > 0) {
        std::memcpy(buffer, answer, received);
    }
    FUZZ_CHECK(sntp::CheckAnswer(buffer, static_cast<int>(received), sent) == verdict);
    if (verdict != sntp::AnswerCheck::kAccepted) {
        return 0;
    }

    SntpResult result;
    result.m_tsDestination = arrival;
    sntp::ReadAnswer(buffer, &result);
    FUZZ_CHECK(result.m_nLeapIndicator == buffer[0] >> 6);
    FUZZ_CHECK(result.m_nStratum == buffer[1]);
    FUZZ_CHECK(result.m_tsOriginate == sent);
    FUZZ_CHECK(result.m_tsReceive == TimestampAt(buffer + 32));
    FUZZ_CHECK(result.m_tsTransmit == TimestampAt(buffer + 40));
    FUZZ_CHECK(result.m_tsDestination == arrival);

    sntp::ComputeDelayAndOffset(&result);
    const double delay = result.m_dRoundTripDelay;
    const double offset = result.m_dClockOffset;
    FUZZ_CHECK(std::isfinite(delay) && std::isfinite(offset));
    // Each difference lies within half an era, so neither can run away.
    FUZZ_CHECK(std::fabs(delay) <= 4294967296.0 && std::fabs(offset) <= 2147483648.0);
    // Delay and offset come from the same four times: offset = (T2 - T1) - delay / 2. The
    // differences are taken modulo an era, so this holds where the steps add up within one.
    const double outbound = result.m_tsReceive.Difference(result.m_tsOriginate);
    const double held = result.m_tsTransmit.Difference(result.m_tsReceive);
    const double inbound = result.m_tsDestination.Difference(result.m_tsTransmit);
    const double kQuarterEra = 1073741824.0;
    if (std::fabs(outbound) < kQuarterEra / 2 && std::fabs(held) < kQuarterEra / 2 &&
        std::fabs(inbound) < kQuarterEra / 2) {
        FUZZ_CHECK(std::fabs(offset - (outbound - delay / 2)) <= 1e-5);
        FUZZ_CHECK(std::fabs(delay - (outbound + inbound)) <= 1e-5);
    }

    CheckConversions(result.m_tsOriginate);
    CheckConversions(result.m_tsReceive);
    CheckConversions(result.m_tsTransmit);
    CheckConversions(result.m_tsDestination);
    CheckReport(result);
    return 0;
}
