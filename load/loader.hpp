// The loader: the walker's mirror, which reads a record's element lines
// back into its bytes, guided only by a field-description table.
#pragma once

#include <cstdint>
#include <span>

#include "dump/field_desc.hpp"
#include "load/xml_reader.hpp"

// Reads the element lines of the structure whose bytes are `bytes` (which
// end where the data ends) and writes their values into the bytes; returns
// the structure's layout span. A line that may be left out and is not there
// is 0; bits past a bitmask's names and bytes no row describes are kept.
std::int32_t load_fields(Reader& reader, std::span<std::uint8_t> bytes, const FieldDesc* table);

// Reads the end tag of `element`, after any blank text and comments.
void load_end_tag(Reader& reader, const char* element);
