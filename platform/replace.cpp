#include "platform/replace.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/file.hpp"

namespace {

// Long enough to tell the temporary file's document at a glance, short
// enough that the name stays within the 255 bytes a file name may have.
constexpr std::size_t longest_name_kept = 200;
constexpr std::size_t random_letters = 6;
constexpr int attempts = 64;

// Where the last component of `path` starts.
std::size_t folder_length(const char* path) {
    std::size_t length = 0;
    for (std::size_t i = 0; path[i]; ++i)
        if (std::strchr(path_separators, path[i])) length = i + 1;
    return length;
}

// How much of `name` to keep: at most longest_name_kept bytes, never ending
// inside a UTF-8 sequence.
std::size_t kept_name_length(const char* name) {
    std::size_t length = std::strlen(name);
    if (length <= longest_name_kept) return length;
    length = longest_name_kept;
    // A UTF-8 sequence has at most three continuation bytes.
    while (length > longest_name_kept - 3 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    return length;
}

// "folder/.name." with room for the random letters; returns where they go.
char* write_temporary_stem(const char* path, char* temporary_path) {
    const std::size_t folder = folder_length(path);
    const std::size_t name = kept_name_length(path + folder);
    char* end = temporary_path;
    std::memcpy(end, path, folder);
    end += folder;
    *end++ = '.';
    std::memcpy(end, path + folder, name);
    end += name;
    *end++ = '.';
    return end;
}

// A different run of letters at every call, and in every process.
void write_random_letters(char* letters, std::uint64_t seed) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::uint64_t state = 0;
    state += seed + 0x9E3779B97F4A7C15U;
    std::uint64_t mixed =
        state ^ static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9U;  // splitmix64's finaliser
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBU;
    mixed ^= mixed >> 31;
    for (std::size_t i = 0; i < random_letters; ++i, mixed /= sizeof alphabet - 1)
        letters[i] = alphabet[mixed % (sizeof alphabet - 1)];
    letters[random_letters] = '\0';
}

}  // namespace

std::size_t temporary_path_size(const char* path) { return std::strlen(path) + 2 + random_letters + 1; }

#if defined(_WIN32)

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

namespace {

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

int process_number() { return _getpid(); }

int create_exclusively(const char* temporary_path, const char*) {
    return _open(temporary_path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT, _S_IREAD | _S_IWRITE);
}

std::FILE* stream_on(int fd) { return _fdopen(fd, "wt"); }

void discard(int fd, const char* temporary_path) {
    const int error = errno;
    _close(fd);
    std::remove(temporary_path);
    errno = error;
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

bool sync_to_disk(std::FILE* file) { return _commit(_fileno(file)) == 0; }

bool replace_file(const char* temporary_path, const char* path) {
    constexpr int attempts_while_held = 20;  // about a second in all
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExA(temporary_path, path, MOVEFILE_REPLACE_EXISTING)) return true;
        const DWORD error = GetLastError();
        if (attempt == attempts_while_held || !held_by_another(path, error)) {
            errno = errno_of(error);
            return false;
        }
        Sleep(static_cast<DWORD>(5 * attempt));
    }
}

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int process_number() { return getpid(); }

// Closes and removes a temporary file that cannot be used, keeping errno.
// GCOVR_EXCL_START: called only where a new file of our own refuses a mode or a stream
void discard(int fd, const char* temporary_path) {
    const int error = errno;
    close(fd);
    unlink(temporary_path);
    errno = error;
}
// GCOVR_EXCL_STOP

// Creates the new file with the permission bits of the document it
// replaces: the mode it is created with loses the umask's bits, the one set
// afterwards does not.
int create_exclusively(const char* temporary_path, const char* path) {
    struct stat existing {};
    const bool replaces_document = lstat(path, &existing) == 0 && S_ISREG(existing.st_mode);
    const int fd = open(temporary_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 || !replaces_document || fchmod(fd, existing.st_mode & 0777) == 0) return fd;
    discard(fd, temporary_path);  // GCOVR_EXCL_LINE: a new file of our own refuses no mode
    return -1;                    // GCOVR_EXCL_LINE
}

std::FILE* stream_on(int fd) { return fdopen(fd, text_write_mode); }

}  // namespace

bool sync_to_disk(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool replace_file(const char* temporary_path, const char* path) { return std::rename(temporary_path, path) == 0; }

#endif

std::FILE* open_temporary_beside(const char* path, char* temporary_path) {
    char* letters = write_temporary_stem(path, temporary_path);
    int fd = -1;
    int attempt = 0;
    do {  // another process may have taken the name: draw again
        write_random_letters(letters, static_cast<std::uint64_t>(process_number()));
        fd = create_exclusively(temporary_path, path);
    } while (fd < 0 && errno == EEXIST && ++attempt < attempts);
    if (fd < 0) return nullptr;
    std::FILE* file = stream_on(fd);
    if (!file) discard(fd, temporary_path);  // GCOVR_EXCL_LINE: only without memory for a stream
    return file;
}
