#include "platform/file.hpp"

#include <sys/stat.h>
#include <cerrno>
#include <cstdint>
#include <limits>

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

}  // namespace

#if defined(_WIN32)

#include <stdio.h>

const char* const text_write_mode = "wt";
const char* const path_separators = "/\\:";

bool file_size(std::FILE* file, std::size_t& size) {
    struct _stat64 status {};
    return _fstat64(_fileno(file), &status) == 0 && store_size(static_cast<std::uintmax_t>(status.st_size), size);
}

#else

const char* const text_write_mode = "w";  // POSIX streams have no text mode; "\n" stays as it is
const char* const path_separators = "/";

bool file_size(std::FILE* file, std::size_t& size) {
    struct stat status {};
    return fstat(fileno(file), &status) == 0 && store_size(static_cast<std::uintmax_t>(status.st_size), size);
}

#endif
