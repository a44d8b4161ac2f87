#include "dump/walker.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

#include "frontend/fatal.hpp"

namespace {

const char* indent(int depth) {
    static constexpr char tabs[] = "\t\t\t\t\t\t\t\t\t\t";
    static_assert(sizeof tabs - 1 == max_depth);
    if (depth < 0) depth = 0;
    if (depth > max_depth) depth = max_depth;
    return tabs + (max_depth - depth);
}

// The `length` bytes at `position`, or a fatal report when the data ends first.
std::span<const std::uint8_t> field_bytes(std::span<const std::uint8_t> bytes, std::size_t position, std::size_t length,
                                          const FieldDesc& row, std::int32_t index) {
    if (position > bytes.size() || length > bytes.size() - position)
        fatal("Can't dump %s: needs %zu bytes, has %zu", element_name(row, index).data(), position + length,
              bytes.size());
    return bytes.subspan(position, length);
}

// Writes one element and returns its length. The name is made only for a
// line that is written: most unknown elements are zero and write none.
std::size_t dump_element(std::FILE* out, std::span<const std::uint8_t> bytes, std::size_t position,
                         const FieldDesc& row, std::int32_t index, int depth) {
    const auto size = static_cast<std::size_t>(row.size);
    switch (kind_of(row)) {
    case RowKind::bitmask: {
        const auto field = field_bytes(bytes, position, size, row, index);
        std::fprintf(out, "%s<bitmask name=\"%s\" size=\"%d\">\n", indent(depth), element_name(row, index).data(),
                     row.size);
        dump_bits(out, field, row.bitnames, row.size, depth + 1);
        std::fprintf(out, "%s</bitmask>\n", indent(depth));
        return size;
    }
    case RowKind::structure: {
        field_bytes(bytes, position, 0, row, index);  // the element must start inside the data
        const auto rest = bytes.subspan(position);
        std::fprintf(out, "%s<structure name=\"%s\">\n", indent(depth), element_name(row, index).data());
        const std::int32_t span = dump_fields(out, rest, row.subtable, depth + 1);
        std::fprintf(out, "%s</structure>\n", indent(depth));
        return static_cast<std::size_t>(span);
    }
    case RowKind::variable:
    case RowKind::unknown:
        break;
    }
    const auto value = static_cast<std::int32_t>(read_le(field_bytes(bytes, position, size, row, index)));
    if (kind_of(row) == RowKind::variable)
        std::fprintf(out, "%s<variable name=\"%s\" size=\"%X\">%d</variable>\n", indent(depth),
                     element_name(row, index).data(), static_cast<unsigned>(row.size), static_cast<int>(value));
    else if (value != 0)
        std::fprintf(out, "%s<unknown name=\"%s\" size=\"%X\">%d</unknown>\n", indent(depth),
                     element_name(row, index).data(), static_cast<unsigned>(row.size), static_cast<int>(value));
    return size;
}

}  // namespace

ElementName element_name(const FieldDesc& row, std::int32_t index) {
    std::array<char, max_name_length + 1> base{};
    ElementName name{};
    if (row.name[0])
        std::snprintf(base.data(), base.size(), "%s", row.name);
    else
        std::snprintf(base.data(), base.size(), "field_%X", static_cast<unsigned>(row.offset));
    if (row.count == 1) {
        std::snprintf(name.data(), name.size(), "%s", base.data());
        return name;
    }
    std::snprintf(name.data(), name.size(), "%s[%d]", base.data(), static_cast<int>(index));
    return name;
}

ElementName bit_name(const char* const* bitnames, int index) {
    ElementName label{};
    if (bitnames[index][0])
        std::snprintf(label.data(), label.size(), "%s", bitnames[index]);
    else
        std::snprintf(label.data(), label.size(), "bit%d", index);
    return label;
}

std::int32_t dump_fields(std::FILE* out, std::span<const std::uint8_t> bytes, const FieldDesc* table, int depth) {
    std::fflush(out);
    std::size_t span = 0;
    for (const FieldDesc* row = table; row->offset != -1; ++row) {
        auto position = static_cast<std::size_t>(row->offset);
        for (std::int32_t j = 0; j < row->count; ++j) position += dump_element(out, bytes, position, *row, j, depth);
        if (position > span) span = position;
    }
    return static_cast<std::int32_t>(span);
}

int dump_bits(std::FILE* out, std::span<const std::uint8_t> bytes, const char* const* bitnames, int size, int depth) {
    if (size > 4) fatal("Can't dump flags with %d bytes", size);
    // The walker hands over exactly `size` bytes; a shorter view is never read past.
    const std::uint32_t value = read_le(bytes.first(std::min(bytes.size(), static_cast<std::size_t>(size))));
    for (int i = 0; bitnames[i] && i < max_bit_names; ++i) {
        const unsigned bit = value >> i & 1U;
        if (!bitnames[i][0] && !bit) continue;
        std::fprintf(out, "%s<bit name=\"%s\">%d</bit>\n", indent(depth), bit_name(bitnames, i).data(),
                     static_cast<int>(bit));
    }
    return size;
}
