// One server of a clock check: its socket, its requests in flight and the samples it gave.
// Requests carry a random 64-bit nonce in their transmit field, so only someone who saw a
// request can answer it, and the request tells nothing of the local clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "check/clock_check.h"
#include "check/nts_session.h"
#include "net/udp_socket.h"
#include "time/ntp_timestamp.h"

namespace check {

class ServerProbe {
public:
    using Clock = std::chrono::steady_clock;

    ServerProbe(std::string name, const CheckSettings& settings);
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;

    // Connects a socket to the server's address: from then on only datagrams from that
    // address and port reach the probe. A server that cannot be asked is finished at once.
    void Open(const platform::SocketAddress& address);
    // From then on every request is authenticated with NTS, and only authentic answers count;
    // certificate: the window of the key exchange's chain, for the report.
    void UseNts(std::unique_ptr<NtsSession> session, const nts::CertificateWindow& certificate);
    // Finishes a probe that will not be asked: its NTS key exchange failed (kNtsFailed, with
    // the reason), or another probe asks its server (kDuplicate, with that probe's name).
    void Exclude(ServerStatus status, const std::string& detail);

    // The run's time limit has come: whatever is unfinished counts as not answered, for
    // that reason (samples already taken still count).
    void OutOfTime();

    bool Finished() const;
    SOCKET Socket() const { return m_socket.Handle(); }
    // When the probe next needs its Tick: a request due, or one whose time-out ends.
    Clock::time_point NextEvent() const;
    // Drops requests whose time-out has passed and sends the next one when it is due.
    void Tick(Clock::time_point now);
    // Reads the datagram waiting on the socket, found ready at ready: T4, unless the
    // system stamped its arrival.
    void Receive(const NtpTimestamp& ready);

    ServerReport Report() const;

private:
    struct Request {
        NtpTimestamp nonce;  // what the answer must echo
        NtpTimestamp sent;   // T1, from the local clock
        Clock::time_point expires;
        UniqueId id{};  // what an NTS answer must echo
    };

    void SendRequest();
    void Stop(DWORD error);
    // The server told us to go away: never believed, never asked again.
    void Kissed(std::string code);
    void Reject(std::string reason);
    void TakeSample(const std::uint8_t* answer, const Request& request,
                    const NtpTimestamp& arrival);

    const CheckSettings& m_settings;
    ServerReport m_report;
    UdpSocket m_socket;
    bool m_bStopped = false;  // a Kiss-o'-Death or a socket error: ask no more
    bool m_bKissed = false;
    bool m_bNak = false;       // an NTS NAK came, which ends nothing by itself
    bool m_bRejected = false;  // some answer was not believed
    bool m_bExcluded = false;
    int m_nSent = 0;
    Clock::time_point m_nextSend{};
    std::vector<Request> m_inFlight;
    std::unique_ptr<NtsSession> m_nts;  // none: plain SNTP
    // The datagram being read: room for an NTS answer's cookies (a plain answer is read
    // from its first 48 bytes).
    std::vector<std::uint8_t> m_answer;
};

}  // namespace check
