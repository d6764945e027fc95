#include "net/time_client.h"

#include <chrono>
#include <cstring>
#include <memory>

#include "net/deadline.h"
#include "net/sntp_packet.h"
#include "net/udp_socket.h"

namespace {

// Closing the socket may overwrite the last-error code; keep the reason of the failure.
BOOL FailKeepingReason(std::unique_ptr<UdpSocket>* socket) {
    const DWORD reason = platform::LastError();
    socket->reset();
    platform::SetLastError(reason);
    return FALSE;
}

enum class Awaited { kAnswer, kSilence, kReceiveFailed };

// Waits until the deadline for the datagram that answers this request. Datagrams that do
// not echo the request are dropped and the wait goes on: one stray packet must not end
// the exchange. arrival (T4) is read as soon as a datagram is ready, before it is read.
Awaited AwaitAnswer(UdpSocket* socket, const NtpTimestamp& sentTransmit, Deadline deadline,
                    std::uint8_t (&answer)[sntp::kAnswerBufferSize], int* length,
                    NtpTimestamp* arrival) {
    for (;;) {
        BOOL readable = FALSE;
        if (!socket->WaitReadable(&readable, MillisecondsUntil(deadline)) || !readable) {
            return Awaited::kSilence;
        }
        *arrival = NtpTimestamp::Now();
        std::memset(answer, 0, sizeof answer);
        *length = socket->Receive(answer, sizeof answer);
        if (*length < 0) {
            return Awaited::kReceiveFailed;
        }
        if (sntp::EchoesRequest(answer, *length, sentTransmit)) {
            return Awaited::kAnswer;
        }
    }
}

}  // namespace

TimeClient::TimeClient(platform::SystemClockApi& clockApi) : m_clockApi(clockApi) {}

BOOL TimeClient::SntpQuery(const char* server, SntpResult* result, int port) {
    // Some socket layers clear the code on success; a successful exchange leaves it alone.
    const DWORD codeOnEntry = platform::LastError();
    auto socket = std::make_unique<UdpSocket>();
    if (!socket->Create()) {
        return FALSE;
    }
    if (!socket->Connect(server, port)) {
        return FailKeepingReason(&socket);
    }

    // The transmit time is read last, just before the send, to frame the round trip tightly.
    std::uint8_t request[sntp::kPacketSize];
    const NtpTimestamp sentTransmit = NtpTimestamp::Now();
    sntp::BuildRequest(sentTransmit, request);
    if (!socket->Send(request, sizeof request)) {
        return FailKeepingReason(&socket);
    }
    const Deadline deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_dwTimeout);

    std::uint8_t answer[sntp::kAnswerBufferSize];
    int received = 0;
    NtpTimestamp arrival;
    switch (AwaitAnswer(socket.get(), sentTransmit, deadline, answer, &received, &arrival)) {
        case Awaited::kSilence:
            socket.reset();
            platform::SetLastError(WSAETIMEDOUT);
            return FALSE;
        case Awaited::kReceiveFailed:
            result->m_tsDestination = arrival;
            return FailKeepingReason(&socket);
        case Awaited::kAnswer:
            result->m_tsDestination = arrival;
            break;
    }
    if (sntp::CheckAnswer(answer, received, sentTransmit) != sntp::AnswerCheck::kAccepted) {
        platform::SetLastError(ERROR_INVALID_DATA);
        return FailKeepingReason(&socket);
    }

    sntp::ReadAnswer(answer, result);
    sntp::ComputeDelayAndOffset(result);
    socket.reset();
    platform::SetLastError(codeOnEntry);
    return TRUE;
}
