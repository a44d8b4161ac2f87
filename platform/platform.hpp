// What Windows and POSIX do differently: the console, the facts of an open
// file, paths, and replacing a file whole. platform/posix.cpp and
// platform/windows.cpp each implement all of it for their system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Checks a printf-style function's arguments against its format.
#if defined(__MINGW32__)
// MinGW-w64's standard formatting (with %zu), which the Windows builds select.
#define PRINTF_LIKE(format_index, first_arg) [[gnu::format(gnu_printf, format_index, first_arg)]]
#elif defined(__GNUC__)
#define PRINTF_LIKE(format_index, first_arg) [[gnu::format(printf, format_index, first_arg)]]
#else
#define PRINTF_LIKE(format_index, first_arg)
#endif

// The console.

// Readies the process at its start: opens the null device on any standard
// descriptor that is closed, so that no file the program opens takes its
// place (and a message its contents), and lets a write past a file size
// limit fail, to be reported, instead of ending the process.
void prepare_process();

// Writes a finished message on standard error. A Windows console is given
// it as UTF-16, converted from the active code page, so that a path shows as
// it was typed; anywhere else its bytes are written as they are.
void write_error_text(const char* text);

// Waits for one key press on the console, read without echo, and only where
// a person can see the prompt and answer it: standard input and standard
// error are the console (on POSIX, the same terminal, the process's
// controlling one, in whose foreground the process runs). Anywhere else (a
// file, a pipe, NUL, a background job) it reads nothing and returns at
// once, so scripts never stall and their input is left as it was. The whole
// key is consumed. A signal that ends the process during the wait leaves
// the terminal as it found it.
void wait_for_key();

// Files.

// What tells one file from another: its volume and its number on it.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
};

inline bool operator==(const FileIdentity& one, const FileIdentity& other) {
    return one.volume == other.volume && one.index == other.index;
}

// The size and identity of the open file, or false with errno set. A size
// that does not fit in memory's size type fails with EOVERFLOW.
bool file_facts(std::FILE* file, std::size_t& size, FileIdentity& identity);

// Asks for large pages behind a block of at least 2 MiB where the system has
// them: a file read into fresh memory then costs a page fault per 2 MiB, not
// one per 4 KiB.
void prefer_large_pages(void* block, std::size_t size);

// True when `path` names the file of `identity` now, through links included.
bool names_file(const char* path, const FileIdentity& identity);

// True for a pipe, a device or a socket at `path`: they have no size to
// read by, and opening a pipe without a writer waits for one.
bool is_special_file(const char* path);

// Paths.

// The characters that end a folder's or a drive's part of a path.
extern const char* const path_separators;

// Where the last component of `path` starts: after its last separator.
inline const char* last_component(const char* path, const char* separators = path_separators) {
    const char* component = path;
    for (const char* c = path; *c; ++c)
        if (std::strchr(separators, *c)) component = c + 1;
    return component;
}

// Replacing a file: the new contents are written to a temporary file beside
// it and moved to its path only when whole, so that a failed or interrupted
// run never leaves a partial file where a whole one stood, and never writes
// through a link at that path.

// The size of the block that create_temporary writes the name into.
std::size_t temporary_path_size(const char* path);

// Creates a new temporary file in the folder of `path` and writes its name,
// with letters from the system's random source, to `temporary_path`. It is
// hidden: on POSIX by its name; on Windows by its attribute, from its
// creation until replace_file renames it, and its path is never longer than
// `path`. Its descriptor, or -1 with errno set.
int create_temporary(const char* path, char* temporary_path);

// Readies the new file's descriptor for writing: text or binary mode (where
// the two differ) and, where `lender` is given, what the regular file at
// that path has (owner, group, permission bits and ACL, where the system has
// them), so that no one gains access. Without `lender` it keeps what a new
// file gets. False with errno set.
bool prepare_descriptor(int fd, const char* lender, bool text);

// Makes what was written to the flushed stream reach the disk.
bool sync_to_disk(std::FILE* file);

// Renames `temporary_path` over `path`, replacing whatever stood there (a
// link itself, not its target); on Windows it clears the file's hidden
// attribute just before. False with errno set on failure.
bool replace_file(const char* temporary_path, const char* path);

// Removes the file at `path`, one that create_temporary made included.
void remove_file(const char* path);
