// The record walker: turns the bytes of one structure into XML element
// lines, guided only by a field-description table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "dump/field_desc.hpp"
#include "dump/line_shape.hpp"

// Writes the element lines of the structure whose bytes are `bytes` (which
// end where the data ends) at `depth`; returns the structure's layout span.
std::int32_t dump_fields(std::FILE* out, std::span<const std::uint8_t> bytes, const FieldDesc* table, int depth);

// Writes the bit lines of a `size`-byte bitmask at `depth`; returns `size`.
int dump_bits(std::FILE* out, std::span<const std::uint8_t> bytes, const char* const* bitnames, int size, int depth);
