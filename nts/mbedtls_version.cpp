#include "nts/mbedtls_version.h"

#include <mbedtls/version.h>

#include "nts/mbedtls_features.h"

#if !defined(MBEDTLS_VERSION_C)
#error "Mbed TLS was built without MBEDTLS_VERSION_C"
#endif

namespace nts {

std::string MbedTlsVersion() {
    // "x.y.z" and its terminator: 12 bytes even for 255.255.255.
    char text[16] = {};
    mbedtls_version_get_string(text);
    return text;
}

}  // namespace nts
