// File facts that differ between Windows' run-time and POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// What tells one file from another: its volume and its number on it.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
};

// The size and identity of the open file, or false with errno set. A size
// that does not fit in memory's size type fails with EOVERFLOW.
bool file_facts(std::FILE* file, std::size_t& size, FileIdentity& identity);

// True when `path` names the file of `identity` now, through links included.
bool names_file(const char* path, const FileIdentity& identity);

// fopen mode of the output document: text mode, so that "\n" becomes the
// platform's line ending.
extern const char* const text_write_mode;

// The characters that end a directory or drive part of a path.
extern const char* const path_separators;
