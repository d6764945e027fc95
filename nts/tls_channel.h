// The TLS 1.3 client of the NTS key exchange, on Mbed TLS over a connected stream socket.
// Every call waits on the socket only until the deadline. The server must agree to ALPN
// ntske/1 and prove a certificate for the host asked for:
//   - caFile (PEM, one or more certificates) replaces the system's roots;
//   - without it, the system's trust (nts/system_trust.h);
//   - on every path this program also matches host against the certificate's names;
//   - with CertificateTime::kAgreed a validity period that the local clock lies outside of
//     does not fail the chain: its window is kept for judging at the agreed time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/deadline.h"
#include "nts/certificate_window.h"
#include "nts/nts_fields.h"
#include "platform/stream_socket.h"

namespace nts {

class TlsChannel {
public:
    // socket: connected, and outliving the channel.
    explicit TlsChannel(platform::StreamSocket* socket);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Before the handshake: whose clock judges the certificates' validity (default kLocal).
    void JudgeCertificateTime(CertificateTime judge);
    // After a successful handshake: the verified chain's window.
    const CertificateWindow& Window() const;

    // host: as given (a name, or an address literal with or without brackets). false with
    // *error for people.
    bool Handshake(const std::string& host, const std::string& caFile, Deadline deadline,
                   std::string* error);
    bool Write(const std::uint8_t* data, std::size_t size, Deadline deadline, std::string* error);
    // The count read (more than 0), 0 once the server has closed, -1 on failure.
    int Read(std::uint8_t* buffer, std::size_t size, Deadline deadline, std::string* error);
    // The two keys of NTS from the TLS exporter (label EXPORTER-network-time-security,
    // context: protocol 0, AEAD 15, then 0 for client to server or 1 for server to client).
    bool ExportKeys(NtsKeys* keys, std::string* error);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace nts
