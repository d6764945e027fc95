#include "nts/wipe.h"

#include <mbedtls/platform_util.h>

#include <algorithm>

#include "nts/nts_fields.h"

namespace nts {

NtsKeys::~NtsKeys() {
    mbedtls_platform_zeroize(this, sizeof *this);
}

void WipeBytes(std::vector<std::uint8_t>* bytes) {
    bytes->resize(bytes->capacity());
    mbedtls_platform_zeroize(bytes->data(), bytes->size());
    bytes->clear();
}

void AppendWiping(std::vector<std::uint8_t>* bytes, const std::uint8_t* data, std::size_t size) {
    if (bytes->size() + size > bytes->capacity()) {
        std::vector<std::uint8_t> larger;
        larger.reserve(std::max(bytes->size() + size, 2 * bytes->capacity()));
        larger.assign(bytes->begin(), bytes->end());
        WipeBytes(bytes);
        bytes->swap(larger);
    }
    bytes->insert(bytes->end(), data, data + size);
}

}  // namespace nts
