// Test helper (Windows build, run under Wine): adds a CA certificate to the current user's
// ROOT store or removes it again, so that the system-trust path of the key exchange can be
// tested with a test CA. Under Wine the store lives in the prefix's registry; the change is
// committed, or a removal would not stick.
//
// Usage: wine_root_store add|remove CERT.pem     exit status 0 when done
#include <windows.h>
// After windows.h:
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct StoreCloser {
    void operator()(void* store) const { ::CertCloseStore(store, 0); }
};
struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const {
        ::CertFreeCertificateContext(certificate);
    }
};

bool ReadDer(const char* path, std::vector<BYTE>* der) {
    std::ifstream file(path, std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() ||
        !::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        return false;
    }
    der->resize(size);
    return ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                  CRYPT_STRING_BASE64HEADER, der->data(), &size, nullptr,
                                  nullptr) != FALSE;
}

int Fail(const char* what) {
    std::fprintf(stderr, "wine_root_store: %s (%lu)\n", what,
                 static_cast<unsigned long>(::GetLastError()));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string action = argc == 3 ? argv[1] : "";
    if (action != "add" && action != "remove") {
        std::fprintf(stderr, "usage: wine_root_store add|remove CERT.pem\n");
        return 2;
    }
    std::vector<BYTE> der;
    if (!ReadDer(argv[2], &der)) {
        return Fail("cannot read the certificate");
    }
    const std::unique_ptr<void, StoreCloser> root(::CertOpenSystemStoreA(0, "ROOT"));
    if (!root) {
        return Fail("cannot open the ROOT store");
    }
    if (action == "add") {
        if (!::CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size()),
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            return Fail("cannot add the certificate");
        }
    } else {
        const std::unique_ptr<const CERT_CONTEXT, CertificateFreer> wanted(
            ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                           static_cast<DWORD>(der.size())));
        if (!wanted) {
            return Fail("cannot read the certificate");
        }
        // CertDeleteCertificateFromStore frees found, whether it succeeds or not.
        PCCERT_CONTEXT found = ::CertFindCertificateInStore(
            root.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted.get(), nullptr);
        if (found != nullptr && !::CertDeleteCertificateFromStore(found)) {
            return Fail("cannot remove the certificate");
        }
    }
    if (!::CertControlStore(root.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        return Fail("cannot commit the ROOT store");
    }
    return 0;
}
