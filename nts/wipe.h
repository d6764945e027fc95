// Key material and cookies are overwritten where they are dropped, with
// mbedtls_platform_zeroize (a write the compiler cannot leave out as dead): a later bug that
// reads freed memory, or a crash dump, then finds no keys of a session. NtsKeys wipe
// themselves (nts/nts_fields.h); the holders of cookies call these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nts {

// The whole of bytes' storage, also what lies beyond its size; then empties it.
void WipeBytes(std::vector<std::uint8_t>* bytes);

// Appends size bytes to bytes; when the storage must grow, the old storage is wiped before
// it goes back, so no copy of what it held is left behind.
void AppendWiping(std::vector<std::uint8_t>* bytes, const std::uint8_t* data, std::size_t size);

// Each cookie of a vector or deque of them, then empties it.
template <typename Cookies>
void WipeCookies(Cookies* cookies) {
    for (std::vector<std::uint8_t>& cookie : *cookies) {
        WipeBytes(&cookie);
    }
    cookies->clear();
}

}  // namespace nts
