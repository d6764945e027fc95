#include "net/time_client.h"

#include <cstring>
#include <memory>

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

    BOOL readable = FALSE;
    if (!socket->WaitReadable(&readable, m_dwTimeout) || !readable) {
        socket.reset();
        platform::SetLastError(WSAETIMEDOUT);
        return FALSE;
    }

    // T4 before the receive call and before any parsing.
    result->m_tsDestination = NtpTimestamp::Now();

    std::uint8_t answer[sntp::kAnswerBufferSize];
    std::memset(answer, 0, sizeof answer);
    const int received = socket->Receive(answer, sizeof answer);
    if (received <= 0) {
        return FailKeepingReason(&socket);
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
