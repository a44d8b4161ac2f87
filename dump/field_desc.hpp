// The field-description table model: constant rows that tell the walker
// where each field of a record lies and what kind of field it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct FieldDesc {
    std::int32_t offset;          // from the start of the enclosing structure; -1 ends the table
    std::int32_t size;            // element length of value and bitmask rows, 1 to 4
    std::int32_t count;           // consecutive elements, at least 1
    const char* name;             // "" for a field without a name
    const FieldDesc* subtable;    // element layout of a structure row
    const char* const* bitnames;  // bit-name list of a bitmask row, closed by nullptr
};

inline constexpr FieldDesc end_of_table{-1, 0, 0, nullptr, nullptr, nullptr};

// Bit lists are read into a 32-bit value, and indent runs are this deep.
inline constexpr int max_bit_names = 32;
inline constexpr int max_depth = 10;
inline constexpr int max_name_length = 40;

// The field's bytes as an unsigned little-endian number; a field longer
// than 4 bytes keeps its first 4.
constexpr std::uint32_t read_le(std::span<const std::uint8_t> field) {
    std::uint32_t value = 0;
    for (std::size_t i = field.size(); i-- > 0;) value = value << 8 | field[i];
    return value;
}

// Stores `value` in the field's bytes, little-endian; bits past the
// field's length are dropped.
constexpr void write_le(std::span<std::uint8_t> field, std::uint32_t value) {
    for (std::uint8_t& byte : field) {
        byte = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

enum class RowKind { bitmask, structure, variable, unknown };

constexpr RowKind kind_of(const FieldDesc& row) {
    if (row.bitnames) return RowKind::bitmask;
    if (row.subtable) return RowKind::structure;
    return row.name[0] ? RowKind::variable : RowKind::unknown;
}

// The largest end, relative to the structure's first byte, that any row reaches.
constexpr std::int32_t layout_span(const FieldDesc* table) {
    std::int32_t span = 0;
    for (const FieldDesc* row = table; row->offset != -1; ++row) {
        const std::int32_t length = kind_of(*row) == RowKind::structure ? layout_span(row->subtable) : row->size;
        const std::int32_t end = row->offset + row->count * length;
        if (end > span) span = end;
    }
    return span;
}

constexpr int row_count(const FieldDesc* table) {
    int rows = 0;
    while (table[rows].offset != -1) ++rows;
    return rows;
}

constexpr int name_length(const char* name) {
    int length = 0;
    while (name[length]) ++length;
    return length;
}

constexpr int bit_name_count(const char* const* bitnames) {
    int names = 0;
    while (bitnames[names]) ++names;
    return names;
}

constexpr bool bit_names_are_valid(const char* const* bitnames) {
    if (bit_name_count(bitnames) > max_bit_names) return false;
    for (const char* const* bit = bitnames; *bit; ++bit)
        if (name_length(*bit) > max_name_length) return false;
    return true;
}

constexpr bool table_is_valid(const FieldDesc* table, int depth);

constexpr bool row_is_valid(const FieldDesc& row, int depth) {
    if (row.offset < 0 || row.count < 1) return false;
    if (row.name == nullptr || name_length(row.name) > max_name_length) return false;
    const bool value_size = row.size >= 1 && row.size <= 4;
    switch (kind_of(row)) {
    case RowKind::structure:
        return table_is_valid(row.subtable, depth + 1);
    case RowKind::bitmask:
        return value_size && depth + 1 <= max_depth && bit_names_are_valid(row.bitnames);
    case RowKind::variable:
    case RowKind::unknown:
        return value_size;
    }
    return false;
}

// True when every row of the table, and of the tables below it, is one the
// walker can interpret with its first line at `depth`: values and bitmasks
// 1 to 4 bytes long, at least one element, bit lists of at most 32 names,
// names of at most 40 characters, and no line deeper than the indent run.
constexpr bool table_is_valid(const FieldDesc* table, int depth) {
    if (depth < 1 || depth > max_depth) return false;
    for (const FieldDesc* row = table; row->offset != -1; ++row)
        if (!row_is_valid(*row, depth)) return false;
    return true;
}

// What the walker cannot write is refused: a value of 5 bytes, a row of no
// elements, a structure whose lines would lie past the indent run. Internal
// linkage, as the layouts': their addresses are constants under the sanitizers too.
namespace table_checks {
constexpr FieldDesc end_only[] = {end_of_table};
constexpr FieldDesc wide[] = {{0x0, 5, 1, "wide", nullptr, nullptr}, end_of_table};
constexpr FieldDesc empty[] = {{0x0, 1, 0, "none", nullptr, nullptr}, end_of_table};
constexpr FieldDesc nested[] = {{0x0, 0, 1, "deep", end_only, nullptr}, end_of_table};
static_assert(!table_is_valid(wide, 1) && !table_is_valid(empty, 1));
static_assert(table_is_valid(nested, 9) && !table_is_valid(nested, 10));
}  // namespace table_checks
