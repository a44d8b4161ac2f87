// A small, strict XML 1.0 reader for documents of the shape this program
// writes: it lexes the whole document from one block, without recursion,
// and hands on one event at a time with its line and column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Where reading stopped and why; line and column count from 1.
struct ReadError {
    int line = 0;
    int column = 0;
    std::string message;
};

enum class XmlEncoding { utf8, latin1, ascii };

enum class XmlEventKind { start_tag, end_tag, text, end_of_document };

// Names are UTF-8; values are ISO-8859-1 bytes (a character past U+00FF
// in a value is refused, as it has no byte).
struct XmlAttribute {
    std::string name;
    std::string value;
    int line = 0;
    int column = 0;
};

// A tag, or a run of character data up to the next tag: comments inside
// the run are left out and the pieces around them joined.
struct XmlEvent {
    XmlEventKind kind = XmlEventKind::end_of_document;
    std::string name;  // element name of a tag
    std::vector<XmlAttribute> attributes;
    std::string text;  // decoded character data
    int line = 0;      // where the event starts
    int column = 0;
};

enum class XmlStage { declaration, prolog, content, epilog, done };

struct XmlReader {
    std::span<const std::uint8_t> input;
    std::size_t position = 0;
    int line = 1;
    int column = 1;
    XmlEncoding encoding = XmlEncoding::utf8;
    XmlStage stage = XmlStage::declaration;
    std::vector<std::string> open_elements;
    bool close_empty_element = false;  // an empty-element tag owes its end tag
    XmlEvent event;                    // the event xml_next read last
    bool failed = false;
    ReadError error;  // the first fault, once failed
};

// Elements nested deeper than this are refused; documents need a dozen levels.
inline constexpr std::size_t max_xml_depth = 64;

// Attributes past this many on one element are refused; documents use
// three at most, and the check for a repeated one compares each with all
// before it.
inline constexpr std::size_t max_xml_attributes = 16;

XmlReader xml_reader(std::span<const std::uint8_t> document);

// Reads the next event into reader.event; false (with reader.error set) at
// the first fault. After end_of_document it keeps returning that event.
bool xml_next(XmlReader& reader);

// The start tag's attribute of that name, or nullptr.
const XmlAttribute* xml_attribute(const XmlEvent& event, std::string_view name);

// Records a fault at a position of the document unless one is recorded
// already; returns false, for use in return statements.
bool xml_fail(XmlReader& reader, int line, int column, std::string message);

// The text made safe for a terminal: control characters (C0, DEL and C1)
// become "?", and ISO-8859-1 bytes become UTF-8.
std::string shown_latin1(std::string_view text);

// As shown_latin1, for UTF-8 text such as element names.
std::string shown_utf8(std::string_view text);
