#include "frontend/rebuild.hpp"

#include <cstdint>
#include <cstring>
#include <span>

#include "frontend/document.hpp"
#include "frontend/fatal.hpp"
#include "frontend/files.hpp"
#include "load/loader.hpp"

namespace {

// The object to write over: the file at `path`, which must be an object
// the program converts, or for a path where none stands, a new object of
// the header and the converted class's payload, all zero.
std::span<std::uint8_t> base_object(const char* path, bool& has_base) {
    FileIdentity identity{};
    const std::span<std::uint8_t> base = load_file(path, identity, true);
    has_base = base.data() != nullptr;
    if (!has_base) {
        const std::size_t size = header_size + static_cast<std::size_t>(layout_span(payload_table(0x17)));
        auto* zeros = static_cast<std::uint8_t*>(std::memset(alloc_or_fail(size, "data"), 0, size));
        return {zeros, size};
    }
    if (base.size() >= header_size && !converts_class(base[0]))
        fatal("Can't rebuild %s: class %02X is not one this program converts", path, static_cast<unsigned>(base[0]));
    if (base.size() < required_length(base))
        fatal("Can't rebuild %s: file has %zu bytes, needs %zu", path, base.size(), required_length(base));
    return base;
}

}  // namespace

int rebuild_object(int argc, char** argv) {
    prepare_process();
    if (argc < 2) fatal("Give filename as parameter");
    const char* document_path = argv[1];
    const char* object_path = argc > 2 ? argv[2] : replace_extension(document_path, ".dat", "objname");
    FileIdentity document_file{};
    const std::span<const std::uint8_t> document = load_file(document_path, document_file);
    if (names_file(object_path, document_file)) fatal("Can't rebuild %s from itself", object_path);

    bool has_base = false;
    const std::span<std::uint8_t> object = base_object(object_path, has_base);
    try {
        read_document(document, object, has_base);
    } catch (const ReadError& error) {
        fatal("Can't rebuild from %s: line %zu, column %zu: %s", document_path, error.line, error.column,
              error.message.data());
    }

    const Output output = open_output(object_path, "objname", false);
    std::fwrite(object.data(), 1, object.size(), output.stream);
    commit_output(output, false);
    return 0;
}
