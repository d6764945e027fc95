// NTPv4 extension fields (RFC 7822): a 16-bit type, a 16-bit length counting the 4-byte
// header and the body, and the body padded with zeros to a multiple of 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nts/byte_span.h"

namespace nts {

constexpr std::size_t kFieldHeaderSize = 4;

struct ExtensionField {
    std::uint16_t type = 0;
    std::size_t start = 0;  // offset of its header in the bytes read
    ByteSpan body;          // padding included: the length says nothing finer
};

// Reads the field at *offset of bytes[0, size) and moves *offset past it. False when the
// bytes from *offset on do not hold a whole field: a header, then a length that is a
// multiple of 4, at least the header's and within size.
bool ReadExtensionField(const std::uint8_t* bytes, std::size_t size, std::size_t* offset,
                        ExtensionField* field);

// Appends a field whose body is body (zeros when body.data is null), padded to a multiple
// of 4. False when it would not fit the 16-bit length.
bool AppendExtensionField(std::uint16_t type, ByteSpan body, std::vector<std::uint8_t>* out);

}  // namespace nts
