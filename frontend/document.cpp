#include "frontend/document.hpp"

#include <cstring>

#include "dump/walker.hpp"
#include "frontend/fatal.hpp"
#include "platform/platform.hpp"

std::size_t required_length(std::span<const std::uint8_t> data) {
    if (data.size() < header_size) return header_size;
    const FieldDesc* table = payload_table(data[0]);
    return header_size + (table ? static_cast<std::size_t>(layout_span(table)) : 0);
}

void check_length(const char* path, std::span<const std::uint8_t> data) {
    const std::size_t needed = required_length(data);
    if (data.size() < needed) fatal("Can't convert %s: file has %zu bytes, needs %zu", path, data.size(), needed);
}

char* replace_extension(const char* path, const char* extension, const char* label, const char* separators) {
    const std::size_t length = std::strlen(path);
    const std::size_t extension_size = std::strlen(extension) + 1;
    auto* result = static_cast<char*>(alloc_or_fail(length + extension_size, label));
    std::memcpy(result, path, length + 1);
    // A dot in a folder's name is no extension: look only in the last component.
    char* end = std::strrchr(result + (last_component(path, separators) - path), '.');
    if (!end) end = result + length;
    std::memcpy(end, extension, extension_size);  // the block has room for it after the whole path
    return result;
}

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

bool write_document(std::FILE* out, std::span<const std::uint8_t> data) {
    write_envelope_start(out, data.first<header_size>());
    const FieldDesc* table = payload_table(data[0]);
    if (!table) return false;
    dump_fields(out, data.subspan(header_size), table, 1);
    write_envelope_end(out);
    return true;
}
