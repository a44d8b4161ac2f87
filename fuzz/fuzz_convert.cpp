// libFuzzer target: arbitrary bytes as an object file, through the same
// length check, class test, walker and name escaping as the program, into
// an in-memory stream. Every document must be well-formed and end with the
// closing line; a conversion may stop only as the program would for such a
// file (too short), and a class it does not convert leaves the two envelope
// lines only.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libxml/parser.h>
#include <span>
#include <string>

#include "frontend/document.hpp"
#include "frontend/fatal.hpp"

namespace {

struct Stopped {
    std::string message;
};

[[noreturn]] void stop_conversion(const char* message) { throw Stopped{message}; }

void require(bool condition, const char* what, const std::string& document) {
    if (condition) return;
    std::fprintf(stderr, "%s:\n%s\n", what, document.c_str());
    std::abort();
}

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool well_formed(const std::string& document) {
    xmlDocPtr parsed = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlFreeDoc(parsed);
    return parsed != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool handler_set = (set_fatal_handler(stop_conversion), true);
    (void)handler_set;
    const std::span<const std::uint8_t> bytes(data, size);

    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    std::string stop_message;
    bool converted = false;
    try {
        check_length("fuzz.dat", bytes);
        converted = write_document(out, bytes);
    } catch (const Stopped& stopped) {
        stop_message = stopped.message;
    }
    std::fclose(out);
    std::string document(text, length);
    std::free(text);

    if (!stop_message.empty()) {
        require(starts_with(stop_message, "Can't convert fuzz.dat: file has "), stop_message.c_str(), document);
        require(document.empty(), "a refused file wrote output", document);
        return 0;
    }
    if (converted) {
        require(document.size() >= 10 && document.compare(document.size() - 10, 10, "</object>\n") == 0,
                "document does not end with the closing line", document);
    } else {
        require(std::count(document.begin(), document.end(), '\n') == 2, "not just the envelope lines", document);
        document += "</object>\n";  // the two lines must open a well-formed document
    }
    require(well_formed(document), "document is not well-formed", document);
    return 0;
}
