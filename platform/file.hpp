// File facts that differ between Windows' run-time and POSIX.
#pragma once

#include <cstddef>
#include <cstdio>

// The size of the open file, or false with errno set. A size that does not
// fit in memory's size type fails with EOVERFLOW.
bool file_size(std::FILE* file, std::size_t& size);

// fopen mode of the output document: text mode, so that "\n" becomes the
// platform's line ending.
extern const char* const text_write_mode;

// The characters that end a directory or drive part of a path.
extern const char* const path_separators;
