// The one way the program fails, and the one way it obtains memory.
#pragma once

#include <cstddef>

#include "platform/platform.hpp"

// Prints the message and a key prompt on standard error, waits for a key
// and ends the process with status 1.
[[noreturn]] PRINTF_LIKE(1, 2) void fatal(const char* format, ...);

// A block of `size` bytes, or a fatal report naming `label`.
void* alloc_or_fail(std::size_t size, const char* label);

// Returns `block`, or reports that `size` bytes for `label` could not be had.
void* check_alloc(void* block, std::size_t size, const char* label);
