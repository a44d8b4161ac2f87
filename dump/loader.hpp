// The loader: the walker's counterpart, which reads element lines back
// into a structure's bytes, guided only by a field-description table.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "dump/field_desc.hpp"
#include "dump/xml_reader.hpp"

// Reads the element lines of the structure whose bytes are `bytes` (which
// end where the data ends) at `depth`, from reader.event on, and writes
// their values into the bytes. An absent unknown line or unnamed bit is 0;
// bits past a bitmask's list of names and bytes no row describes are left
// as they are. On success reader.event is the first event after the lines;
// otherwise reader.error says what was expected where.
bool load_fields(XmlReader& reader, std::span<std::uint8_t> bytes, const FieldDesc* table, int depth);

// Passes over whitespace, then reads the end tag of `element`, which the
// reader has matched with its start tag; false, with a fault, on anything else.
bool load_end_tag(XmlReader& reader, const char* element);

// How an event reads in a message: "<bit name=\"x\">", "text \"12\"" and so on.
std::string event_text(const XmlEvent& event);
