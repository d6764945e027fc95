// What NTS needs of the Mbed TLS build, checked when compiling instead of failing at run
// time: TLS 1.3 with ALPN and server names, the keying-material exporter (working with TLS
// 1.3 from 3.6.4 on), AES and CMAC for AEAD_AES_SIV_CMAC_256, and a PSA key store that the
// key exchanges' threads may share.
#pragma once

#include <mbedtls/build_info.h>

// Built with the project's configuration (nts/mbedtls_config.h): nothing of TLS 1.2 or the
// server side compiled in.
#if !defined(QUILLON_MBEDTLS_CONFIG) || defined(MBEDTLS_SSL_PROTO_TLS1_2) || \
    defined(MBEDTLS_SSL_SRV_C)
#error "Mbed TLS was not built with nts/mbedtls_config.h (scripts/install-mbedtls builds it)"
#endif
#if MBEDTLS_VERSION_NUMBER < 0x03060400
#error "Mbed TLS 3.6.4 or later is needed (its TLS 1.3 keying-material exporter)"
#endif
#if !defined(MBEDTLS_SSL_PROTO_TLS1_3) || !defined(MBEDTLS_SSL_CLI_C)
#error "Mbed TLS lacks the TLS 1.3 client (MBEDTLS_SSL_PROTO_TLS1_3, MBEDTLS_SSL_CLI_C)"
#endif
#if !defined(MBEDTLS_SSL_ALPN) || !defined(MBEDTLS_SSL_SERVER_NAME_INDICATION)
#error "Mbed TLS lacks ALPN or server names (MBEDTLS_SSL_ALPN, MBEDTLS_SSL_SERVER_NAME_INDICATION)"
#endif
#if !defined(MBEDTLS_SSL_KEYING_MATERIAL_EXPORT)
#error "Mbed TLS lacks the keying-material exporter (MBEDTLS_SSL_KEYING_MATERIAL_EXPORT)"
#endif
#if !defined(MBEDTLS_AES_C) || !defined(MBEDTLS_CMAC_C) || !defined(MBEDTLS_CIPHER_C)
#error "Mbed TLS lacks AES or CMAC (MBEDTLS_AES_C, MBEDTLS_CMAC_C, MBEDTLS_CIPHER_C)"
#endif
#if !defined(MBEDTLS_PSA_CRYPTO_C) || !defined(MBEDTLS_THREADING_C)
#error "Mbed TLS lacks a thread-safe PSA core (MBEDTLS_PSA_CRYPTO_C, MBEDTLS_THREADING_C)"
#endif
