// The system's own trust in server certificates, where no --ca file replaces it.
// Linux and other POSIX systems: the system's CA bundle, handed to Mbed TLS for the handshake.
// Windows: the system's chain engine (CryptoAPI) judges the chain the server sent, after the
// handshake, so that roots Windows fetches on demand and an enterprise's own roots count.
#pragma once

#include <mbedtls/x509_crt.h>

#include <string>

#include "nts/certificate_window.h"
#include "platform/win_types.h"

namespace nts {

enum class SystemRoots {
    kLoaded,       // roots holds the system's CA certificates
    kChainEngine,  // nothing loaded: SystemTrustsChain decides after the handshake
    kMissing,      // no CA bundle found
};

// POSIX: $SSL_CERT_FILE when set (as OpenSSL reads it), otherwise the first CA bundle found
// where the common systems keep it.
SystemRoots LoadSystemRoots(mbedtls_x509_crt* roots);

#ifdef _WIN32
// Whether Windows trusts chain (leaf first, then what else the server sent) for a TLS server
// named host: the chain must be free of any trust error, not only pass the SSL policy, and
// for a host name the policy must find it in the certificate (Wine's policy matches no
// address entries: for an address literal the caller's own match decides). Fetching what
// the chain lacks may take at most timeoutMs. A chain outside its validity period at the
// local clock, and nothing else wrong, passes when judge is kAgreed (outsideLocalClock).
// *window: the built chain's window and what SystemTrustsChainAt needs. false with *error.
bool SystemTrustsChain(const mbedtls_x509_crt* chain, const std::string& host, bool hostIsAddress,
                       DWORD timeoutMs, CertificateTime judge, CertificateWindow* window,
                       std::string* error);
#endif

}  // namespace nts
