#include "nts/aes_siv.h"

#include <mbedtls/aes.h>
#include <mbedtls/cipher.h>
#include <mbedtls/cmac.h>
#include <mbedtls/platform_util.h>
// The one Mbed TLS header without C++ linkage guards.
extern "C" {
#include <mbedtls/constant_time.h>
}

#include <array>
#include <cstring>
#include <limits>

#include "nts/mbedtls_features.h"

#if !defined(MBEDTLS_CIPHER_MODE_CTR)
#error "Mbed TLS lacks AES-CTR (MBEDTLS_CIPHER_MODE_CTR)"
#endif

namespace nts {
namespace {

constexpr std::size_t kBlockSize = 16;
constexpr std::size_t kHalfKey = kAesSivKeySize / 2;
using Block = std::array<std::uint8_t, kBlockSize>;

// Wipes a block of key-dependent bytes when it goes out of scope.
class SecretBlock {
public:
    SecretBlock() : bytes_{} {}
    ~SecretBlock() { mbedtls_platform_zeroize(bytes_.data(), bytes_.size()); }
    SecretBlock(const SecretBlock&) = delete;
    SecretBlock& operator=(const SecretBlock&) = delete;

    Block& operator*() { return bytes_; }
    Block* operator->() { return &bytes_; }

private:
    Block bytes_;
};

// dbl() of RFC 5297: doubling in GF(2^128), reducing by x^128 + x^7 + x^2 + x + 1. The
// reduction is a mask, not a branch, so the time taken does not depend on the key.
void Double(Block* block) {
    Block& b = *block;
    const auto reduce = static_cast<std::uint8_t>(0x87 & -(b[0] >> 7));
    for (std::size_t i = 0; i + 1 < kBlockSize; ++i) {
        b[i] = static_cast<std::uint8_t>((b[i] << 1) | (b[i + 1] >> 7));
    }
    b[kBlockSize - 1] = static_cast<std::uint8_t>((b[kBlockSize - 1] << 1) ^ reduce);
}

void XorInto(Block* target, const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        (*target)[i] ^= bytes[i];
    }
}

// AES-128-CMAC under one key, taken again for each string of S2V.
class Cmac {
public:
    Cmac() { mbedtls_cipher_init(&context_); }
    ~Cmac() { mbedtls_cipher_free(&context_); }
    Cmac(const Cmac&) = delete;
    Cmac& operator=(const Cmac&) = delete;

    bool Start(const std::uint8_t* key) {
        const mbedtls_cipher_info_t* info =
            mbedtls_cipher_info_from_type(MBEDTLS_CIPHER_AES_128_ECB);
        return info != nullptr && mbedtls_cipher_setup(&context_, info) == 0 &&
               mbedtls_cipher_cmac_starts(&context_, key, kHalfKey * 8) == 0;
    }
    bool Update(const std::uint8_t* data, std::size_t size) {
        return size == 0 || mbedtls_cipher_cmac_update(&context_, data, size) == 0;
    }
    // Ends this MAC; the next Update starts another under the same key.
    bool Finish(Block* mac) {
        return mbedtls_cipher_cmac_finish(&context_, mac->data()) == 0 &&
               mbedtls_cipher_cmac_reset(&context_) == 0;
    }
    bool Of(const std::uint8_t* data, std::size_t size, Block* mac) {
        return Update(data, size) && Finish(mac);
    }

private:
    mbedtls_cipher_context_t context_;
};

class Aes {
public:
    Aes() { mbedtls_aes_init(&context_); }
    ~Aes() { mbedtls_aes_free(&context_); }
    Aes(const Aes&) = delete;
    Aes& operator=(const Aes&) = delete;

    mbedtls_aes_context* get() { return &context_; }

private:
    mbedtls_aes_context context_;
};

// S2V(K1, associated..., plain): the synthetic IV, which is also the tag.
bool S2v(const std::uint8_t* macKey, const std::vector<ByteSpan>& associated,
         const std::uint8_t* plain, std::size_t size, Block* iv) {
    static const Block kZero{};
    Cmac cmac;
    SecretBlock d;
    SecretBlock mac;
    if (!cmac.Start(macKey) || !cmac.Of(kZero.data(), kZero.size(), &*d)) {
        return false;
    }
    for (const ByteSpan& component : associated) {
        if (!cmac.Of(component.data, component.size, &*mac)) {
            return false;
        }
        Double(&*d);
        XorInto(&*d, mac->data(), kBlockSize);
    }
    SecretBlock last;
    if (size >= kBlockSize) {
        // plain xorend D: D goes into the last block.
        std::memcpy(last->data(), plain + size - kBlockSize, kBlockSize);
        XorInto(&*last, d->data(), kBlockSize);
        return cmac.Update(plain, size - kBlockSize) && cmac.Of(last->data(), kBlockSize, iv);
    }
    // dbl(D) xor pad(plain): the short plaintext padded with 10*.
    *last = *d;
    Double(&*last);
    XorInto(&*last, plain, size);
    (*last)[size] ^= 0x80;
    return cmac.Of(last->data(), kBlockSize, iv);
}

// AES-CTR under K2 from the IV with bits 63 and 31 cleared (so that implementations may
// count with 32-bit additions); out may be in.
bool Ctr(const std::uint8_t* cipherKey, const Block& iv, const std::uint8_t* in, std::size_t size,
         std::uint8_t* out) {
    if (size == 0) {
        return true;
    }
    SecretBlock counter;
    *counter = iv;
    (*counter)[8] &= 0x7F;
    (*counter)[12] &= 0x7F;
    SecretBlock stream;
    std::size_t offset = 0;
    Aes aes;
    return mbedtls_aes_setkey_enc(aes.get(), cipherKey, kHalfKey * 8) == 0 &&
           mbedtls_aes_crypt_ctr(aes.get(), size, &offset, counter->data(), stream->data(), in,
                                 out) == 0;
}

bool ValidArguments(const std::uint8_t* key, const std::vector<ByteSpan>& associated,
                    const std::uint8_t* bytes, std::size_t size, const void* result) {
    if (key == nullptr || result == nullptr || (size > 0 && bytes == nullptr) ||
        associated.size() > kAesSivMaxAssociated) {
        return false;
    }
    for (const ByteSpan& component : associated) {
        if (component.size > 0 && component.data == nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool AesSivSeal(const std::uint8_t key[32], const std::vector<ByteSpan>& associated,
                const std::uint8_t* plain, std::size_t size, std::vector<std::uint8_t>* sealed) {
    if (!ValidArguments(key, associated, plain, size, sealed) ||
        size > std::numeric_limits<std::size_t>::max() - kAesSivTagSize) {
        return false;
    }
    Block iv;
    if (!S2v(key, associated, plain, size, &iv)) {
        return false;
    }
    std::vector<std::uint8_t> out(kAesSivTagSize + size);
    std::memcpy(out.data(), iv.data(), kAesSivTagSize);
    if (!Ctr(key + kHalfKey, iv, plain, size, out.data() + kAesSivTagSize)) {
        return false;
    }
    *sealed = std::move(out);
    return true;
}

bool AesSivOpen(const std::uint8_t key[32], const std::vector<ByteSpan>& associated,
                const std::uint8_t* sealed, std::size_t size, std::vector<std::uint8_t>* plain) {
    if (plain != nullptr) {
        plain->clear();
    }
    if (!ValidArguments(key, associated, sealed, size, plain) || size < kAesSivTagSize) {
        return false;
    }
    Block iv;
    std::memcpy(iv.data(), sealed, kAesSivTagSize);
    std::vector<std::uint8_t> opened(size - kAesSivTagSize);
    Block expected;
    const bool authentic =
        Ctr(key + kHalfKey, iv, sealed + kAesSivTagSize, opened.size(), opened.data()) &&
        S2v(key, associated, opened.data(), opened.size(), &expected) &&
        mbedtls_ct_memcmp(expected.data(), iv.data(), kAesSivTagSize) == 0;
    if (!authentic) {
        mbedtls_platform_zeroize(opened.data(), opened.size());
        return false;
    }
    *plain = std::move(opened);
    return true;
}

}  // namespace nts
