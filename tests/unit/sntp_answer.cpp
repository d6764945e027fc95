#include "sntp_answer.h"

#include <cstring>

namespace {

void PutShortFormat(std::vector<std::uint8_t>* packet, int offset, double seconds) {
    const auto value = static_cast<std::uint32_t>(seconds * 65536.0);
    for (int i = 0; i < 4; ++i) {
        (*packet)[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

}  // namespace

void PutTimestamp(std::vector<std::uint8_t>* packet, int offset, const NtpTimestamp& t) {
    const NtpWireTimestamp wire = t.ToNetwork();
    std::memcpy(packet->data() + offset, wire.bytes, sizeof wire.bytes);
}

std::vector<std::uint8_t> MakeAnswer(const std::vector<std::uint8_t>& request,
                                     const AnswerFields& fields) {
    std::vector<std::uint8_t> answer(48, 0);
    answer[0] =
        static_cast<std::uint8_t>(fields.leapIndicator << 6 | fields.version << 3 | fields.mode);
    answer[1] = fields.stratum;
    PutShortFormat(&answer, 4, fields.rootDelay);
    PutShortFormat(&answer, 8, fields.rootDispersion);
    if (request.size() >= 48) {
        std::memcpy(answer.data() + 24, request.data() + 40, 8);
    }
    PutTimestamp(&answer, 32, fields.receive);
    PutTimestamp(&answer, 40, fields.transmit);
    return answer;
}

std::vector<std::uint8_t> MakeShiftedAnswer(const std::vector<std::uint8_t>& request,
                                            double offsetSeconds) {
    AnswerFields fields;
    fields.receive = NtpTimestamp::Now().AddSeconds(offsetSeconds);
    fields.transmit = fields.receive;
    return MakeAnswer(request, fields);
}
