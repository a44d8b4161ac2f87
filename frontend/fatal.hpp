// The one way the program fails, and the one way it obtains memory.
#pragma once

#include <cstddef>

#if defined(__MINGW32__)
// MinGW-w64's standard formatting (with %zu), which the Windows builds select.
#define PRINTF_LIKE(format_index, first_arg) [[gnu::format(gnu_printf, format_index, first_arg)]]
#elif defined(__GNUC__)
#define PRINTF_LIKE(format_index, first_arg) [[gnu::format(printf, format_index, first_arg)]]
#else
#define PRINTF_LIKE(format_index, first_arg)
#endif

// Prints the message and a key prompt on standard error, waits for a key
// and ends the process with status 1.
[[noreturn]] PRINTF_LIKE(1, 2) void fatal(const char* format, ...);

// A block of `size` bytes, or a fatal report naming `label`.
void* alloc_or_fail(std::size_t size, const char* label);

// Returns `block`, or reports that `size` bytes for `label` could not be had.
void* check_alloc(void* block, std::size_t size, const char* label);
