// libFuzzer target: arbitrary bytes as an object file, through the same
// length check, class test, walker and name escaping as the program, into
// an in-memory stream. A file the program refuses as too short writes
// nothing; any other must give a well-formed document that ends with the
// closing line, or for a class it does not convert, the two envelope lines
// only. A fatal report (the walker reading past the data) ends the process,
// which libFuzzer reports.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libxml/parser.h>
#include <span>
#include <string>

#include "frontend/document.hpp"

namespace {

void require(bool condition, const char* what, const std::string& document) {
    if (condition) return;
    std::fprintf(stderr, "%s:\n%s\n", what, document.c_str());
    std::abort();
}

bool well_formed(const std::string& document) {
    xmlDocPtr parsed = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlFreeDoc(parsed);
    return parsed != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (bytes.size() < required_length(bytes)) return 0;  // refused before any output

    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    const bool converted = write_document(out, bytes);
    std::fclose(out);
    std::string document(text, length);
    std::free(text);

    require(converted == converts_class(bytes[0]), "converted a class it does not convert, or the reverse", document);
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
