#include "frontend/envelope.hpp"

#include <cstring>

#include "dump/walker.hpp"

EscapedName escaped_name(std::span<const std::uint8_t, 8> name) {
    EscapedName text{};
    char* end = text.data();
    for (const std::uint8_t byte : name) {
        if (byte == 0) break;
        const char* replacement = byte == '&' ? "&amp;"
                                : byte == '<' ? "&lt;"
                                : byte == '>' ? "&gt;"
                                : byte == '"' ? "&quot;"
                                : byte < 0x20 ? "?"
                                              : nullptr;
        if (replacement) {
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
