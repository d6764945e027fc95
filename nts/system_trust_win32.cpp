// The chain engine's fields for a retrieval time-out are declared only on request.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <windows.h>
// After windows.h:
#include <wincrypt.h>

#include <cstdio>
#include <memory>

#include "nts/system_trust.h"

namespace nts {
namespace {

// wininet.h's name for the policy's "do not compare the name" check.
constexpr DWORD kIgnoreNameCheck = 0x00001000;  // SECURITY_FLAG_IGNORE_CERT_CN_INVALID

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

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

}  // namespace

SystemRoots LoadSystemRoots(mbedtls_x509_crt*) {
    return SystemRoots::kChainEngine;
}

bool SystemTrustsChain(const mbedtls_x509_crt* chain, const std::string& host, bool hostIsAddress,
                       DWORD timeoutMs, std::string* error) {
    // The certificates the server sent, for the engine to build the chain from; the roots
    // are the system's own.
    const std::unique_ptr<void, StoreCloser> sent(
        ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!sent) {
        *error = "cannot open a certificate store (" + std::to_string(::GetLastError()) + ")";
        return false;
    }
    std::unique_ptr<const CERT_CONTEXT, CertificateFreer> leaf;
    for (const mbedtls_x509_crt* c = chain; c != nullptr && c->raw.p != nullptr; c = c->next) {
        PCCERT_CONTEXT added = nullptr;
        if (!::CertAddEncodedCertificateToStore(sent.get(), X509_ASN_ENCODING, c->raw.p,
                                                static_cast<DWORD>(c->raw.len),
                                                CERT_STORE_ADD_ALWAYS, leaf ? nullptr : &added)) {
            *error = "Windows cannot read the server's certificate (" + Hex(::GetLastError()) + ")";
            return false;
        }
        if (!leaf) {
            leaf.reset(added);
        }
    }
    if (!leaf) {
        *error = "the server sent no certificate";
        return false;
    }

    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    para.dwUrlRetrievalTimeout = timeoutMs;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!::CertGetCertificateChain(nullptr, leaf.get(), nullptr, sent.get(), &para, 0, nullptr,
                                   &built)) {
        *error = "Windows cannot build the certificate chain (" + Hex(::GetLastError()) + ")";
        return false;
    }
    const std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer> owned(built);
    // The policy alone is not enough: Wine's passes a chain whose root nobody trusts.
    if (built->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
        *error = "certificate not trusted by Windows (chain status " +
                 Hex(built->TrustStatus.dwErrorStatus) + ")";
        return false;
    }

    std::wstring wideHost(host.begin(), host.end());  // a host name or literal is ASCII
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = hostIsAddress ? kIgnoreNameCheck : 0;
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
