#include "frontend/files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "frontend/fatal.hpp"

std::span<std::uint8_t> load_file(const char* path, FileIdentity& identity, bool missing_ok) {
    if (is_special_file(path)) fatal("Can't read %s: %s", path, "Not a regular file");
    std::FILE* in = std::fopen(path, "rb");
    if (!in && missing_ok && errno == ENOENT) return {};
    if (!in) fatal("Can't read %s: %s", path, std::strerror(errno));
    std::size_t size = 0;
    if (!file_facts(in, size, identity)) fatal("Can't stat %s: %s", path, std::strerror(errno));
    auto* data = static_cast<std::uint8_t*>(alloc_or_fail(size, "data"));
    prefer_large_pages(data, size);
    if (std::fread(data, 1, size, in) != size)
        fatal("Can't read %s: %s", path,
              std::ferror(in) ? std::strerror(errno) : "File ended before its reported size");
    if (std::fclose(in) != 0) fatal("Can't close %s: %s", path, std::strerror(errno));
    return {data, size};
}

namespace {

// A stream on the new file `fd` at `path`, readied for writing; where that
// fails, the file is closed and removed, keeping errno.
std::FILE* stream_on_new_file(int fd, const char* path, const char* lender, bool text) {
    std::FILE* file = fd >= 0 && prepare_descriptor(fd, lender, text) ? fdopen(fd, text ? "w" : "wb") : nullptr;
    if (!file && fd >= 0) {
        const int error = errno;
        close(fd);
        remove_file(path);
        errno = error;
    }
    return file;
}

}  // namespace

std::FILE* create_new_file(const char* path) {
    return stream_on_new_file(open(path, O_WRONLY | O_CREAT | O_EXCL, 0666), path, nullptr, true);
}

Output open_output(const char* path, const char* label, bool text) {
    Output output{path, static_cast<char*>(alloc_or_fail(temporary_path_size(path), label)), nullptr};
    output.stream =
        stream_on_new_file(create_temporary(path, output.temporary_path), output.temporary_path, path, text);
    if (!output.stream) fatal("Can't write %s: %s", path, std::strerror(errno));
    return output;
}

bool close_whole(std::FILE* stream, bool sync) {
    errno = 0;
    bool whole = std::fflush(stream) == 0 && !std::ferror(stream) && (!sync || sync_to_disk(stream));
    const int error = errno ? errno : EIO;  // a write that failed earlier may have left no errno behind
    if (std::fclose(stream) != 0 && whole) return false;
    errno = error;
    return whole;
}

void commit_output(const Output& output, bool replaces_input) {
    const bool whole = close_whole(output.stream, replaces_input) && replace_file(output.temporary_path, output.path);
    if (!whole) {
        const int error = errno;
        remove_file(output.temporary_path);
        fatal("Can't write %s: %s", output.path, std::strerror(error));
    }
}
