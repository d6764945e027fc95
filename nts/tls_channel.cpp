#include "nts/tls_channel.h"

#include <mbedtls/asn1.h>
#include <mbedtls/entropy.h>
#include <mbedtls/error.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509.h>
#include <psa/crypto.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "nts/certificate_name.h"
#include "nts/mbedtls_features.h"
#include "nts/system_trust.h"
#include "platform/dual_stack.h"
#include "platform/error_words.h"
#include "platform/platform.h"

namespace nts {
namespace {

const char kAlpn[] = "ntske/1";
const char kExporterLabel[] = "EXPORTER-network-time-security";
const char kTimedOut[] = "key exchange not finished within the time-out";

// The words for what was going on when a call failed.
struct Stage {
    const char* waiting;  // "... within the time-out (waiting)"
    const char* lost;     // "connection lost (lost)"
    const char* failed;   // "(failed) failed"
};
const Stage kSetUp = {"TLS set-up", "during the TLS set-up", "TLS set-up"};
const Stage kHandshake = {"TLS handshake", "during the TLS handshake", "TLS handshake"};
const Stage kRequest = {"sending the request", "while sending the request", "sending the request"};
const Stage kResponse = {"waiting for the response", "while reading the response",
                         "reading the response"};

std::string MbedTlsText(int rc) {
    char text[160] = {};
    mbedtls_strerror(rc, text, sizeof text);
    return text;
}

// Mbed TLS's reasons for refusing a chain, one clause each.
std::string VerifyText(std::uint32_t flags) {
    char text[512] = {};
    mbedtls_x509_crt_verify_info(text, sizeof text, "", flags);
    std::string joined(text);
    while (!joined.empty() && joined.back() == '\n') {
        joined.pop_back();
    }
    std::replace(joined.begin(), joined.end(), '\n', ';');
    return joined;
}

std::string WithoutBrackets(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        return host.substr(1, host.size() - 2);
    }
    return host;
}

// The leaf's subject alternative names: DNS names and address entries.
std::vector<AltName> AltNamesOf(const mbedtls_x509_crt* leaf) {
    std::vector<AltName> names;
    for (const mbedtls_x509_sequence* san = &leaf->subject_alt_names; san != nullptr;
         san = san->next) {
        const int tag = san->buf.tag;
        if (san->buf.p == nullptr || (tag & 0xC0) != MBEDTLS_ASN1_CONTEXT_SPECIFIC) {
            continue;
        }
        const std::string value(reinterpret_cast<const char*>(san->buf.p), san->buf.len);
        if ((tag & MBEDTLS_ASN1_TAG_VALUE_MASK) == MBEDTLS_X509_SAN_DNS_NAME) {
            names.push_back({AltName::Kind::kDns, value});
        } else if ((tag & MBEDTLS_ASN1_TAG_VALUE_MASK) == MBEDTLS_X509_SAN_IP_ADDRESS) {
            names.push_back({AltName::Kind::kIpAddress, value});
        }
    }
    return names;
}

constexpr std::uint32_t kTimeFlags = MBEDTLS_X509_BADCERT_FUTURE | MBEDTLS_X509_BADCERT_EXPIRED;

std::int64_t UnixTimeOf(const mbedtls_x509_time& t) {
    return nts::UnixTimeOf(t.year, t.mon, t.day, t.hour, t.min, t.sec);
}

int SystemRandom(void*, unsigned char* output, std::size_t size) {
    return platform::RandomBytes(output, size) ? 0 : MBEDTLS_ERR_ENTROPY_SOURCE_FAILED;
}

}  // namespace

struct TlsChannel::State {
    explicit State(platform::StreamSocket* s) : socket(s) {
        mbedtls_ssl_init(&ssl);
        mbedtls_ssl_config_init(&config);
        mbedtls_x509_crt_init(&roots);
    }
    ~State() {
        mbedtls_ssl_free(&ssl);
        mbedtls_ssl_config_free(&config);
        mbedtls_x509_crt_free(&roots);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    static int Send(void* context, const unsigned char* data, std::size_t size) {
        auto* state = static_cast<State*>(context);
        const int sent =
            state->socket->Send(data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
        if (sent >= 0) {
            return sent;
        }
        if (platform::LastError() == platform::StreamSocket::kWouldBlock) {
            return MBEDTLS_ERR_SSL_WANT_WRITE;
        }
        state->socketError = platform::LastError();
        return MBEDTLS_ERR_NET_SEND_FAILED;
    }

    static int Receive(void* context, unsigned char* buffer, std::size_t size) {
        auto* state = static_cast<State*>(context);
        const int got =
            state->socket->Receive(buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
        if (got >= 0) {
            return got;  // 0: the server closed the connection
        }
        if (platform::LastError() == platform::StreamSocket::kWouldBlock) {
            return MBEDTLS_ERR_SSL_WANT_READ;
        }
        state->socketError = platform::LastError();
        return MBEDTLS_ERR_NET_RECV_FAILED;
    }

    // Repeats an Mbed TLS call while it asks to wait for the socket, waiting as it asks but
    // never past the deadline (then MBEDTLS_ERR_SSL_TIMEOUT, which a stream never gives).
    int Drive(const std::function<int()>& call, Deadline deadline) {
        for (;;) {
            // Checked before each call too: a server that always has a little more to say
            // must not keep the exchange going.
            const DWORD left = MillisecondsUntil(deadline);
            if (left == 0) {
                return MBEDTLS_ERR_SSL_TIMEOUT;
            }
            const int rc = call();
            if (rc == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET) {
                continue;
            }
            if (rc != MBEDTLS_ERR_SSL_WANT_READ && rc != MBEDTLS_ERR_SSL_WANT_WRITE) {
                return rc;
            }
            const int ready =
                socket->Wait(rc == MBEDTLS_ERR_SSL_WANT_READ ? platform::StreamWait::kReadable
                                                             : platform::StreamWait::kWritable,
                             MillisecondsUntil(deadline));
            if (ready == 0) {
                return MBEDTLS_ERR_SSL_TIMEOUT;
            }
            if (ready < 0) {
                socketError = platform::LastError();
                return MBEDTLS_ERR_NET_RECV_FAILED;
            }
        }
    }

    // Why a call failed, for people.
    std::string Failure(int rc, const Stage& stage) const {
        if (rc == MBEDTLS_ERR_SSL_TIMEOUT) {
            return std::string(kTimedOut) + " (" + stage.waiting + ")";
        }
        if ((rc == MBEDTLS_ERR_NET_SEND_FAILED || rc == MBEDTLS_ERR_NET_RECV_FAILED) &&
            socketError != 0) {
            return std::string("connection lost ") + stage.lost + ": " +
                   platform::ErrorReason(socketError);
        }
        return std::string(stage.failed) + " failed (" + MbedTlsText(rc) + ")";
    }

    // Called for each certificate of the chain being verified: takes its window and, when the
    // agreed time judges, lets the local clock's verdict on validity alone pass.
    static int VerifyEach(void* context, mbedtls_x509_crt* certificate, int, std::uint32_t* flags) {
        auto* state = static_cast<State*>(context);
        state->window.Narrow(UnixTimeOf(certificate->valid_from),
                             UnixTimeOf(certificate->valid_to));
        if ((*flags & kTimeFlags) != 0) {
            state->window.outsideLocalClock = true;
            if (state->judge == CertificateTime::kAgreed) {
                *flags &= ~kTimeFlags;
            }
        }
        return 0;
    }

    platform::StreamSocket* socket;
    CertificateTime judge = CertificateTime::kLocal;
    CertificateWindow window;
    DWORD socketError = 0;
    mbedtls_ssl_context ssl;
    mbedtls_ssl_config config;
    mbedtls_x509_crt roots;
    const char* alpn[2] = {kAlpn, nullptr};
};

TlsChannel::TlsChannel(platform::StreamSocket* socket) : m_state(new State(socket)) {}

TlsChannel::~TlsChannel() = default;

void TlsChannel::JudgeCertificateTime(CertificateTime judge) {
    m_state->judge = judge;
}

const CertificateWindow& TlsChannel::Window() const {
    return m_state->window;
}

bool TlsChannel::Handshake(const std::string& host, const std::string& caFile, Deadline deadline,
                           std::string* error) {
    State& s = *m_state;
    if (psa_crypto_init() != PSA_SUCCESS) {
        *error = "cannot start Mbed TLS's cryptography";
        return false;
    }
    int rc = mbedtls_ssl_config_defaults(&s.config, MBEDTLS_SSL_IS_CLIENT,
                                         MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT);
    if (rc != 0) {
        *error = s.Failure(rc, kSetUp);
        return false;
    }
    mbedtls_ssl_conf_min_tls_version(&s.config, MBEDTLS_SSL_VERSION_TLS1_3);
    mbedtls_ssl_conf_max_tls_version(&s.config, MBEDTLS_SSL_VERSION_TLS1_3);
    mbedtls_ssl_conf_rng(&s.config, SystemRandom, nullptr);
    mbedtls_ssl_conf_alpn_protocols(&s.config, s.alpn);
    mbedtls_ssl_conf_verify(&s.config, State::VerifyEach, &s);

    bool chainEngine = false;
    if (!caFile.empty()) {
        rc = mbedtls_x509_crt_parse_file(&s.roots, caFile.c_str());
        if (rc != 0 || s.roots.raw.p == nullptr) {
            *error =
                "cannot read the CA file " + caFile +
                (rc < 0 ? " (" + MbedTlsText(rc) + ")" : " (a certificate in it is unreadable)");
            return false;
        }
    } else {
        switch (LoadSystemRoots(&s.roots)) {
            case SystemRoots::kLoaded:
                break;
#ifdef _WIN32
            case SystemRoots::kChainEngine:
                chainEngine = true;
                break;
#endif
            case SystemRoots::kMissing:
                *error = "no system CA certificates found (give them with --ca)";
                return false;
        }
    }
    // The chain engine judges the chain after the handshake; the handshake still checks
    // that the server holds the certificate's key.
#ifdef _WIN32
    mbedtls_ssl_conf_authmode(
        &s.config, chainEngine ? MBEDTLS_SSL_VERIFY_OPTIONAL : MBEDTLS_SSL_VERIFY_REQUIRED);
#else
    mbedtls_ssl_conf_authmode(&s.config, MBEDTLS_SSL_VERIFY_REQUIRED);
#endif
    if (!chainEngine) {
        mbedtls_ssl_conf_ca_chain(&s.config, &s.roots, nullptr);
    }

    const std::string name = WithoutBrackets(host);
    rc = mbedtls_ssl_setup(&s.ssl, &s.config);
    if (rc == 0) {
        // The server name to send, and the name Mbed TLS checks against the certificate.
        rc = mbedtls_ssl_set_hostname(&s.ssl, name.c_str());
    }
    if (rc != 0) {
        *error = s.Failure(rc, kSetUp);
        return false;
    }
    mbedtls_ssl_set_bio(&s.ssl, &s, State::Send, State::Receive, nullptr);

    rc = s.Drive([&s] { return mbedtls_ssl_handshake(&s.ssl); }, deadline);
    if (rc == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED) {
        const std::uint32_t flags = mbedtls_ssl_get_verify_result(&s.ssl);
        if (flags == MBEDTLS_X509_BADCERT_CN_MISMATCH) {
            *error = "certificate does not name " + host;
        } else if ((flags & ~kTimeFlags) == 0 && s.window.read) {
            *error = LocalClockOutsideText(s.window, LocalUnixTime());
        } else {
            *error = "certificate not trusted (" + VerifyText(flags) + ")";
        }
        return false;
    }
    if (rc != 0) {
        *error = s.Failure(rc, kHandshake);
        return false;
    }

    const char* agreed = mbedtls_ssl_get_alpn_protocol(&s.ssl);
    if (agreed == nullptr || std::strcmp(agreed, kAlpn) != 0) {
        *error = "the server did not agree to ALPN ntske/1";
        return false;
    }
    const mbedtls_x509_crt* leaf = mbedtls_ssl_get_peer_cert(&s.ssl);
    if (leaf == nullptr) {
        *error = "the server sent no certificate";
        return false;
    }
#ifdef _WIN32
    if (chainEngine) {
        std::vector<std::uint8_t> address;
        const bool literal = platform::AddressLiteralBytes(name.c_str(), &address) != FALSE;
        if (!SystemTrustsChainBy(leaf, name, literal, deadline, s.judge, &s.window, error)) {
            return false;
        }
    }
#endif
    if (!CertificateNamesHost(AltNamesOf(leaf), name)) {
        *error = "certificate does not name " + host;
        return false;
    }
    return true;
}

bool TlsChannel::Write(const std::uint8_t* data, std::size_t size, Deadline deadline,
                       std::string* error) {
    State& s = *m_state;
    while (size > 0) {
        const int rc = s.Drive([&] { return mbedtls_ssl_write(&s.ssl, data, size); }, deadline);
        if (rc <= 0) {
            *error = s.Failure(rc, kRequest);
            return false;
        }
        data += rc;
        size -= static_cast<std::size_t>(rc);
    }
    return true;
}

int TlsChannel::Read(std::uint8_t* buffer, std::size_t size, Deadline deadline,
                     std::string* error) {
    State& s = *m_state;
    const int rc = s.Drive([&] { return mbedtls_ssl_read(&s.ssl, buffer, size); }, deadline);
    if (rc > 0) {
        return rc;
    }
    // A close with or without its alert: whether the response was whole is the records'
    // business (End of Message).
    if (rc == 0 || rc == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || rc == MBEDTLS_ERR_SSL_CONN_EOF) {
        return 0;
    }
    *error = s.Failure(rc, kResponse);
    return -1;
}

bool TlsChannel::ExportKeys(NtsKeys* keys, std::string* error) {
    State& s = *m_state;
    // Next Protocol 0 (NTPv4), AEAD 15, then the direction.
    unsigned char context[5] = {0x00, 0x00, 0x00, 0x0F, 0x00};
    int rc = mbedtls_ssl_export_keying_material(
        &s.ssl, keys->clientToServer, sizeof keys->clientToServer, kExporterLabel,
        sizeof kExporterLabel - 1, context, sizeof context, 1);
    context[4] = 0x01;
    if (rc == 0) {
        rc = mbedtls_ssl_export_keying_material(
            &s.ssl, keys->serverToClient, sizeof keys->serverToClient, kExporterLabel,
            sizeof kExporterLabel - 1, context, sizeof context, 1);
    }
    if (rc != 0) {
        *error = "cannot export the NTS keys (" + MbedTlsText(rc) + ")";
        return false;
    }
    return true;
}

}  // namespace nts
