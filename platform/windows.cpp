// The platform layer on Windows' own run-time (msvcrt), built with MinGW-w64.
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it needs.
#include <ntsecapi.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <limits>

#include "platform/platform.hpp"

// The console.

void prepare_process() {}

void write_error_text(const char* text) {
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    const int length = static_cast<int>(std::strlen(text));
    // A character takes at most one UTF-16 unit per byte.
    auto* wide = GetConsoleMode(console, &mode) && length > 0
                     ? static_cast<wchar_t*>(std::malloc(static_cast<std::size_t>(length) * sizeof(wchar_t)))
                     : nullptr;
    const int units = wide ? MultiByteToWideChar(CP_ACP, 0, text, length, wide, length) : 0;
    DWORD written = 0;
    std::fflush(stderr);
    // Redirected, or without memory: the bytes as they are.
    if (units <= 0 || !WriteConsoleW(console, wide, static_cast<DWORD>(units), &written, nullptr))
        std::fputs(text, stderr);
    std::free(wide);
}

void wait_for_key() {
    // _getch reads the console even when standard input is redirected, and
    // _isatty is true for NUL: only a console handle has a mode. The prompt
    // must be on the console too, or no one sees it.
    DWORD mode = 0;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!GetConsoleMode(input, &mode) || !GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) return;
    const int key = _getch();
    if (key == 0 || key == 0xE0) (void)_getch();  // a function or arrow key comes as two codes
    FlushConsoleInputBuffer(input);               // and nothing typed with it is left for the shell
}

// Files.

namespace {

// Windows numbers no file in its status: the volume serial number and the
// file index are what tell files apart.
bool identity_of_handle(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) return false;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    return true;
}

}  // namespace

bool file_facts(std::FILE* file, std::size_t& size, FileIdentity& identity) {
    struct _stat64 status {};
    if (_fstat64(_fileno(file), &status) != 0) return false;
    if (!identity_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), identity)) {
        errno = EIO;
        return false;
    }
    // A 32-bit program cannot hold a file past 4 GiB in memory.
    if (static_cast<std::uint64_t>(status.st_size) > std::numeric_limits<std::size_t>::max()) {
        errno = EOVERFLOW;
        return false;
    }
    size = static_cast<std::size_t>(status.st_size);
    return true;
}

bool names_file(const char* path, const FileIdentity& identity) {
    // No access asked for: only the file's facts are read, whatever its permissions.
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FileIdentity named{};
    const bool known = identity_of_handle(handle, named);
    CloseHandle(handle);
    // The input's identity was read: a file whose identity cannot be (a
    // device, NUL) is another one, and reading it reports what fails.
    return known && named == identity;
}

// Large pages need a privilege that users lack.
void prefer_large_pages(void*, std::size_t) {}

bool is_special_file(const char*) { return false; }  // devices answer as empty files, and never block

// Paths.

const char* const path_separators = "/\\:";

// Replacing a file.

namespace {

// The temporary file's name is the document's with its last six characters
// (UTF-16 units, as Windows counts a path) replaced by random letters, so
// that its path is never longer than the document's: "engine.xml" gives
// "engiAb12Cd". A name shorter than six characters gives six letters.
constexpr char random_part[] = "XXXXXX";
constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t random_letters = sizeof random_part - 1;

// How many bytes of the UTF-8 `name` to keep before the random letters.
std::size_t kept_name_length(const char* name) {
    std::size_t length = std::strlen(name);
    for (std::size_t units = 0; units < random_letters && length > 0;) {
        const auto lead = static_cast<unsigned char>(name[--length]);
        if ((lead & 0xC0) == 0x80) continue;  // a continuation byte: the character starts earlier
        units += lead >= 0xF0 ? 2 : 1;        // four bytes take a surrogate pair
    }
    return length;
}

void write_template(const char* path, char* temporary_path) {
    const char* name = last_component(path);
    const auto kept = static_cast<std::size_t>(name - path) + kept_name_length(name);
    std::memcpy(temporary_path, path, kept);
    std::memcpy(temporary_path + kept, random_part, sizeof random_part);
}

// The errno of a Windows error, for strerror.
int errno_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    default:
        return EIO;
    }
}

// `path` in UTF-16, in a block to free, or nullptr without memory. The
// wide calls take a path the narrow ones refuse as longer than 260
// characters: a temporary file's six letters can be longer than a short
// document name.
wchar_t* wide(const char* path) {
    const int units = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    auto* text =
        units > 0 ? static_cast<wchar_t*>(std::malloc(static_cast<std::size_t>(units) * sizeof(wchar_t))) : nullptr;
    if (text && MultiByteToWideChar(CP_ACP, 0, path, -1, text, units) != units) {
        std::free(text);
        text = nullptr;
    }
    return text;
}

// A folder or a read-only file at the path refuses for good; anything else
// that refuses access is being replaced by another process at this moment.
bool held_by_another(const char* path, DWORD error) {
    const DWORD attributes = GetFileAttributesA(path);
    const DWORD lasting = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
    return (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
           (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & lasting));
}

}  // namespace

std::size_t temporary_path_size(const char* path) { return std::strlen(path) + sizeof random_part; }

namespace {

// Writes random letters over the last six characters of `name` and of its
// UTF-16 twin `wide_name`. The letters come from the system's random source:
// msvcrt's rand() is never seeded, and would give each run the same names.
bool draw_letters(char* name, wchar_t* wide_name) {
    unsigned char draws[random_letters];
    if (!RtlGenRandom(draws, sizeof draws)) return false;
    char* at = name + std::strlen(name) - random_letters;
    wchar_t* wide_at = wide_name + std::wcslen(wide_name) - random_letters;
    for (std::size_t i = 0; i < random_letters; ++i) {
        at[i] = letters[draws[i] % (sizeof letters - 1)];
        wide_at[i] = static_cast<wchar_t>(at[i]);  // ASCII: one unit each
    }
    return true;
}

// Creates the new file hidden, so that it is out of sight from its first
// moment (and where a killed run leaves it), opened as mkstemp opened it:
// for reading and writing, shared for both, in binary mode.
int create_hidden(char* temporary_path, wchar_t* name) {
    constexpr int attempts = 100;  // where each name drawn is taken, something else is wrong
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!draw_letters(temporary_path, name)) {
            errno = EIO;
            return -1;
        }
        HANDLE handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
            if (fd == -1) {
                const int error = errno;
                CloseHandle(handle);
                DeleteFileW(name);
                errno = error;
            }
            return fd;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            errno = errno_of(error);
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

int create_temporary(const char* path, char* temporary_path) {
    write_template(path, temporary_path);
    wchar_t* name = wide(temporary_path);
    if (!name) {
        errno = ENOMEM;
        return -1;
    }
    const int fd = create_hidden(temporary_path, name);
    std::free(name);
    return fd;
}

// create_temporary opens in binary mode: in a text file "\n" must become CR LF.
bool prepare_descriptor(int fd, const char* /*lender: Windows gives a new file its folder's access*/, bool text) {
    return _setmode(fd, text ? _O_TEXT : _O_BINARY) != -1;
}

bool sync_to_disk(std::FILE* file) { return _commit(_fileno(file)) == 0; }

namespace {

bool move_over(const wchar_t* from, const wchar_t* to, const char* path) {
    constexpr int attempts_while_held = 20;  // about a second in all
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
        const DWORD error = GetLastError();
        if (attempt == attempts_while_held || !held_by_another(path, error)) {
            errno = errno_of(error);
            return false;
        }
        Sleep(static_cast<DWORD>(5 * attempt));
    }
}

// The temporary file shows again just before it is renamed, and not after:
// a kill between the two steps leaves a whole file in sight beside the
// path, never a hidden one at it, and the attribute is cleared on this run's
// own file, never on one another run has put at the path meanwhile.
bool unhide(const wchar_t* name) {
    const DWORD attributes = GetFileAttributesW(name);
    const DWORD kept = attributes & ~DWORD{FILE_ATTRIBUTE_HIDDEN};  // the archive bit stays, for backups
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (kept == attributes || SetFileAttributesW(name, kept ? kept : FILE_ATTRIBUTE_NORMAL)))
        return true;
    errno = errno_of(GetLastError());
    return false;
}

}  // namespace

bool replace_file(const char* temporary_path, const char* path) {
    wchar_t* from = wide(temporary_path);
    wchar_t* to = wide(path);
    errno = ENOMEM;
    const bool moved = from && to && unhide(from) && move_over(from, to, path);
    std::free(from);
    std::free(to);
    return moved;
}

void remove_file(const char* path) {
    wchar_t* name = wide(path);
    if (!name || !DeleteFileW(name)) std::remove(path);
    std::free(name);
}
