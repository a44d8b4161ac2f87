#include "frontend/document.hpp"

#include "dump/layouts/class17.hpp"
#include "dump/walker.hpp"
#include "frontend/envelope.hpp"
#include "frontend/fatal.hpp"

const FieldDesc* payload_table(std::uint8_t class_byte) {
    return class_of(class_byte) == 0x17 ? class17_fields : nullptr;
}

std::size_t required_length(std::span<const std::uint8_t> data) {
    if (data.size() < header_size) return header_size;
    const FieldDesc* table = payload_table(data[0]);
    return header_size + (table ? static_cast<std::size_t>(layout_span(table)) : 0);
}

void check_length(const char* path, std::span<const std::uint8_t> data) {
    const std::size_t needed = required_length(data);
    if (data.size() < needed) fatal("Can't convert %s: file has %zu bytes, needs %zu", path, data.size(), needed);
}

bool converts_class(std::uint8_t class_byte) { return payload_table(class_byte) != nullptr; }

bool write_document(std::FILE* out, std::span<const std::uint8_t> data) {
    write_envelope_start(out, data.first<header_size>());
    const FieldDesc* table = payload_table(data[0]);
    if (!table) return false;
    dump_fields(out, data.subspan(header_size), table, 1);
    write_envelope_end(out);
    return true;
}
