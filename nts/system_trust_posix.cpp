#include <cstdlib>

#include "nts/system_trust.h"

namespace nts {
namespace {

// Debian and Ubuntu; Fedora and RHEL; openSUSE; RHEL's extracted bundle; Alpine and BSDs.
const char* const kBundles[] = {
    "/etc/ssl/certs/ca-certificates.crt",
    "/etc/pki/tls/certs/ca-bundle.crt",
    "/etc/ssl/ca-bundle.pem",
    "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",
    "/etc/ssl/cert.pem",
};

// A bundle counts when at least one certificate in it could be read; a few that Mbed TLS
// cannot read do not spoil the others.
bool LoadBundle(const char* path, mbedtls_x509_crt* roots) {
    const int rc = mbedtls_x509_crt_parse_file(roots, path);
    return rc >= 0 && roots->raw.p != nullptr;
}

}  // namespace

SystemRoots LoadSystemRoots(mbedtls_x509_crt* roots) {
    // Nothing in this program changes its environment.
    const char* chosen = std::getenv("SSL_CERT_FILE");  // NOLINT(concurrency-mt-unsafe)
    if (chosen != nullptr && *chosen != '\0') {
        return LoadBundle(chosen, roots) ? SystemRoots::kLoaded : SystemRoots::kMissing;
    }
    for (const char* path : kBundles) {
        if (LoadBundle(path, roots)) {
            return SystemRoots::kLoaded;
        }
    }
    return SystemRoots::kMissing;
}

}  // namespace nts
