// The record walker: turns the bytes of one structure into XML element
// lines, guided only by a field-description table.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

#include "dump/field_desc.hpp"

// A name, "[", an index of up to 10 digits, "]" and the terminator.
using ElementName = std::array<char, max_name_length + 13>;

// The name attribute of an element: the row's name, or "field_%X" after its
// offset for a row without one, then "[%d]" for an element of an array.
ElementName element_name(const FieldDesc& row, std::int32_t index);

// The name attribute of bit `index`: its name, or "bit%d" for a bit without one.
ElementName bit_name(const char* const* bitnames, int index);

// Writes the element lines of the structure whose bytes are `bytes` (which
// end where the data ends) at `depth`; returns the structure's layout span.
std::int32_t dump_fields(std::FILE* out, std::span<const std::uint8_t> bytes, const FieldDesc* table, int depth);

// Writes the bit lines of a `size`-byte bitmask at `depth`; returns `size`.
int dump_bits(std::FILE* out, std::span<const std::uint8_t> bytes, const char* const* bitnames, int size, int depth);
