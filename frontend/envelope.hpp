// The XML declaration and the object element built from the object header.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

inline constexpr std::size_t header_size = 16;

// Bits 0-6 of the class byte are the class; bit 7 is not part of it.
constexpr int class_of(std::uint8_t class_byte) { return class_byte & 0x7F; }

// Room for the 8 name bytes, each at its longest escaped ("&quot;").
using EscapedName = std::array<char, 8 * 6 + 1>;

// The header's name, up to its first zero byte or its 8th byte, made safe
// for an attribute value: markup characters become references and control
// bytes become "?". Bytes from 0x80 stay, as the declaration says ISO-8859-1.
EscapedName escaped_name(std::span<const std::uint8_t, 8> name);

// Writes the declaration and the opening line from the 16 header bytes.
void write_envelope_start(std::FILE* out, std::span<const std::uint8_t, header_size> header);

void write_envelope_end(std::FILE* out);
