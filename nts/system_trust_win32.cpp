// The chain engine's fields for a retrieval time-out are declared only on request.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <windows.h>
// After windows.h:
#include <wincrypt.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "nts/system_trust.h"

namespace nts {
namespace {

// wininet.h's name for the policy's "do not compare the name" check.
constexpr DWORD kIgnoreNameCheck = 0x00001000;  // SECURITY_FLAG_IGNORE_CERT_CN_INVALID
constexpr DWORD kIgnoreDateCheck = 0x00002000;  // SECURITY_FLAG_IGNORE_CERT_DATE_INVALID
// A chain outside its validity period at the time judged, and nothing else wrong.
constexpr DWORD kTimeErrors = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED;
constexpr std::int64_t kFileTimeUnixEpoch = 11644473600;  // seconds from 1601 to 1970
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;

struct StoreCloser {
    void operator()(void* store) const { ::CertCloseStore(store, 0); }
};
struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const {
        ::CertFreeCertificateContext(certificate);
    }
};
struct ChainFreer {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const { ::CertFreeCertificateChain(chain); }
};

// A chain for a TLS server's certificate; the usage list lives as long as the parameters.
struct ServerAuthChainPara {
    explicit ServerAuthChainPara(DWORD urlRetrievalTimeoutMs) {
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        para.dwUrlRetrievalTimeout = urlRetrievalTimeoutMs;
    }
    ServerAuthChainPara(const ServerAuthChainPara&) = delete;
    ServerAuthChainPara& operator=(const ServerAuthChainPara&) = delete;

    LPSTR usages[1] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
};

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::int64_t UnixTimeOf(const FILETIME& t) {
    const std::uint64_t units =
        (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<std::int64_t>(units / kFileTimeUnitsPerSecond) - kFileTimeUnixEpoch;
}

FILETIME FileTimeOf(std::int64_t unixTime) {
    const auto units =
        static_cast<std::uint64_t>(unixTime + kFileTimeUnixEpoch) * kFileTimeUnitsPerSecond;
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(units);
    t.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return t;
}

// The certificates the server sent, for the engine to build the chain from (the roots are
// the system's own), and the leaf among them.
bool SentStore(const CertificateWindow& window, std::unique_ptr<void, StoreCloser>* sent,
               std::unique_ptr<const CERT_CONTEXT, CertificateFreer>* leaf, std::string* error) {
    sent->reset(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!*sent) {
        *error = "cannot open a certificate store (" + std::to_string(::GetLastError()) + ")";
        return false;
    }
    for (const std::vector<std::uint8_t>& der : window.engineChain) {
        PCCERT_CONTEXT added = nullptr;
        if (!::CertAddEncodedCertificateToStore(sent->get(), X509_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size()),
                                                CERT_STORE_ADD_ALWAYS, *leaf ? nullptr : &added)) {
            *error = "Windows cannot read the server's certificate (" + Hex(::GetLastError()) + ")";
            return false;
        }
        if (!*leaf) {
            leaf->reset(added);
        }
    }
    if (!*leaf) {
        *error = "the server sent no certificate";
        return false;
    }
    return true;
}

// The window of the chain the engine built, its root included.
void TakeWindow(const CERT_CHAIN_CONTEXT* built, CertificateWindow* window) {
    window->read = false;
    window->outsideLocalClock = false;
    if (built->cChain == 0) {
        return;
    }
    const CERT_SIMPLE_CHAIN* simple = built->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement; ++i) {
        const CERT_INFO* info = simple->rgpElement[i]->pCertContext->pCertInfo;
        window->Narrow(UnixTimeOf(info->NotBefore), UnixTimeOf(info->NotAfter));
    }
}

}  // namespace

SystemRoots LoadSystemRoots(mbedtls_x509_crt*) {
    return SystemRoots::kChainEngine;
}

bool SystemTrustsChain(const mbedtls_x509_crt* chain, const std::string& host, bool hostIsAddress,
                       DWORD timeoutMs, CertificateTime judge, CertificateWindow* window,
                       std::string* error) {
    window->engineChain.clear();
    for (const mbedtls_x509_crt* c = chain; c != nullptr && c->raw.p != nullptr; c = c->next) {
        window->engineChain.emplace_back(c->raw.p, c->raw.p + c->raw.len);
    }
    window->host = host;
    window->hostIsAddress = hostIsAddress;
    std::unique_ptr<void, StoreCloser> sent;
    std::unique_ptr<const CERT_CONTEXT, CertificateFreer> leaf;
    if (!SentStore(*window, &sent, &leaf, error)) {
        return false;
    }

    ServerAuthChainPara chainPara(timeoutMs);
    PCCERT_CHAIN_CONTEXT built = nullptr;
    // Judged at the local clock here; with the agreed time judging, a chain that fails on
    // validity alone is judged again at that time (SystemTrustsChainAt).
    if (!::CertGetCertificateChain(nullptr, leaf.get(), nullptr, sent.get(), &chainPara.para, 0,
                                   nullptr, &built)) {
        *error = "Windows cannot build the certificate chain (" + Hex(::GetLastError()) + ")";
        return false;
    }
    const std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer> owned(built);
    TakeWindow(built, window);
    const DWORD chainErrors = built->TrustStatus.dwErrorStatus;
    const bool timeOnly = (chainErrors & ~kTimeErrors) == 0 && chainErrors != 0;
    if (timeOnly) {
        window->outsideLocalClock = true;
        if (judge == CertificateTime::kLocal) {
            *error = LocalClockOutsideText(*window, LocalUnixTime());
            return false;
        }
    }
    // The policy alone is not enough: Wine's passes a chain whose root nobody trusts.
    if (chainErrors != CERT_TRUST_NO_ERROR && !timeOnly) {
        *error = "certificate not trusted by Windows (chain status " +
                 Hex(built->TrustStatus.dwErrorStatus) + ")";
        return false;
    }

    std::wstring wideHost(host.begin(), host.end());  // a host name or literal is ASCII
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = (hostIsAddress ? kIgnoreNameCheck : 0) | (timeOnly ? kIgnoreDateCheck : 0);
    ssl.pwszServerName = wideHost.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, built, &policy, &status)) {
        *error = "Windows cannot check the certificate (" + Hex(::GetLastError()) + ")";
        return false;
    }
    if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
        *error = "certificate does not name " + host;
        return false;
    }
    if (status.dwError != 0) {
        *error = "certificate not trusted by Windows (" + Hex(status.dwError) + ")";
        return false;
    }
    return true;
}

}  // namespace nts

namespace nts {

bool SystemTrustsChainAt(const CertificateWindow& window, std::int64_t unixTime,
                         std::string* error) {
    std::unique_ptr<void, StoreCloser> sent;
    std::unique_ptr<const CERT_CONTEXT, CertificateFreer> leaf;
    if (!SentStore(window, &sent, &leaf, error)) {
        return false;
    }
    ServerAuthChainPara chainPara(0);
    FILETIME at = FileTimeOf(unixTime);
    PCCERT_CHAIN_CONTEXT built = nullptr;
    // What the chain needed was fetched at the key exchange: nothing is fetched again.
    if (!::CertGetCertificateChain(nullptr, leaf.get(), &at, sent.get(), &chainPara.para,
                                   CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &built)) {
        *error = "Windows cannot build the certificate chain (" + Hex(::GetLastError()) + ")";
        return false;
    }
    const std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer> owned(built);
    if (built->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
        *error = "certificate not trusted by Windows at " + UtcMinuteText(unixTime) +
                 " (chain status " + Hex(built->TrustStatus.dwErrorStatus) + ")";
        return false;
    }
    return true;
}

}  // namespace nts
