// The loader: the walker's mirror, which reads a document's element lines
// back into the bytes of its object, guided only by the field-description
// tables.
#pragma once

#include <cstdint>
#include <span>

#include "dump/field_desc.hpp"
#include "load/xml_reader.hpp"

// Reads the declaration, the object element with the header, the payload's
// lines and the end of the document, and writes what they describe into
// `object`. `object` holds the base object's bytes when `has_base` (at least
// the header and its class's payload; every byte the document does not
// describe is kept), or zero bytes for a new object. While the name is the
// one the document shows for the base's name, the base's 8 name bytes stay
// as they are. A fault is thrown as a ReadError; the bytes of `object` are
// then partly written.
void read_document(std::span<const std::uint8_t> document, std::span<std::uint8_t> object, bool has_base);

// Reads the element lines of the structure whose bytes are `bytes` (which
// end where the data ends) and writes their values into the bytes; returns
// the structure's layout span. A line that may be left out and is not there
// is 0; bits past a bitmask's names and bytes no row describes are kept.
std::int32_t load_fields(Reader& reader, std::span<std::uint8_t> bytes, const FieldDesc* table);

// Reads the end tag of `element`, after any blank text and comments.
void load_end_tag(Reader& reader, const char* element);
