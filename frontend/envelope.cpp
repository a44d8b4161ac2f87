#include "frontend/envelope.hpp"

#include <cstring>

#include "dump/walker.hpp"

namespace {

// What stands for the byte in an attribute value, or nullptr for the byte itself.
const char* replacement_for(std::uint8_t byte) {
    switch (byte) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    default:
        return byte < 0x20 ? "?" : nullptr;
    }
}

}  // namespace

EscapedName escaped_name(std::span<const std::uint8_t, 8> name) {
    EscapedName text{};
    char* end = text.data();
    for (const std::uint8_t byte : name) {
        if (byte == 0) break;
        if (const char* replacement = replacement_for(byte)) {
            const std::size_t length = std::strlen(replacement);
            std::memcpy(end, replacement, length);
            end += length;
        } else {
            *end++ = static_cast<char>(byte);
        }
    }
    *end = '\0';
    return text;
}

void write_envelope_start(std::FILE* out, std::span<const std::uint8_t, header_size> header) {
    const unsigned class_byte = header[0];
    const std::uint32_t subclass = read_le(header.subspan<1, 3>());
    std::fputs("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n", out);
    std::fprintf(out, "<object class=\"%02X\" subclass=\"%06X\" name=\"%s\">\n", class_byte,
                 static_cast<unsigned>(subclass), escaped_name(header.subspan<4, 8>()).data());
}

void write_envelope_end(std::FILE* out) { std::fputs("</object>\n", out); }
