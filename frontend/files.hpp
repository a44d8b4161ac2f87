// Reading a file whole, and writing one beside its path to replace it whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "platform/platform.hpp"

// Reads the whole file into a block of its own, notes which file it was and
// closes it; a fatal report on failure. With `missing_ok`, a file that does
// not exist gives an empty span whose data() is nullptr.
std::span<std::uint8_t> load_file(const char* path, FileIdentity& identity, bool missing_ok = false);

// Creates a file at `path` and opens it for writing in text mode, only
// where nothing stands (not even a link); nullptr with errno set (EEXIST
// where something does) on failure.
std::FILE* create_new_file(const char* path);

// A file being written to a temporary file beside its path.
struct Output {
    const char* path;
    char* temporary_path;
    std::FILE* stream;
};

// Opens a new temporary file beside `path`, its name in a block for `label`,
// in text or binary mode, with what the file at `path` has (or what a new
// file gets); a fatal report on failure.
Output open_output(const char* path, const char* label, bool text);

// Flushes and closes the stream; false with errno set when anything
// written to it did not reach the file. With `sync`, the file reaches
// stable storage first.
bool close_whole(std::FILE* stream, bool sync);

// Moves the whole file to its path; anything else is a failure, reported,
// and what stood at the path stays. `replaces_input`: the file takes the
// place of its own input, which has no other copy, so it reaches stable
// storage first.
void commit_output(const Output& output, bool replaces_input);
