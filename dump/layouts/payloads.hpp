// Which table lays out an object's payload: the header's class byte says.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dump/field_desc.hpp"
#include "dump/layouts/class17.hpp"

inline constexpr std::size_t header_size = 16;

// Bits 0-6 of the class byte are the class; bit 7 is not part of it.
constexpr int class_of(std::uint8_t class_byte) { return class_byte & 0x7F; }

// The payload table of the class, or nullptr for a class the program does not convert.
constexpr const FieldDesc* payload_table(std::uint8_t class_byte) {
    return class_of(class_byte) == 0x17 ? class17_fields : nullptr;
}
