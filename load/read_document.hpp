// The whole document read back into the bytes of one object file.
#pragma once

#include <cstdint>
#include <span>

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
