#include "net/sntp_packet.h"

#include <cstring>

namespace sntp {
namespace {

constexpr int kRootDelayOffset = 4;
constexpr int kRootDispersionOffset = 8;
constexpr int kReferenceIdOffset = 12;
constexpr int kOriginateOffset = 24;
constexpr int kReceiveOffset = 32;
constexpr int kTransmitOffset = 40;
constexpr int kModeServer = 4;
constexpr int kLeapAlarm = 3;
constexpr int kMaxStratum = 15;

NtpTimestamp TimestampAt(const std::uint8_t* packet, int offset) {
    NtpWireTimestamp wire;
    std::memcpy(wire.bytes, packet + offset, sizeof wire.bytes);
    return NtpTimestamp::FromNetwork(wire);
}

std::uint32_t WordAt(const std::uint8_t* packet, int offset) {
    return static_cast<std::uint32_t>(packet[offset]) << 24 |
           static_cast<std::uint32_t>(packet[offset + 1]) << 16 |
           static_cast<std::uint32_t>(packet[offset + 2]) << 8 | packet[offset + 3];
}

// NTP's short format: unsigned 16.16 fixed-point seconds.
double ShortFormatAt(const std::uint8_t* packet, int offset) {
    return WordAt(packet, offset) / 65536.0;
}

}  // namespace

void BuildRequest(const NtpTimestamp& transmitTime, std::uint8_t request[kPacketSize]) {
    std::memset(request, 0, kPacketSize);
    request[0] = kRequestFirstByte;
    const NtpWireTimestamp wire = transmitTime.ToNetwork();
    std::memcpy(request + kTransmitOffset, wire.bytes, sizeof wire.bytes);
}

bool EchoesRequest(const std::uint8_t* datagram, int length, const NtpTimestamp& sentTransmit) {
    return length >= kOriginateOffset + 8 &&
           TimestampAt(datagram, kOriginateOffset) == sentTransmit;
}

AnswerCheck CheckAnswer(const std::uint8_t* answer, int length, const NtpTimestamp& sentTransmit) {
    // A truncated packet has no trustworthy timestamps.
    if (length < kPacketSize) {
        return AnswerCheck::kTooShort;
    }
    // Only a server's answer carries the server's clock (a reflected request would not).
    if ((answer[0] & 0x07) != kModeServer) {
        return AnswerCheck::kNotServerMode;
    }
    // The echo of our own transmit time ties the answer to this request: a stale, duplicate
    // or spoofed packet does not carry it.
    if (TimestampAt(answer, kOriginateOffset) != sentTransmit) {
        return AnswerCheck::kBogusOrigin;
    }
    // A zero transmit time is no time at all.
    if (TimestampAt(answer, kTransmitOffset).IsZero()) {
        return AnswerCheck::kZeroTransmit;
    }
    // Leap indicator 3: the server's own clock is not synchronised.
    if ((answer[0] >> 6) == kLeapAlarm) {
        return AnswerCheck::kUnsynchronised;
    }
    // Stratum 0 is a Kiss-o'-Death or unspecified; above 15 is not a valid stratum.
    if (answer[1] == 0 || answer[1] > kMaxStratum) {
        return AnswerCheck::kBadStratum;
    }
    return AnswerCheck::kAccepted;
}

ServerHeader ReadServerHeader(const std::uint8_t answer[kPacketSize]) {
    ServerHeader header;
    header.leapIndicator = answer[0] >> 6;
    header.stratum = answer[1];
    header.rootDelay = ShortFormatAt(answer, kRootDelayOffset);
    header.rootDispersion = ShortFormatAt(answer, kRootDispersionOffset);
    header.referenceId = WordAt(answer, kReferenceIdOffset);
    return header;
}

bool IsKissOfDeath(const std::uint8_t* answer, int length) {
    if (!(length >= kPacketSize && (answer[0] & 0x07) == kModeServer && answer[1] == 0)) {
        return false;
    }
    // A kiss code is ASCII text; an empty or binary one is an unsynchronised server's
    // stratum 0 (or junk), which the answer checks reject instead.
    const std::uint8_t* const code = answer + kReferenceIdOffset;
    int printable = 0;
    while (printable < 4 && code[printable] > 0x20 && code[printable] < 0x7F) {
        ++printable;
    }
    return printable > 0 && (printable == 4 || code[printable] == 0);
}

void ReadAnswer(const std::uint8_t answer[kPacketSize], SntpResult* result) {
    result->m_nStratum = answer[1];
    result->m_nLeapIndicator = answer[0] >> 6;
    result->m_tsOriginate = TimestampAt(answer, kOriginateOffset);
    result->m_tsReceive = TimestampAt(answer, kReceiveOffset);
    result->m_tsTransmit = TimestampAt(answer, kTransmitOffset);
}

void ComputeDelayAndOffset(SntpResult* result) {
    const NtpTimestamp& t1 = result->m_tsOriginate;
    const NtpTimestamp& t2 = result->m_tsReceive;
    const NtpTimestamp& t3 = result->m_tsTransmit;
    const NtpTimestamp& t4 = result->m_tsDestination;
    // The time we waited, less the time the server held the request.
    result->m_dRoundTripDelay = t4.Difference(t1) - t3.Difference(t2);
    result->m_dClockOffset = (t2.Difference(t1) + t3.Difference(t4)) * 0.5;
}

}  // namespace sntp
