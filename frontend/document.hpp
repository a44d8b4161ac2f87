// The whole document of one object file held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "dump/field_desc.hpp"

// How many bytes the file needs: the header, and for a class the program
// converts, the layout span of its payload as well.
std::size_t required_length(std::span<const std::uint8_t> data);

// Refuses, naming `path`, a file too short for what is read from it.
void check_length(const char* path, std::span<const std::uint8_t> data);

// The payload table of the object's class, or nullptr for a class the
// program does not convert.
const FieldDesc* payload_table(std::uint8_t class_byte);

// True for the class bytes of the classes the program converts.
bool converts_class(std::uint8_t class_byte);

// Writes the declaration, the object element and the payload's element
// lines. `data` holds at least required_length(data) bytes. For a class the
// program cannot convert it stops after the opening line and returns false.
bool write_document(std::FILE* out, std::span<const std::uint8_t> data);
