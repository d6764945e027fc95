// A read-only view of bytes owned elsewhere (C++17 has no std::span).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nts {

struct ByteSpan {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

inline ByteSpan SpanOf(const std::vector<std::uint8_t>& bytes) {
    return ByteSpan{bytes.data(), bytes.size()};
}

}  // namespace nts
