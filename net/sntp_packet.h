// The SNTP packet: building the client request and judging and reading a server's answer.
#pragma once

#include <cstdint>

#include "net/time_client.h"

namespace sntp {

constexpr int kPacketSize = 48;
constexpr int kAnswerBufferSize = 68;  // room for a key identifier and digest, never read

// Leap indicator 0, version 3, mode 3 (client).
constexpr std::uint8_t kRequestFirstByte = 0x1B;

enum class AnswerCheck {
    kAccepted,
    kTooShort,
    kNotServerMode,
    kBogusOrigin,
    kZeroTransmit,
    kUnsynchronised,
    kBadStratum,
};

// A zeroed request carrying transmitTime in its transmit field.
void BuildRequest(const NtpTimestamp& transmitTime, std::uint8_t request[kPacketSize]);

// Whether a datagram of length bytes is an answer to the request that carried sentTransmit:
// only such a datagram echoes it in its originate field. Anything else (junk, a late
// duplicate, a packet forged without seeing the request) is no answer at all.
bool EchoesRequest(const std::uint8_t* datagram, int length, const NtpTimestamp& sentTransmit);

// Whether an answer of length bytes may be believed for the request that carried sentTransmit.
AnswerCheck CheckAnswer(const std::uint8_t* answer, int length, const NtpTimestamp& sentTransmit);

// What an answer says of the server itself.
struct ServerHeader {
    int leapIndicator = 0;
    int stratum = 0;
    double rootDelay = 0.0;       // seconds, to the server's reference clock and back
    double rootDispersion = 0.0;  // seconds, the server's own error bound
    std::uint32_t referenceId = 0;
};
ServerHeader ReadServerHeader(const std::uint8_t answer[kPacketSize]);

// A server's answer with stratum 0 and a printable code in its reference id (RATE, DENY,
// RSTR, ..., up to four ASCII characters): a Kiss-o'-Death. Its clock fields mean nothing.
bool IsKissOfDeath(const std::uint8_t* answer, int length);

// Leap indicator, stratum, T1, T2 and T3 from a 48-byte answer; T4 is already in result.
void ReadAnswer(const std::uint8_t answer[kPacketSize], SntpResult* result);

// Round-trip delay and clock offset from T1 to T4.
void ComputeDelayAndOffset(SntpResult* result);

}  // namespace sntp
