#include "nts/ca_file.h"

#include <mbedtls/x509_crt.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace nts {
namespace {

class CertificateChain {
public:
    CertificateChain() { mbedtls_x509_crt_init(&m_chain); }
    ~CertificateChain() { mbedtls_x509_crt_free(&m_chain); }
    CertificateChain(const CertificateChain&) = delete;
    CertificateChain& operator=(const CertificateChain&) = delete;
    mbedtls_x509_crt* Get() { return &m_chain; }

private:
    mbedtls_x509_crt m_chain;
};

}  // namespace

std::string CaFileProblem(const std::string& path) {
    const std::string named = "--ca " + path + ": ";
    // Opened first for the system's reason: Mbed TLS says only that it could not read it.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        const int error = errno;
        return named + "cannot be read (" +
               (error == ENOENT   ? std::string("no such file")
                : error == EACCES ? std::string("permission denied")
                                  : "errno " + std::to_string(error)) +
               ")";
    }
    std::fclose(file);
    CertificateChain chain;
    const int rc = mbedtls_x509_crt_parse_file(chain.Get(), path.c_str());
    if (rc < 0 || chain.Get()->raw.p == nullptr) {
        return named + "holds no certificate (give PEM certificates)";
    }
    if (rc > 0) {
        return named + "a certificate in it cannot be read";
    }
    return "";
}

}  // namespace nts
