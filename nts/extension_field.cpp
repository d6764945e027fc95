#include "nts/extension_field.h"

namespace nts {
namespace {

constexpr std::size_t kWord = 4;
constexpr std::size_t kMaxFieldLength = 0xFFFC;  // the largest multiple of 4 in 16 bits

std::uint16_t Read16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

void Append16(std::uint16_t value, std::vector<std::uint8_t>* out) {
    out->push_back(static_cast<std::uint8_t>(value >> 8));
    out->push_back(static_cast<std::uint8_t>(value));
}

}  // namespace

bool ReadExtensionField(const std::uint8_t* bytes, std::size_t size, std::size_t* offset,
                        ExtensionField* field) {
    const std::size_t at = *offset;
    if (at > size || size - at < kFieldHeaderSize) {
        return false;
    }
    const std::size_t length = Read16(bytes + at + 2);
    if (length < kFieldHeaderSize || length % kWord != 0 || length > size - at) {
        return false;
    }
    field->type = Read16(bytes + at);
    field->start = at;
    field->body = ByteSpan{bytes + at + kFieldHeaderSize, length - kFieldHeaderSize};
    *offset = at + length;
    return true;
}

bool AppendExtensionField(std::uint16_t type, ByteSpan body, std::vector<std::uint8_t>* out) {
    if (body.size > kMaxFieldLength - kFieldHeaderSize) {
        return false;
    }
    const std::size_t padded = (body.size + kWord - 1) / kWord * kWord;
    Append16(type, out);
    Append16(static_cast<std::uint16_t>(kFieldHeaderSize + padded), out);
    if (body.data != nullptr) {
        out->insert(out->end(), body.data, body.data + body.size);
    } else {
        out->insert(out->end(), body.size, 0);
    }
    out->insert(out->end(), padded - body.size, 0);
    return true;
}

}  // namespace nts
