// AEAD_AES_SIV_CMAC_256 (RFC 5297), NTS's AEAD 15, on Mbed TLS's AES and CMAC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nts/byte_span.h"

namespace nts {

constexpr std::size_t kAesSivKeySize = 32;
constexpr std::size_t kAesSivTagSize = 16;
// S2V takes at most 127 strings: the plaintext and up to 126 associated-data components.
constexpr std::size_t kAesSivMaxAssociated = 126;

// key: 32 bytes = K1 (S2V/CMAC) || K2 (CTR). associated: the AD components in order; for
// NTS they are {packet bytes before the authenticator, nonce}. plain may be null when size
// is 0. *sealed gets the tag (16 bytes) followed by the ciphertext. False only when the
// arguments are out of range or the library fails.
bool AesSivSeal(const std::uint8_t key[32], const std::vector<ByteSpan>& associated,
                const std::uint8_t* plain, std::size_t size, std::vector<std::uint8_t>* sealed);

// The reverse: false when sealed is shorter than the tag or is not authentic under key and
// associated (then *plain is left empty, never holding unauthenticated bytes).
bool AesSivOpen(const std::uint8_t key[32], const std::vector<ByteSpan>& associated,
                const std::uint8_t* sealed, std::size_t size, std::vector<std::uint8_t>* plain);

}  // namespace nts
