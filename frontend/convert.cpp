#include "frontend/convert.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "frontend/document.hpp"
#include "frontend/fatal.hpp"
#include "platform/platform.hpp"

namespace {

// Reads the whole file into a block of its own, notes which file it was and closes it.
std::span<const std::uint8_t> load_file(const char* path, FileIdentity& identity) {
    std::FILE* in = std::fopen(path, "rb");
    if (!in) fatal("Can't read %s: %s", path, std::strerror(errno));
    std::size_t size = 0;
    if (!file_facts(in, size, identity)) fatal("Can't stat %s: %s", path, std::strerror(errno));
    auto* data = static_cast<std::uint8_t*>(alloc_or_fail(size, "data"));
    if (std::fread(data, 1, size, in) != size)
        fatal("Can't read %s: %s", path,
              std::ferror(in) ? std::strerror(errno) : "File ended before its reported size");
    if (std::fclose(in) != 0) fatal("Can't close %s: %s", path, std::strerror(errno));
    return {data, size};
}

// The document is written to a temporary file beside its path.
struct Output {
    const char* path;
    char* temporary_path;
    std::FILE* stream;
};

Output open_output(const char* path) {
    Output output{path, static_cast<char*>(alloc_or_fail(temporary_path_size(path), "xmlname")), nullptr};
    output.stream = open_temporary_beside(path, output.temporary_path);
    if (!output.stream) fatal("Can't write %s: %s", path, std::strerror(errno));
    return output;
}

// Flushes and closes the stream; false with errno set when anything
// written to it did not reach the file. A document that replaces its own
// input reaches stable storage first: the input has no other copy.
bool close_whole(std::FILE* stream, bool sync) {
    errno = 0;
    bool whole = std::fflush(stream) == 0 && !std::ferror(stream) && (!sync || sync_to_disk(stream));
    const int error = errno ? errno : EIO;  // a write that failed earlier may have left no errno behind
    if (std::fclose(stream) != 0 && whole) return false;
    errno = error;
    return whole;
}

// Only a document that reached the disk whole takes its path; anything
// else is a failure, and what stood at the path stays.
void commit_output(const Output& output, bool replaces_input) {
    const bool whole = close_whole(output.stream, replaces_input) && replace_file(output.temporary_path, output.path);
    if (!whole) {
        const int error = errno;
        std::remove(output.temporary_path);
        fatal("Can't write %s: %s", output.path, std::strerror(error));
    }
}

// A class the program does not convert: its two envelope lines, for callers
// that read the class there, go only where no file stands. A file that
// does (an earlier document, a user's own file, the input) stays as it was.
[[noreturn]] void refuse_class(const char* output_path, std::span<const std::uint8_t> data) {
    if (std::FILE* out = create_new_file(output_path)) {
        write_document(out, data);
        if (!close_whole(out, false)) {
            const int error = errno;
            std::remove(output_path);
            fatal("Can't write %s: %s", output_path, std::strerror(error));
        }
    } else if (errno != EEXIST) {
        fatal("Can't write %s: %s", output_path, std::strerror(errno));
    }
    fatal("Can't translate class %02X yet", static_cast<unsigned>(data[0]));
}

}  // namespace

int convert_object(int argc, char** argv) {
    open_missing_standard_descriptors();
    if (argc < 2) fatal("Give filename as parameter");
    const char* input_path = argv[1];
    FileIdentity input{};
    const std::span<const std::uint8_t> data = load_file(input_path, input);
    check_length(input_path, data);

    const char* output_path = output_path_for(input_path, path_separators);
    if (!converts_class(data[0])) refuse_class(output_path, data);
    const Output output = open_output(output_path);
    write_document(output.stream, data);
    commit_output(output, names_file(output_path, input));
    return 0;
}
