#include "platform/file.hpp"

#include <sys/stat.h>
#include <cerrno>
#include <limits>
#include <tuple>

namespace {

bool store_size(std::uintmax_t bytes, std::size_t& size) {
    // Only where size_t is narrower than file sizes (32-bit Windows): no 64-bit test reaches it.
    if (bytes > std::numeric_limits<std::size_t>::max()) {  // GCOVR_EXCL_LINE
        errno = EOVERFLOW;                                  // GCOVR_EXCL_LINE
        return false;                                       // GCOVR_EXCL_LINE
    }
    size = static_cast<std::size_t>(bytes);
    return true;
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
    return std::tie(a.volume, a.index) == std::tie(b.volume, b.index);
}

}  // namespace

#if defined(_WIN32)

#include <io.h>
#include <stdio.h>
#include <windows.h>

const char* const text_write_mode = "wt";
const char* const path_separators = "/\\:";

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
    return store_size(static_cast<std::uintmax_t>(status.st_size), size);
}

bool names_file(const char* path, const FileIdentity& identity) {
    // No access asked for: only the file's facts are read, whatever its permissions.
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FileIdentity named{};
    const bool known = identity_of_handle(handle, named);
    CloseHandle(handle);
    // A file whose identity cannot be read might be the input: take it for it.
    return !known || same_file(named, identity);
}

#else

const char* const text_write_mode = "w";  // POSIX streams have no text mode; "\n" stays as it is
const char* const path_separators = "/";

bool file_facts(std::FILE* file, std::size_t& size, FileIdentity& identity) {
    struct stat status {};
    if (fstat(fileno(file), &status) != 0) return false;
    identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return store_size(static_cast<std::uintmax_t>(status.st_size), size);
}

bool names_file(const char* path, const FileIdentity& identity) {
    struct stat status {};
    if (stat(path, &status) != 0) return false;
    return same_file({static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)}, identity);
}

#endif
