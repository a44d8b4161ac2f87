#include "frontend/output_path.hpp"

#include <cstring>

#include "frontend/fatal.hpp"

char* output_path_for(const char* input_path, const char* separators) {
    static constexpr char extension[] = ".xml";
    const std::size_t length = std::strlen(input_path);
    auto* path = static_cast<char*>(alloc_or_fail(length + sizeof extension, "xmlname"));
    std::memcpy(path, input_path, length + 1);

    // A dot in a directory name is no extension: look only after the last separator.
    char* last_component = path;
    for (char* c = path; *c; ++c)
        if (std::strchr(separators, *c)) last_component = c + 1;
    char* end = std::strrchr(last_component, '.');
    if (!end) end = path + length;
    std::memcpy(end, extension, sizeof extension);  // the block has room for it after the whole input path
    return path;
}
