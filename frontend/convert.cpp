#include "frontend/convert.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "frontend/document.hpp"
#include "frontend/fatal.hpp"
#include "frontend/files.hpp"
#include "platform/platform.hpp"

namespace {

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
    prepare_process();
    if (argc < 2) fatal("Give filename as parameter");
    const char* input_path = argv[1];
    FileIdentity input{};
    const std::span<const std::uint8_t> data = load_file(input_path, input);
    check_length(input_path, data);

    const char* output_path = replace_extension(input_path, ".xml", "xmlname");
    if (!converts_class(data[0])) refuse_class(output_path, data);
    const Output output = open_output(output_path, "xmlname", true);
    write_document(output.stream, data);
    commit_output(output, names_file(output_path, input));
    return 0;
}
