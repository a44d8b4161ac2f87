// What each element line of a record looks like, stated once for the walker
// that writes it and the loader that reads it back: its element word, its
// size attribute, its name, and whether it may be left out.
#pragma once

#include <array>
#include <cstdint>

#include "dump/field_desc.hpp"

// clang-format off
inline constexpr const char* element_words[] = {
    "bitmask",    // RowKind::bitmask
    "structure",  // RowKind::structure
    "variable",   // RowKind::variable
    "unknown",    // RowKind::unknown
};
// clang-format on
inline constexpr const char* bit_word = "bit";

constexpr const char* element_word(RowKind kind) { return element_words[static_cast<int>(kind)]; }

// A name, "[", an index of up to 10 digits, "]" and the terminator.
using ElementName = std::array<char, max_name_length + 13>;

// The name attribute of an element: the row's name, or "field_%X" after its
// offset for a row without one, then "[%d]" for an element of an array.
ElementName element_name(const FieldDesc& row, std::int32_t index);

// The name attribute of bit `index`: its name, or "bit%d" for a bit without one.
ElementName bit_name(const char* const* bitnames, int index);

// The size attribute: a bitmask's length in decimal, a value's in uppercase
// hex; empty for a structure, which has none.
using SizeText = std::array<char, 12>;
SizeText size_text(const FieldDesc& row);

// An unknown field that is 0 has no line, nor has an unnamed bit that is
// clear; read back, a line that is not there stands for 0.
constexpr bool line_left_out(RowKind kind, std::uint32_t value) { return kind == RowKind::unknown && value == 0; }
constexpr bool bit_line_left_out(const char* bitname, unsigned bit) { return !bitname[0] && bit == 0; }
