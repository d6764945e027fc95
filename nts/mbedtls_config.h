// The Mbed TLS configuration Quillon builds the library with (scripts/install-mbedtls puts it
// in place of the library's own include/mbedtls/mbedtls_config.h, so the library and every
// program compiled against its installed headers see the same one). It holds what the NTS
// key exchange and AES-SIV need and nothing else: a TLS 1.3 client (no TLS 1.2, no server,
// no session resumption), ECDHE on X25519, P-256 and P-384, the signatures of today's public
// certificates (ECDSA, RSA PKCS#1 v1.5 and RSA-PSS), AES-GCM and ChaCha20-Poly1305, X.509
// chains from PEM bundles, AES-CTR and CMAC, and the PSA random generator, thread-safe.
// nts/mbedtls_features.h checks the parts the code calls.
#pragma once

// This is the configuration of Quillon's own build (mbedtls_features.h refuses any other).
#define QUILLON_MBEDTLS_CONFIG 1

// System and platform.
#define MBEDTLS_HAVE_ASM
#define MBEDTLS_HAVE_TIME       // certificate validity
#define MBEDTLS_HAVE_TIME_DATE  // ditto
#define MBEDTLS_PLATFORM_C
#define MBEDTLS_FS_IO  // --ca FILE and the system bundle
// The key exchanges run in threads that share the PSA key store.
#define MBEDTLS_THREADING_C
#define MBEDTLS_THREADING_PTHREAD  // winpthreads under mingw-w64

// TLS 1.3 client: the key exchange (RFC 8915, section 4).
#define MBEDTLS_SSL_TLS_C
#define MBEDTLS_SSL_CLI_C
#define MBEDTLS_SSL_PROTO_TLS1_3
#define MBEDTLS_SSL_TLS1_3_KEY_EXCHANGE_MODE_EPHEMERAL_ENABLED
#define MBEDTLS_SSL_TLS1_3_COMPATIBILITY_MODE  // middleboxes expect TLS 1.2-looking hellos
#define MBEDTLS_SSL_KEEP_PEER_CERTIFICATE      // TLS 1.3 needs it; the name check reads it
#define MBEDTLS_SSL_ALPN                       // ntske/1
#define MBEDTLS_SSL_SERVER_NAME_INDICATION
#define MBEDTLS_SSL_KEYING_MATERIAL_EXPORT  // the NTS keys
#define MBEDTLS_HKDF_C                      // TLS 1.3's key schedule

// Record protection: the three TLS 1.3 suites without CCM.
#define MBEDTLS_AES_C
#define MBEDTLS_AESNI_C
#define MBEDTLS_GCM_C
#define MBEDTLS_CHACHA20_C
#define MBEDTLS_POLY1305_C
#define MBEDTLS_CHACHAPOLY_C
#define MBEDTLS_CIPHER_C

// AEAD_AES_SIV_CMAC_256 for the NTS extension fields (nts/aes_siv.cpp).
#define MBEDTLS_CIPHER_MODE_CTR
#define MBEDTLS_CMAC_C

// Hashes: SHA-256 and SHA-384 for the suites and signatures; SHA-1 and SHA-512 only because
// roots in the system bundles are signed with them (their signatures are never checked, but
// a certificate whose algorithm is unknown cannot be read).
#define MBEDTLS_MD_C
#define MBEDTLS_SHA1_C
#define MBEDTLS_SHA256_C
#define MBEDTLS_SHA384_C
#define MBEDTLS_SHA512_C
// The rolled-up loops: half the code, and the few kilobytes a key exchange hashes cost no more
// than a few microseconds either way.
#define MBEDTLS_SHA256_SMALLER
#define MBEDTLS_SHA512_SMALLER

// Key agreement and signatures.
#define MBEDTLS_BIGNUM_C
#define MBEDTLS_ECP_C
#define MBEDTLS_ECP_NIST_OPTIM
#define MBEDTLS_ECP_DP_SECP256R1_ENABLED
#define MBEDTLS_ECP_DP_SECP384R1_ENABLED
#define MBEDTLS_ECP_DP_CURVE25519_ENABLED
#define MBEDTLS_ECDH_C
#define MBEDTLS_ECDSA_C
#define MBEDTLS_RSA_C
#define MBEDTLS_PKCS1_V15
#define MBEDTLS_PKCS1_V21  // RSA-PSS: TLS 1.3 signs with it
#define MBEDTLS_X509_RSASSA_PSS_SUPPORT
#define MBEDTLS_PK_C
#define MBEDTLS_PK_PARSE_C

// Certificates.
#define MBEDTLS_ASN1_PARSE_C
#define MBEDTLS_ASN1_WRITE_C  // ECDSA signatures
#define MBEDTLS_OID_C
#define MBEDTLS_BASE64_C
#define MBEDTLS_PEM_PARSE_C
#define MBEDTLS_X509_USE_C
#define MBEDTLS_X509_CRT_PARSE_C

// The random generator behind PSA and TLS.
#define MBEDTLS_PSA_CRYPTO_C
#define MBEDTLS_PSA_KEY_STORE_DYNAMIC
#define MBEDTLS_ENTROPY_C
#define MBEDTLS_CTR_DRBG_C

// Reasons in words, and the version the program reports.
#define MBEDTLS_ERROR_C
#define MBEDTLS_VERSION_C
