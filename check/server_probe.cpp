#include "check/server_probe.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "check/run_deadline.h"
#include "net/sntp_packet.h"
#include "platform/platform.h"

namespace check {
namespace {

ServerProbe::Clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<ServerProbe::Clock::duration>(
        std::chrono::duration<double>(seconds));
}

// A fresh nonce; zero is never used, since a zero originate field is what a careless
// or forged packet carries.
BOOL DrawNonce(NtpTimestamp* nonce) {
    std::uint64_t value = 0;
    do {
        if (!platform::RandomBytes(&value, sizeof value)) {
            return FALSE;
        }
    } while (value == 0);
    *nonce = NtpTimestamp::FromParts(static_cast<std::uint32_t>(value >> 32),
                                     static_cast<std::uint32_t>(value));
    return TRUE;
}

// An NTS answer is about as long as its request, which may carry a cookie and seven
// placeholders of up to 1 KiB each; one cut short would fail its authentication.
constexpr int kAnswerBufferSize = 16 * 1024;

const char* RejectionText(sntp::AnswerCheck check, int stratum) {
    switch (check) {
        case sntp::AnswerCheck::kAccepted:
            break;
        case sntp::AnswerCheck::kTooShort:
            return "shorter than 48 bytes";
        case sntp::AnswerCheck::kNotServerMode:
            return "not in server mode";
        case sntp::AnswerCheck::kBogusOrigin:
            return "does not echo the request";
        case sntp::AnswerCheck::kZeroTransmit:
            return "zero transmit time";
        case sntp::AnswerCheck::kUnsynchronised:
            return "the server is not synchronised (leap indicator 3)";
        case sntp::AnswerCheck::kBadStratum:
            return stratum == 0 ? "stratum 0 without a printable kiss code" : "stratum above 15";
    }
    return "";
}

}  // namespace

ServerProbe::ServerProbe(std::string name, const CheckSettings& settings)
    : m_settings(settings), m_answer(kAnswerBufferSize) {
    m_report.name = std::move(name);
}

void ServerProbe::Open(const platform::SocketAddress& address) {
    m_report.address = platform::AddressText(address);
    if (!m_socket.CreateConnected(address)) {
        Stop(platform::LastError());
    }
}

void ServerProbe::UseNts(std::unique_ptr<NtsSession> session,
                         const nts::CertificateWindow& certificate) {
    m_nts = std::move(session);
    m_report.certificate = certificate;
}

void ServerProbe::Exclude(ServerStatus status, const std::string& detail) {
    m_bExcluded = true;
    m_report.status = status;
    (status == ServerStatus::kDuplicate ? m_report.duplicateOf : m_report.ntsError) = detail;
    Stop(0);
}

void ServerProbe::OutOfTime() {
    if (!Finished()) {
        m_bRejected = false;
        m_report.reason = kTimeLimitRanOut;
        Stop(0);
    }
}

bool ServerProbe::Finished() const {
    return m_bStopped || (m_nSent == m_settings.samples && m_inFlight.empty());
}

ServerProbe::Clock::time_point ServerProbe::NextEvent() const {
    Clock::time_point next = Clock::time_point::max();
    if (!m_bStopped && m_nSent < m_settings.samples) {
        next = m_nextSend;
    }
    for (const Request& request : m_inFlight) {
        next = std::min(next, request.expires);
    }
    return next;
}

void ServerProbe::Tick(Clock::time_point now) {
    m_inFlight.erase(std::remove_if(m_inFlight.begin(), m_inFlight.end(),
                                    [now](const Request& r) { return r.expires <= now; }),
                     m_inFlight.end());
    if (!m_bStopped && m_nSent < m_settings.samples && now >= m_nextSend) {
        SendRequest();
    }
}

void ServerProbe::SendRequest() {
    Request request;
    if (!DrawNonce(&request.nonce)) {
        Stop(platform::LastError());
        return;
    }
    std::vector<std::uint8_t> packet(sntp::kPacketSize);
    if (m_nts) {
        if (!m_nts->BuildRequest(request.nonce, m_settings.samples - m_nSent - 1, &packet,
                                 &request.id)) {
            Stop(platform::LastError());
            return;
        }
    } else {
        sntp::BuildRequest(request.nonce, packet.data());
    }
    // T1 is read last, just before the send, to frame the round trip tightly.
    request.sent = NtpTimestamp::PreciseNow();
    if (!m_socket.Send(packet.data(), static_cast<int>(packet.size()))) {
        Stop(platform::LastError());
        return;
    }
    // The next request is planned from this one's sending, not from when it was due: after
    // a pause (a suspended machine, a stopped process) the rest must not go out at once,
    // which servers take for abuse.
    const Clock::time_point sentAt = Clock::now();
    request.expires = sentAt + Seconds(m_settings.timeoutSeconds);
    m_inFlight.push_back(request);
    ++m_nSent;
    m_nextSend = sentAt + Seconds(m_settings.intervalSeconds);
}

void ServerProbe::Stop(DWORD error) {
    m_bStopped = true;
    m_report.error = error;
    m_inFlight.clear();
}

void ServerProbe::Receive(const NtpTimestamp& ready) {
    std::uint8_t* const answer = m_answer.data();
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    bool stamped = false;
    const int length =
        platform::SocketReceiveStamped(m_socket.Handle(), reinterpret_cast<char*>(answer),
                                       kAnswerBufferSize, &seconds, &nanoseconds, &stamped);
    // The system's own stamp of the arrival is better than ours: it does not include the
    // time this process took to be scheduled after the datagram came in.
    const NtpTimestamp arrival = stamped ? NtpTimestamp::FromUnixTime(seconds, nanoseconds) : ready;
    if (length < 0) {
        // Nobody serves that port (an ICMP refusal), or the socket broke.
        Stop(platform::LastError());
        return;
    }
    // Only a datagram that echoes a request in flight answers it, and only once: junk,
    // duplicates and late or forged packets are dropped.
    const auto answered = std::find_if(m_inFlight.begin(), m_inFlight.end(), [&](const Request& r) {
        return sntp::EchoesRequest(answer, length, r.nonce);
    });
    if (answered == m_inFlight.end()) {
        return;
    }
    if (m_nts) {
        // Echoing the nonce is not enough: anyone on the path saw it. What fails here is
        // dropped like a stray, and the request waits on for its authentic answer.
        switch (m_nts->CheckAnswer(answer, static_cast<std::size_t>(length), answered->id)) {
            case nts::NtsAnswer::kAuthentic:
                break;
            case nts::NtsAnswer::kNak:
                // Unauthenticated: anyone who saw the request can send one. Only if nothing
                // authentic comes does it tell what became of the server.
                m_bNak = true;
                return;
            case nts::NtsAnswer::kNotOurs:
            case nts::NtsAnswer::kUnauthentic:
            case nts::NtsAnswer::kMalformed:
                return;
        }
    }
    const Request request = *answered;
    m_inFlight.erase(answered);

    if (sntp::IsKissOfDeath(answer, length)) {
        // The server asks us to go away (or cannot serve).
        Kissed(ReferenceIdText(sntp::ReadServerHeader(answer)));
        return;
    }
    const sntp::AnswerCheck check = sntp::CheckAnswer(answer, length, request.nonce);
    if (check != sntp::AnswerCheck::kAccepted) {
        Reject(RejectionText(check, answer[1]));
        return;
    }
    // A server this far from its reference gets an error bound wide enough to agree with
    // anything: it would always side with the majority, or make one.
    const sntp::ServerHeader header = sntp::ReadServerHeader(answer);
    const double distance = header.rootDelay / 2 + header.rootDispersion;
    if (distance > m_settings.maxDistanceSeconds) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "root distance %.6f s above the limit %.6f s",
                      distance, m_settings.maxDistanceSeconds);
        Reject(reason);
        return;
    }
    TakeSample(answer, request, arrival);
}

void ServerProbe::Kissed(std::string code) {
    m_bKissed = true;
    m_report.kissCode = std::move(code);
    Stop(0);  // its requests in flight go with it
}

void ServerProbe::Reject(std::string reason) {
    m_bRejected = true;
    m_report.reason = std::move(reason);
}

void ServerProbe::TakeSample(const std::uint8_t* answer, const Request& request,
                             const NtpTimestamp& arrival) {
    SntpResult sample;
    sntp::ReadAnswer(answer, &sample);
    sample.m_tsOriginate = request.sent;  // the answer echoes the nonce, not T1
    sample.m_tsDestination = arrival;
    sntp::ComputeDelayAndOffset(&sample);
    if (sample.m_dRoundTripDelay > m_settings.maxDelaySeconds) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "round-trip delay %.6f s above the limit %.6f s",
                      sample.m_dRoundTripDelay, m_settings.maxDelaySeconds);
        Reject(reason);
        return;
    }
    ++m_report.samples;
    if (m_report.measured && sample.m_dRoundTripDelay >= m_report.best.delay) {
        return;
    }
    m_report.measured = true;
    m_report.best.offset = sample.m_dClockOffset;
    m_report.best.delay = sample.m_dRoundTripDelay;
    m_report.best.header = sntp::ReadServerHeader(answer);
    // A delay below zero (the server's claimed hold exceeds our wait) adds no error.
    m_report.errorBound = std::max(0.0, m_report.best.delay) / 2 +
                          m_report.best.header.rootDelay / 2 + m_report.best.header.rootDispersion;
}

ServerReport ServerProbe::Report() const {
    ServerReport report = m_report;
    report.authenticated = m_nts != nullptr && report.measured;
    if (m_bExcluded) {
        return report;
    }
    if (m_bKissed) {
        report.status = ServerStatus::kKissOfDeath;
    } else if (report.measured) {
        report.status = ServerStatus::kOk;
        report.reason.clear();  // an answer it gave was believed
    } else if (m_bNak) {
        report.status = ServerStatus::kKissOfDeath;
        report.kissCode = "NTSN";
    } else if (m_bRejected) {
        report.status = ServerStatus::kRejected;
    } else {
        report.status = ServerStatus::kNoAnswer;
    }
    return report;
}

}  // namespace check
