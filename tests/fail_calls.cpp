// Preloaded into the program to make one run-time call fail, so that the
// program's reports of failures that real files rarely produce can be
// tested: OBJ2XML_FAIL=fstat, fclose_input or fclose_output (the first or
// second stream closed), short_read (the first fread delivers one byte
// less, without error), create_temporary (the temporary file cannot be
// created, as in a folder that is not writable), create_new (a new file at
// its own path cannot be created), fchmod or fsync; fremovexattr fails with
// ENODATA, as where a file system reports an ACL already absent; and with
// fdopen_warns, fdopen writes a warning on standard error, as a library may,
// while the new file is open, then succeeds.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

bool failing(const char* call) {
    const char* wanted = std::getenv("OBJ2XML_FAIL");
    return wanted && std::strcmp(wanted, call) == 0;
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int closes = 0;
bool first_read = true;

}  // namespace

extern "C" {

int fstat(int fd, struct stat* status) {
    if (failing("fstat")) {
        errno = EIO;
        return -1;
    }
    return next<int (*)(int, struct stat*)>("fstat")(fd, status);
}

int fclose(std::FILE* stream) {
    const int result = next<int (*)(std::FILE*)>("fclose")(stream);
    ++closes;
    if ((failing("fclose_input") && closes == 1) || (failing("fclose_output") && closes == 2)) {
        errno = EIO;
        return EOF;
    }
    return result;
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const auto mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
    if ((flags & O_EXCL) && (failing("create_new") || failing("create_temporary"))) {
        errno = EACCES;
        return -1;
    }
    return next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int fchmod(int fd, mode_t mode) {
    if (failing("fchmod")) {
        errno = EIO;
        return -1;
    }
    return next<int (*)(int, mode_t)>("fchmod")(fd, mode);
}

std::FILE* fdopen(int fd, const char* mode) {
    if (failing("fdopen_warns")) {
        const ssize_t written = write(STDERR_FILENO, "warning\n", 8);
        (void)written;  // a warning that goes nowhere is no failure
    }
    return next<std::FILE* (*)(int, const char*)>("fdopen")(fd, mode);
}

int fsync(int fd) {
    if (failing("fsync")) {
        errno = EIO;
        return -1;
    }
    return next<int (*)(int)>("fsync")(fd);
}

int fremovexattr(int fd, const char* name) {
    if (failing("fremovexattr")) {
        errno = ENODATA;
        return -1;
    }
    return next<int (*)(int, const char*)>("fremovexattr")(fd, name);
}

std::size_t fread(void* buffer, std::size_t size, std::size_t count, std::FILE* stream) {
    const bool shorten = failing("short_read") && first_read && size == 1 && count > 0;
    first_read = false;
    return next<std::size_t (*)(void*, std::size_t, std::size_t, std::FILE*)>("fread")(buffer, size,
                                                                                     count - (shorten ? 1 : 0),
                                                                                     stream);
}

}  // extern "C"
