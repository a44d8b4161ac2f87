#include "frontend/convert.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "frontend/document.hpp"
#include "frontend/fatal.hpp"
#include "frontend/output_path.hpp"
#include "platform/file.hpp"
#include "platform/memory.hpp"

namespace {

// Reads the whole file into a block of its own and closes it.
std::span<const std::uint8_t> load_file(const char* path) {
    std::FILE* in = std::fopen(path, "rb");
    if (!in) fatal("Can't read %s: %s", path, std::strerror(errno));
    std::size_t size = 0;
    if (!file_size(in, size)) fatal("Can't stat %s: %s", path, std::strerror(errno));
    auto* data = static_cast<std::uint8_t*>(alloc_or_fail(size, "data"));
    advise_filled_whole(data, size);
    if (std::fread(data, 1, size, in) != size)
        fatal("Can't read %s: %s", path,
              std::ferror(in) ? std::strerror(errno) : "File ended before its reported size");
    if (std::fclose(in) != 0) fatal("Can't close %s: %s", path, std::strerror(errno));
    return {data, size};
}

// A document that did not reach the disk whole is a failure, not a success.
void close_output(std::FILE* out, const char* path) {
    errno = 0;
    const bool flushed = std::fflush(out) == 0 && !std::ferror(out);
    // A write that failed earlier may have left no errno behind by now.
    const int flush_error = errno ? errno : EIO;
    if (std::fclose(out) != 0 || !flushed)
        fatal("Can't write %s: %s", path, std::strerror(flushed ? errno : flush_error));
}

}  // namespace

int convert_object(int argc, char** argv) {
    if (argc < 2) fatal("Give filename as parameter");
    const char* input_path = argv[1];
    const std::span<const std::uint8_t> data = load_file(input_path);
    check_length(input_path, data);

    const char* output_path = output_path_for(input_path, path_separators);
    std::FILE* out = std::fopen(output_path, text_write_mode);
    if (!out) fatal("Can't write %s: %s", output_path, std::strerror(errno));
    write_document(out, data);
    close_output(out, output_path);
    return 0;
}
