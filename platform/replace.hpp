// Writing a document beside its path and moving it there only when whole,
// so that a failed or interrupted conversion never leaves a partial document
// where a whole one stood, and never writes through a link at that path.
#pragma once

#include <cstddef>
#include <cstdio>

// Opens a new, hidden temporary file for writing in text mode in the folder
// of `path`, with the permission bits of the regular file at `path` or, for
// a new document, those a new file gets. Its name is written to
// `temporary_path`, a block of temporary_path_size(path) bytes. Returns
// nullptr with errno set on failure.
std::size_t temporary_path_size(const char* path);
std::FILE* open_temporary_beside(const char* path, char* temporary_path);

// Makes what was written to the flushed stream reach the disk.
bool sync_to_disk(std::FILE* file);

// Renames `temporary_path` over `path`, replacing whatever stood there (a
// link itself, not its target). False with errno set on failure.
bool replace_file(const char* temporary_path, const char* path);
