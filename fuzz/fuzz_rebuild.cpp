// libFuzzer target: arbitrary bytes as a document, through the reader and
// read_document as the program reads them. libxml2 is the judge of XML:
// whatever the reader accepts, libxml2 must find well-formed, with the same
// elements, attributes and text; what libxml2 refuses, the reader must
// refuse. Every accepted document must rebuild an object whose own document
// rebuilds it, alone and over it as the base. Messages must be safe for a
// terminal. The input is copied into a block of its exact size, so that
// AddressSanitizer catches any read past it.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "dump/xml_reader.hpp"
#include "frontend/document.hpp"
#include "frontend/read_document.hpp"

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

std::string latin1_to_utf8(const std::string& text) {
    std::string utf8;
    for (const char byte : text) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x80) {
            utf8 += byte;
        } else {
            utf8 += static_cast<char>(0xC0 | code >> 6);
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return utf8;
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

std::optional<std::string> reader_form(std::span<const std::uint8_t> bytes, std::string& message) {
    XmlReader reader = xml_reader(bytes);
    Canonical canonical;
    while (xml_next(reader)) {
        const XmlEvent& event = reader.event;
        std::vector<std::pair<std::string, std::string>> attributes;
        for (const XmlAttribute& given : event.attributes)
            attributes.emplace_back(given.name, latin1_to_utf8(given.value));
        if (event.kind == XmlEventKind::start_tag) canonical.start(event.name, std::move(attributes));
        if (event.kind == XmlEventKind::end_tag) canonical.end();
        if (event.kind == XmlEventKind::text) canonical.text += latin1_to_utf8(event.text);
        if (event.kind == XmlEventKind::end_of_document) return canonical.form;
    }
    require(reader.error.line >= 1 && reader.error.column >= 1, "a fault without a position");
    message = reader.error.message;
    return std::nullopt;
}

std::string content_of(xmlNodePtr node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

void libxml_element(xmlNodePtr element, Canonical& canonical) {
    std::vector<std::pair<std::string, std::string>> attributes;
    if (element->nsDef) attributes.emplace_back("xmlns", "");  // a declaration, which the reader refuses
    for (xmlAttrPtr attribute = element->properties; attribute; attribute = attribute->next)
        attributes.emplace_back(reinterpret_cast<const char*>(attribute->name),
                                content_of(reinterpret_cast<xmlNodePtr>(attribute)));
    canonical.start(reinterpret_cast<const char*>(element->name), std::move(attributes));
    for (xmlNodePtr child = element->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE)
            libxml_element(child, canonical);
        else if (child->type == XML_TEXT_NODE)
            canonical.text += content_of(child);
        else if (child->type != XML_COMMENT_NODE)
            canonical.form += "X\n";  // CDATA, a PI: never the reader's
    }
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

bool safe_for_a_terminal(const std::string& message) {
    return std::none_of(message.begin(), message.end(), [](char byte) {
        const auto code = static_cast<unsigned char>(byte);
        return code < 0x20 || code == 0x7F;
    });
}

void check_rebuild(std::span<const std::uint8_t> bytes, bool reader_accepted) {
    Bytes object(366, 0);
    ReadError error;
    if (!read_document(bytes, object, false, error)) {
        require(error.line >= 1 && error.column >= 1 && !error.message.empty(), "a refusal without a position");
        require(safe_for_a_terminal(error.message), "a message with a control byte");
        return;
    }
    require(reader_accepted, "read_document accepted what the reader refuses");
    const Bytes document = document_of(object);
    Bytes again(366, 0);
    require(read_document(document, again, false, error), "the rebuilt object's document is refused");
    require(again == object, "the rebuilt object's document rebuilds another object");
    Bytes over_base = object;
    require(read_document(document, over_base, true, error) && over_base == object, "not kept over its own base");
    over_base = object;
    require(read_document(bytes, over_base, true, error) && over_base == object, "another object over its base");
}

void ignore_libxml_message(void* /*context*/, const char* /*format*/, ...) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (xmlSetGenericErrorFunc(nullptr, ignore_libxml_message), true);  // its encoding errors
    (void)quiet;
    const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
    std::copy(data, data + size, block.get());
    const std::span<const std::uint8_t> bytes(block.get(), size);

    std::string message;
    const std::optional<std::string> ours = reader_form(bytes, message);
    require(ours || safe_for_a_terminal(message), "a message with a control byte");
    const std::optional<std::string> theirs = libxml_form(bytes);
    require(!ours || theirs, "the reader accepts what libxml2 finds not well-formed");
    require(!ours || *ours == *theirs, "the reader and libxml2 read different elements, attributes or text");
    check_rebuild(bytes, ours.has_value());
    return 0;
}
