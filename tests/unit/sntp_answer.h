// Builds SNTP answers for tests: a well-formed server answer to a given request, which each
// test then spoils in the one way it is about.
#pragma once

#include <cstdint>
#include <vector>

#include "time/ntp_timestamp.h"

struct AnswerFields {
    std::uint8_t leapIndicator = 0;
    std::uint8_t version = 3;
    std::uint8_t mode = 4;
    std::uint8_t stratum = 2;
    double rootDelay = 0.0;  // seconds, written in NTP's 16.16 short format
    double rootDispersion = 0.0;
    NtpTimestamp receive;
    NtpTimestamp transmit;
};

// A 48-byte answer that echoes the request's transmit field as its originate timestamp.
std::vector<std::uint8_t> MakeAnswer(const std::vector<std::uint8_t>& request,
                                     const AnswerFields& fields);
// T2 = T3 = the current time shifted by offsetSeconds.
std::vector<std::uint8_t> MakeShiftedAnswer(const std::vector<std::uint8_t>& request,
                                            double offsetSeconds);
void PutTimestamp(std::vector<std::uint8_t>* packet, int offset, const NtpTimestamp& t);
