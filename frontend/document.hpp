// The document of one object file: where it is written, its envelope (the
// declaration and the object element built from the header) and its lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "dump/field_desc.hpp"
#include "dump/layouts/payloads.hpp"
#include "platform/platform.hpp"

// True for the class bytes of the classes the program converts.
inline bool converts_class(std::uint8_t class_byte) { return payload_table(class_byte) != nullptr; }

// How many bytes the file needs: the header, and for a class the program
// converts, the layout span of its payload as well.
std::size_t required_length(std::span<const std::uint8_t> data);

// Refuses, naming `path`, a file too short for what is read from it.
void check_length(const char* path, std::span<const std::uint8_t> data);

// `path` with the extension of its last component replaced by `extension`
// (".xml"), or `extension` appended when that component has no dot, in a
// block for `label`. `separators` end a folder's or a drive's part.
char* replace_extension(const char* path, const char* extension, const char* label,
                        const char* separators = path_separators);

// Room for the 8 name bytes, each at its longest escaped ("&quot;").
using EscapedName = std::array<char, 8 * 6 + 1>;

// The header's name, up to its first zero byte or its 8th byte, made safe
// for an attribute value: markup characters become references and control
// bytes become "?". Bytes from 0x80 stay, as the declaration says ISO-8859-1.
EscapedName escaped_name(std::span<const std::uint8_t, 8> name);

// Writes the declaration and the opening line from the 16 header bytes.
void write_envelope_start(std::FILE* out, std::span<const std::uint8_t, header_size> header);

void write_envelope_end(std::FILE* out);

// Writes the declaration, the object element and the payload's element
// lines. `data` holds at least required_length(data) bytes. For a class the
// program cannot convert it stops after the opening line and returns false.
bool write_document(std::FILE* out, std::span<const std::uint8_t> data);
