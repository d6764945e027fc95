# Mbed TLS as imported targets MbedTLS::mbedcrypto, MbedTLS::mbedx509 and MbedTLS::mbedtls,
# from the static build that scripts/install-mbedtls leaves in its cache (outside the clone)
# and scripts/build names with -DQUILLON_MBEDTLS_ROOT. QUILLON_MBEDTLS_LICENSE is its
# licence text, which the Windows package ships.
set(QUILLON_MBEDTLS_ROOT "" CACHE PATH "Mbed TLS build (scripts/install-mbedtls --prefix TARGET)")

set(_mbedtls_version_header "${QUILLON_MBEDTLS_ROOT}/include/mbedtls/build_info.h")
if(NOT QUILLON_MBEDTLS_ROOT OR NOT EXISTS "${_mbedtls_version_header}")
  message(FATAL_ERROR "No Mbed TLS build at QUILLON_MBEDTLS_ROOT='${QUILLON_MBEDTLS_ROOT}'. "
                      "scripts/build passes it; by hand: "
                      "-DQUILLON_MBEDTLS_ROOT=$(scripts/install-mbedtls --prefix native|windows)")
endif()

# 3.6.4 is the first whose keying-material exporter works with TLS 1.3.
file(STRINGS "${_mbedtls_version_header}" _mbedtls_version_line
     REGEX "^#define MBEDTLS_VERSION_STRING +\"[0-9.]+\"")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" QUILLON_MBEDTLS_VERSION "${_mbedtls_version_line}")
if(NOT QUILLON_MBEDTLS_VERSION OR QUILLON_MBEDTLS_VERSION VERSION_LESS 3.6.4)
  message(FATAL_ERROR "Mbed TLS at ${QUILLON_MBEDTLS_ROOT} is '${QUILLON_MBEDTLS_VERSION}'; "
                      "3.6.4 or later is needed")
endif()
set(QUILLON_MBEDTLS_LICENSE "${QUILLON_MBEDTLS_ROOT}/LICENSE")

# Built with MBEDTLS_THREADING_PTHREAD (winpthreads under mingw-w64).
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

function(_quillon_import_mbedtls name)
  add_library(MbedTLS::${name} STATIC IMPORTED GLOBAL)
  set_target_properties(MbedTLS::${name} PROPERTIES
    IMPORTED_LOCATION "${QUILLON_MBEDTLS_ROOT}/lib/lib${name}.a"
    INTERFACE_INCLUDE_DIRECTORIES "${QUILLON_MBEDTLS_ROOT}/include"
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()

if(WIN32)
  # The entropy source is BCryptGenRandom; the library's own socket layer needs Winsock 2,
  # and so does the certificate check of address entries (inet_pton).
  _quillon_import_mbedtls(mbedcrypto Threads::Threads bcrypt)
  _quillon_import_mbedtls(mbedx509 MbedTLS::mbedcrypto ws2_32)
  _quillon_import_mbedtls(mbedtls MbedTLS::mbedx509 ws2_32)
else()
  _quillon_import_mbedtls(mbedcrypto Threads::Threads)
  _quillon_import_mbedtls(mbedx509 MbedTLS::mbedcrypto)
  _quillon_import_mbedtls(mbedtls MbedTLS::mbedx509)
endif()
message(STATUS "Mbed TLS ${QUILLON_MBEDTLS_VERSION}: ${QUILLON_MBEDTLS_ROOT}")
