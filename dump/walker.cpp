#include "dump/walker.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

#include "frontend/fatal.hpp"

namespace {

const char* indent(int depth) {
    static constexpr char tabs[] = "\t\t\t\t\t\t\t\t\t\t";
    static_assert(sizeof tabs - 1 == max_depth);
    return tabs + (max_depth - std::clamp(depth, 0, max_depth));
}

// The `length` bytes at `position`, or a fatal report when the data ends first.
std::span<const std::uint8_t> field_bytes(std::span<const std::uint8_t> bytes, std::size_t position, std::size_t length,
                                          const FieldDesc& row, std::int32_t index) {
    if (position > bytes.size() || length > bytes.size() - position)
        fatal("Can't dump %s: needs %zu bytes, has %zu", element_name(row, index).data(), position + length,
              bytes.size());
    return bytes.subspan(position, length);
}

// Each writes one element at `position` and returns its length.

std::size_t dump_bitmask(std::FILE* out, std::span<const std::uint8_t> bytes, std::size_t position,
                         const FieldDesc& row, std::int32_t index, int depth) {
    const auto field = field_bytes(bytes, position, static_cast<std::size_t>(row.size), row, index);
    const char* word = element_word(RowKind::bitmask);
    std::fprintf(out, "%s<%s name=\"%s\" size=\"%s\">\n", indent(depth), word, element_name(row, index).data(),
                 size_text(row).data());
    dump_bits(out, field, row.bitnames, row.size, depth + 1);
    std::fprintf(out, "%s</%s>\n", indent(depth), word);
    return field.size();
}

std::size_t dump_structure(std::FILE* out, std::span<const std::uint8_t> bytes, std::size_t position,
                           const FieldDesc& row, std::int32_t index, int depth) {
    field_bytes(bytes, position, 0, row, index);  // the element must start inside the data
    const char* word = element_word(RowKind::structure);
    std::fprintf(out, "%s<%s name=\"%s\">\n", indent(depth), word, element_name(row, index).data());
    const std::int32_t span = dump_fields(out, bytes.subspan(position), row.subtable, depth + 1);
    std::fprintf(out, "%s</%s>\n", indent(depth), word);
    return static_cast<std::size_t>(span);
}

// A variable is always written; an unknown field only when it is not 0.
std::size_t dump_value(std::FILE* out, std::span<const std::uint8_t> bytes, std::size_t position, const FieldDesc& row,
                       std::int32_t index, int depth) {
    const auto field = field_bytes(bytes, position, static_cast<std::size_t>(row.size), row, index);
    const std::uint32_t value = read_le(field);
    const char* word = element_word(kind_of(row));
    if (!line_left_out(kind_of(row), value))  // "%d": only a 4-byte value can be negative
        std::fprintf(out, "%s<%s name=\"%s\" size=\"%s\">%d</%s>\n", indent(depth), word,
                     element_name(row, index).data(), size_text(row).data(), static_cast<std::int32_t>(value), word);
    return field.size();
}

std::size_t dump_element(std::FILE* out, std::span<const std::uint8_t> bytes, std::size_t position,
                         const FieldDesc& row, std::int32_t index, int depth) {
    switch (kind_of(row)) {
    case RowKind::bitmask:
        return dump_bitmask(out, bytes, position, row, index, depth);
    case RowKind::structure:
        return dump_structure(out, bytes, position, row, index, depth);
    case RowKind::variable:
    case RowKind::unknown:
        break;
    }
    return dump_value(out, bytes, position, row, index, depth);
}

}  // namespace

std::int32_t dump_fields(std::FILE* out, std::span<const std::uint8_t> bytes, const FieldDesc* table, int depth) {
    std::fflush(out);
    std::size_t span = 0;
    for (const FieldDesc* row = table; row->offset != -1; ++row) {
        auto position = static_cast<std::size_t>(row->offset);
        for (std::int32_t j = 0; j < row->count; ++j) position += dump_element(out, bytes, position, *row, j, depth);
        span = std::max(span, position);
    }
    return static_cast<std::int32_t>(span);
}

int dump_bits(std::FILE* out, std::span<const std::uint8_t> bytes, const char* const* bitnames, int size, int depth) {
    if (size > 4) fatal("Can't dump flags with %d bytes", size);
    // The walker hands over exactly `size` bytes; a shorter view is never read past.
    const std::uint32_t value = read_le(bytes.first(std::min(bytes.size(), static_cast<std::size_t>(size))));
    for (int i = 0; bitnames[i] && i < max_bit_names; ++i) {
        const unsigned bit = value >> i & 1U;
        if (bit_line_left_out(bitnames[i], bit)) continue;
        std::fprintf(out, "%s<%s name=\"%s\">%u</%s>\n", indent(depth), bit_word, bit_name(bitnames, i).data(), bit,
                     bit_word);
    }
    return size;
}
