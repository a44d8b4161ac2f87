// libFuzzer target: arbitrary bytes as a document, through read_document as
// the program reads them. libxml2 is the judge of XML: whatever
// read_document accepts, libxml2 must find well-formed, and what it reads
// there must be what the rebuilt object's own document says, line for line
// and value for value. Every accepted document must rebuild an object whose
// own document rebuilds it, alone and over it as the base. Messages must be
// short and safe for a terminal. The input is copied into a block of its
// exact size, so that AddressSanitizer catches any read past it.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "frontend/document.hpp"
#include "load/loader.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

std::string trimmed(const std::string& text) {
    const char* blank = " \t\n\r";
    const std::size_t first = text.find_first_not_of(blank);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blank) - first + 1);
}

std::string field(char tag, const std::string& text) { return tag + std::to_string(text.size()) + ":" + text + "\n"; }

// The canonical form: each element's name, its attributes sorted, its end,
// and each run of text between tags, trimmed, where anything is left.
struct Canonical {
    std::string form;
    std::string text;

    void flush_text() {
        const std::string kept = trimmed(text);
        if (!kept.empty()) form += field('T', kept);
        text.clear();
    }
    void start(const std::string& name, std::vector<std::pair<std::string, std::string>> attributes) {
        flush_text();
        form += field('S', name);
        std::sort(attributes.begin(), attributes.end());
        for (const auto& [key, value] : attributes) form += field('A', key) + field('V', value);
    }
    void end() {
        flush_text();
        form += "E\n";
    }
};

std::string content_of(xmlNodePtr node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

// An element's text as the number it stands for in `size` bytes, or the
// text itself where it is none.
std::string value_of(const std::string& text, const std::string& size) {
    const std::string kept = trimmed(text);
    char* end = nullptr;
    const long long number = std::strtoll(kept.c_str(), &end, 10);
    if (kept.empty() || *end || size.empty() || size.size() > 1) return kept;
    const int bits = 8 * (size[0] - '0');
    return std::to_string(static_cast<unsigned long long>(number) & ((1ULL << bits) - 1));
}

// The canonical form of what libxml2 reads: elements, attributes, values.
// A line that may be left out is left out where it is 0; the class and
// subclass are uppercase; a name shows control bytes as obj2xml writes them.
void libxml_element(xmlNodePtr element, Canonical& canonical) {
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string size;
    std::string name;
    for (xmlAttrPtr attribute = element->properties; attribute; attribute = attribute->next) {
        if (attribute->ns) continue;  // an editor's schema hint, which read_document passes over
        const std::string key = reinterpret_cast<const char*>(attribute->name);
        std::string value = content_of(reinterpret_cast<xmlNodePtr>(attribute));
        for (char& byte : value) {
            if (key != "name" && byte >= 'a' && byte <= 'z') byte = static_cast<char>(byte - 'a' + 'A');
            if (key == "name" && static_cast<unsigned char>(byte) < 0x20) byte = '?';
        }
        if (key == "size") size = value;
        if (key == "name") name = value;
        attributes.emplace_back(key, value);
    }
    const std::string element_name = reinterpret_cast<const char*>(element->name);
    const std::string value = value_of(content_of(element), element_name == "bit" ? "1" : size);
    const bool bit_without_name = name.starts_with("bit") && name.size() > 3 && std::isdigit(name[3]);
    if (value == "0" && (element_name == "unknown" || (element_name == "bit" && bit_without_name))) return;
    canonical.start(element_name, std::move(attributes));
    bool leaf = true;
    for (xmlNodePtr child = element->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        libxml_element(child, canonical);
        leaf = false;
    }
    if (leaf) canonical.text = value;
    canonical.end();
}

std::optional<std::string> libxml_form(std::span<const std::uint8_t> bytes) {
    xmlDocPtr document = xmlReadMemory(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
                                       nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!document) return std::nullopt;
    Canonical canonical;
    libxml_element(xmlDocGetRootElement(document), canonical);
    xmlFreeDoc(document);
    return canonical.form;
}

Bytes document_of(const Bytes& object) {
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    require(write_document(out, object), "a rebuilt object's class is not converted");
    std::fclose(out);
    Bytes document(text, text + length);
    std::free(text);
    return document;
}

// No control character (C0, DEL, C1 in UTF-8) and at most about 300 bytes.
bool fit_for_a_terminal(const char* message) {
    const std::size_t length = std::strlen(message);
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(message[i]);
        const bool c1 = byte == 0xC2 && i + 1 < length && static_cast<unsigned char>(message[i + 1]) < 0xA0;
        if (byte < 0x20 || byte == 0x7F || c1) return false;
    }
    return length > 0 && length <= 320;
}

// The object the document describes, or nullopt where it is refused.
std::optional<Bytes> rebuilt(std::span<const std::uint8_t> document, Bytes object, bool has_base) {
    try {
        read_document(document, object, has_base);
    } catch (const ReadError& error) {
        require(error.line >= 1 && error.column >= 1, "a refusal without a position");
        require(fit_for_a_terminal(error.message.data()), "a message too long, or with a control character");
        return std::nullopt;
    }
    return object;
}

void ignore_libxml_message(void* /*context*/, const char* /*format*/, ...) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (xmlSetGenericErrorFunc(nullptr, ignore_libxml_message), true);  // its encoding errors
    (void)quiet;
    const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
    std::copy(data, data + size, block.get());
    const std::span<const std::uint8_t> bytes(block.get(), size);

    const std::optional<Bytes> object = rebuilt(bytes, Bytes(366, 0), false);
    if (!object) return 0;
    const std::optional<std::string> theirs = libxml_form(bytes);
    require(theirs.has_value(), "read_document accepts what libxml2 finds not well-formed");
    const Bytes document = document_of(*object);
    require(*theirs == libxml_form(document), "libxml2 reads other lines or values than the rebuilt object has");
    require(rebuilt(document, Bytes(366, 0), false) == object, "the rebuilt object's document rebuilds another");
    require(rebuilt(document, *object, true) == object, "the rebuilt object is not kept over itself");
    require(rebuilt(bytes, *object, true) == object, "the document gives another object over its own");
    return 0;
}
