#include "cli/safe_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The length of the well-formed UTF-8 sequence at text[at] (no overlong forms, no
// surrogates, nothing above U+10FFFF) and its code point; 0 when there is none.
std::size_t Utf8Sequence(const std::string& text, std::size_t at, std::uint32_t* codePoint) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t value = 0;
    std::uint32_t lowest = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1Fu, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0Fu, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07u, lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        value = value << 6 | (byte(at + i) & 0x3Fu);
    }
    if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *codePoint = value;
    return length;
}

bool IsControl(std::uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

}  // namespace

std::string PrintableText(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t codePoint = 0;
        const std::size_t length = Utf8Sequence(text, at, &codePoint);
        if (length == 0 || IsControl(codePoint) || codePoint == '|') {
            out += '?';
            at += length == 0 ? 1 : length;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t codePoint = 0;
        std::size_t length = Utf8Sequence(text, at, &codePoint);
        if (length == 0) {
            codePoint = static_cast<unsigned char>(text[at]);  // not UTF-8: take it as Latin-1
            length = 1;
        } else if (!IsControl(codePoint) && codePoint != '"' && codePoint != '\\') {
            out.append(text, at, length);
            at += length;
            continue;
        }
        if (codePoint == '"' || codePoint == '\\') {
            out += '\\';
            out += static_cast<char>(codePoint);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(codePoint));
            out += escaped;
        }
        at += length;
    }
    return out + "\"";
}

std::string PlainDecimal(double value) {
    // The program never calls setlocale: printf's numbers always have a '.' here.
    char text[400];
    for (int digits = 0; digits <= 340; ++digits) {
        std::snprintf(text, sizeof text, "%.*f", digits, value);
        if (std::strtod(text, nullptr) == value) {
            break;
        }
    }
    return text;
}
