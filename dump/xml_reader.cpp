#include "dump/xml_reader.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <utility>

namespace {

// A decoded character and the bytes it took; code 0 at the end of the
// document or after a fault (NUL is no XML character, so 0 is free).
struct Decoded {
    char32_t code;
    std::size_t length;
};

struct CodeRange {
    char32_t first;
    char32_t last;
};

// clang-format off
// Characters that may start a name. A colon is left out: documents use no
// namespaces, so prefixed names and xmlns attributes are refused.
constexpr CodeRange name_start_ranges[] = {
    {'A', 'Z'},       {'_', '_'},       {'a', 'z'},       {0xC0, 0xD6},     {0xD8, 0xF6},
    {0xF8, 0x2FF},    {0x370, 0x37D},   {0x37F, 0x1FFF},  {0x200C, 0x200D}, {0x2070, 0x218F},
    {0x2C00, 0x2FEF}, {0x3001, 0xD7FF}, {0xF900, 0xFDCF}, {0xFDF0, 0xFFFD}, {0x10000, 0xEFFFF},
};

// Characters that may follow the first one, besides those that may start a name.
constexpr CodeRange name_more_ranges[] = {
    {'-', '.'}, {'0', '9'}, {0xB7, 0xB7}, {0x300, 0x36F}, {0x203F, 0x2040},
};

constexpr CodeRange xml_char_ranges[] = {
    {0x9, 0xA}, {0xD, 0xD}, {0x20, 0xD7FF}, {0xE000, 0xFFFD}, {0x10000, 0x10FFFF},
};

// The predefined entities; no others exist, as a DOCTYPE is refused.
constexpr std::pair<std::string_view, char> predefined_entities[] = {
    {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''},
};
// clang-format on

template <std::size_t N>
constexpr bool in_ranges(char32_t code, const CodeRange (&ranges)[N]) {
    return std::ranges::any_of(ranges,
                               [code](const CodeRange& range) { return code >= range.first && code <= range.last; });
}

constexpr bool is_name_start(char32_t code) { return in_ranges(code, name_start_ranges); }
constexpr bool is_name_char(char32_t code) { return is_name_start(code) || in_ranges(code, name_more_ranges); }
constexpr bool is_space(char32_t code) { return code == ' ' || code == '\t' || code == '\n'; }

std::string code_text(char32_t code) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "U+%04X", static_cast<unsigned>(code));
    return text.data();
}

void append_utf8(std::string& text, char32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
        return;
    }
    const int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    constexpr std::array<unsigned, 4> lead_marks{0, 0xC0, 0xE0, 0xF0};
    text += static_cast<char>(lead_marks[static_cast<std::size_t>(tail)] | code >> (6 * tail));
    for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) text += static_cast<char>(0x80 | (code >> shift & 0x3F));
}

// The UTF-8 sequence at `at`, or code 0 where the bytes are not one:
// overlong forms, surrogates and values past U+10FFFF are not.
Decoded decode_utf8(std::span<const std::uint8_t> input, std::size_t at) {
    const unsigned lead = input[at];
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || input.size() - at < length) return {0, 0};
    char32_t code = lead & (0x7FU >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((input[at + i] & 0xC0) != 0x80) return {0, 0};
        code = code << 6 | (input[at + i] & 0x3FU);
    }
    constexpr std::array<char32_t, 5> least{0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {0, 0};
    return {code, length};
}

bool fail_here(XmlReader& reader, std::string message) {
    return xml_fail(reader, reader.line, reader.column, std::move(message));
}

std::string byte_text(std::uint8_t byte) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", static_cast<unsigned>(byte));
    return text.data();
}

// The character at the reader's position, CR LF and a lone CR read as one
// LF, as XML normalizes line ends. A byte sequence that is no character in
// the document's encoding, or a character XML does not allow, is a fault.
Decoded current(XmlReader& reader) {
    if (reader.failed || reader.position >= reader.input.size()) return {0, 0};
    const std::uint8_t byte = reader.input[reader.position];
    Decoded decoded{byte, 1};
    if (byte >= 0x80 && reader.encoding == XmlEncoding::ascii) {
        fail_here(reader, "expected a US-ASCII character, found byte " + byte_text(byte));
        return {0, 0};
    }
    if (byte >= 0x80 && reader.encoding == XmlEncoding::utf8) decoded = decode_utf8(reader.input, reader.position);
    if (decoded.length == 0) {
        fail_here(reader, "expected UTF-8, found byte " + byte_text(byte));
        return {0, 0};
    }
    if (byte == '\r') {
        const std::size_t next = reader.position + 1;
        return {'\n', next < reader.input.size() && reader.input[next] == '\n' ? 2U : 1U};
    }
    if (in_ranges(decoded.code, xml_char_ranges)) return decoded;
    fail_here(reader, "character " + code_text(decoded.code) + " is not allowed in XML");
    return {0, 0};
}

char32_t peek(XmlReader& reader) { return current(reader).code; }

void advance(XmlReader& reader) {
    const Decoded decoded = current(reader);
    reader.position += decoded.length;
    if (decoded.code == '\n') {
        ++reader.line;
        reader.column = 1;
    } else if (decoded.length) {
        ++reader.column;
    }
}

// Compares ASCII markup with the raw bytes, which hold ASCII as such in all
// three encodings.
bool looking_at(const XmlReader& reader, std::string_view literal) {
    if (reader.input.size() - reader.position < literal.size()) return false;
    for (std::size_t i = 0; i < literal.size(); ++i)
        if (reader.input[reader.position + i] != static_cast<std::uint8_t>(literal[i])) return false;
    return true;
}

void skip_literal(XmlReader& reader, std::string_view literal) {
    reader.position += literal.size();
    reader.column += static_cast<int>(literal.size());
}

std::string found_text(XmlReader& reader) {
    const char32_t code = peek(reader);
    if (code == 0) return "the end of the document";
    if (code == '\n') return "a line end";
    if (code == ' ') return "a space";
    if (code > ' ' && code < 0x7F) return std::string("\"") + static_cast<char>(code) + "\"";
    return "character " + code_text(code);
}

bool fail_expected(XmlReader& reader, const std::string& expected) {
    return fail_here(reader, "expected " + expected + ", found " + found_text(reader));
}

bool expect_char(XmlReader& reader, char32_t code, const char* expected) {
    if (peek(reader) != code) return fail_expected(reader, expected);
    advance(reader);
    return true;
}

bool skip_spaces(XmlReader& reader) {
    bool skipped = false;
    while (is_space(peek(reader))) {
        advance(reader);
        skipped = true;
    }
    return skipped;
}

bool read_name(XmlReader& reader, std::string& name) {
    if (!is_name_start(peek(reader))) return fail_expected(reader, "a name");
    while (is_name_char(peek(reader))) {
        append_utf8(name, peek(reader));
        advance(reader);
    }
    if (peek(reader) == ':') return fail_expected(reader, "a name without a namespace prefix");
    return !reader.failed;
}

// Adds a character of a value, which must have an ISO-8859-1 byte.
bool append_latin1(XmlReader& reader, std::string& text, char32_t code, int line, int column) {
    if (code > 0xFF) return xml_fail(reader, line, column, "character " + code_text(code) + " has no ISO-8859-1 byte");
    text += static_cast<char>(code);
    return true;
}

char32_t read_char_reference(XmlReader& reader) {
    const bool hex = peek(reader) == 'x';
    if (hex) advance(reader);
    char32_t value = 0;
    int digits = 0;
    for (char32_t code = peek(reader);; code = peek(reader), ++digits) {
        const bool decimal = code >= '0' && code <= '9';
        const bool letter = hex && ((code >= 'a' && code <= 'f') || (code >= 'A' && code <= 'F'));
        if (!decimal && !letter) break;
        const char32_t digit = decimal ? code - '0' : (code | 0x20) - 'a' + 10;
        value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + digit;  // stays past U+10FFFF once there
        advance(reader);
    }
    if (digits == 0) fail_expected(reader, hex ? "a hexadecimal digit" : "a decimal digit");
    if (!in_ranges(value, xml_char_ranges)) fail_here(reader, "the reference is to a character XML does not allow");
    return expect_char(reader, ';', "\";\"") ? value : 0;
}

char32_t read_entity_reference(XmlReader& reader, int line, int column) {
    std::string name;
    if (!read_name(reader, name)) return 0;
    for (const auto& [entity, character] : predefined_entities)
        if (name == entity) return expect_char(reader, ';', "\";\"") ? static_cast<char32_t>(character) : 0;
    xml_fail(reader, line, column, R"(expected lt, gt, amp, quot, apos or "#" after "&", found )" + shown_utf8(name));
    return 0;
}

// The character a reference at "&" stands for, or 0 after a fault.
char32_t read_reference(XmlReader& reader) {
    const int line = reader.line;
    const int column = reader.column;
    advance(reader);
    if (peek(reader) != '#') return read_entity_reference(reader, line, column);
    advance(reader);
    return read_char_reference(reader);
}

// Appends one character of a value or text, decoding a reference; literal
// whitespace in an attribute value becomes a space, a reference's does not.
bool read_value_char(XmlReader& reader, std::string& text, bool attribute) {
    const int line = reader.line;
    const int column = reader.column;
    char32_t code = peek(reader);
    if (code == '&') {
        code = read_reference(reader);
        return code != 0 && append_latin1(reader, text, code, line, column);
    }
    advance(reader);
    if (attribute && is_space(code)) code = ' ';
    return append_latin1(reader, text, code, line, column);
}

bool read_attribute_value(XmlReader& reader, std::string& value) {
    const char32_t quote = peek(reader);
    if (quote != '"' && quote != '\'') return fail_expected(reader, "a quoted value");
    advance(reader);
    for (char32_t code = peek(reader); code != quote; code = peek(reader)) {
        if (code == '<') return fail_here(reader, "\"<\" is not allowed in an attribute value");
        if (code == 0) return fail_expected(reader, "the value's closing quote");
        if (!read_value_char(reader, value, true)) return false;
    }
    advance(reader);
    return true;
}

bool read_attribute(XmlReader& reader, std::vector<XmlAttribute>& attributes) {
    if (attributes.size() == max_xml_attributes) return fail_expected(reader, R"(">" or "/>" after 16 attributes)");
    XmlAttribute attribute{{}, {}, reader.line, reader.column};
    if (!read_name(reader, attribute.name)) return false;
    if (attribute.name == "xmlns")
        return xml_fail(reader, attribute.line, attribute.column, "namespace declarations are not accepted");
    skip_spaces(reader);
    if (!expect_char(reader, '=', "\"=\"")) return false;
    skip_spaces(reader);
    if (!read_attribute_value(reader, attribute.value)) return false;
    for (const XmlAttribute& earlier : attributes)
        if (earlier.name == attribute.name)
            return xml_fail(reader, attribute.line, attribute.column,
                            "attribute " + shown_utf8(attribute.name) + " is given twice");
    attributes.push_back(std::move(attribute));
    return true;
}

bool read_start_tag(XmlReader& reader) {
    XmlEvent& event = reader.event;
    event.kind = XmlEventKind::start_tag;
    event.line = reader.line;
    event.column = reader.column;
    advance(reader);
    if (!read_name(reader, event.name)) return false;
    for (;;) {
        const bool spaced = skip_spaces(reader);
        if (peek(reader) == '>' || looking_at(reader, "/>")) break;
        if (!spaced) return fail_expected(reader, R"(a space, ">" or "/>")");
        if (!read_attribute(reader, event.attributes)) return false;
    }
    reader.close_empty_element = peek(reader) == '/';
    if (reader.close_empty_element) advance(reader);
    advance(reader);
    if (reader.open_elements.size() == max_xml_depth)
        return xml_fail(reader, event.line, event.column, "elements are nested too deep");
    reader.open_elements.push_back(event.name);
    return true;
}

void close_element(XmlReader& reader) {
    reader.open_elements.pop_back();
    if (reader.open_elements.empty()) reader.stage = XmlStage::epilog;
}

bool read_end_tag(XmlReader& reader) {
    XmlEvent& event = reader.event;
    event.kind = XmlEventKind::end_tag;
    event.line = reader.line;
    event.column = reader.column;
    skip_literal(reader, "</");
    if (!read_name(reader, event.name)) return false;
    skip_spaces(reader);
    if (!expect_char(reader, '>', "\">\"")) return false;
    const std::string& open = reader.open_elements.back();
    if (event.name != open)
        return xml_fail(reader, event.line, event.column,
                        "expected </" + shown_utf8(open) + ">, found </" + shown_utf8(event.name) + ">");
    close_element(reader);
    return true;
}

bool skip_comment(XmlReader& reader) {
    skip_literal(reader, "<!--");
    while (!looking_at(reader, "--")) {
        if (peek(reader) == 0) return fail_expected(reader, "\"-->\"");
        advance(reader);
    }
    if (!looking_at(reader, "-->")) return fail_here(reader, "\"--\" is not allowed inside a comment");
    skip_literal(reader, "-->");
    return true;
}

// Markup that starts with "<" but is neither a tag nor a comment.
bool refuse_markup(XmlReader& reader) {
    if (looking_at(reader, "<![CDATA[")) return fail_here(reader, "CDATA sections are not accepted");
    if (looking_at(reader, "<!DOCTYPE")) return fail_here(reader, "a DOCTYPE is not accepted");
    if (looking_at(reader, "<?")) return fail_here(reader, "processing instructions are not accepted");
    return fail_here(reader, "expected an element or a comment after \"<\"");
}

// Character data up to the next tag, passing over comments within it.
bool read_text(XmlReader& reader) {
    XmlEvent& event = reader.event;
    event.kind = XmlEventKind::text;
    event.line = reader.line;
    event.column = reader.column;
    for (char32_t code = peek(reader); code != 0; code = peek(reader)) {
        if (looking_at(reader, "<!--")) {
            if (!skip_comment(reader)) return false;
            continue;
        }
        if (code == '<') break;
        if (looking_at(reader, "]]>")) return fail_here(reader, "\"]]>\" is not allowed in text");
        if (!read_value_char(reader, event.text, false)) return false;
    }
    return !reader.failed;
}

bool read_content(XmlReader& reader) {
    if (reader.close_empty_element) {
        reader.close_empty_element = false;
        reader.event.kind = XmlEventKind::end_tag;  // at the empty-element tag's position
        reader.event.name = reader.open_elements.back();
        close_element(reader);
        return true;
    }
    while (looking_at(reader, "<!--"))
        if (!skip_comment(reader)) return false;
    if (peek(reader) == 0)
        return !reader.failed && fail_expected(reader, "</" + shown_utf8(reader.open_elements.back()) + ">");
    if (looking_at(reader, "</")) return read_end_tag(reader);
    if (peek(reader) != '<') return read_text(reader);
    if (looking_at(reader, "<!") || looking_at(reader, "<?")) return refuse_markup(reader);
    return read_start_tag(reader);
}

// Whitespace and comments before and after the root element.
bool skip_misc(XmlReader& reader) {
    for (;;) {
        skip_spaces(reader);
        if (!looking_at(reader, "<!--")) return !reader.failed;
        if (!skip_comment(reader)) return false;
    }
}

bool read_prolog(XmlReader& reader) {
    if (!skip_misc(reader)) return false;
    if (peek(reader) == 0) return !reader.failed && fail_expected(reader, "the root element");
    if (looking_at(reader, "<!") || looking_at(reader, "<?")) return refuse_markup(reader);
    if (peek(reader) != '<') return fail_expected(reader, "the root element");
    reader.stage = XmlStage::content;
    return read_start_tag(reader);
}

bool read_epilog(XmlReader& reader) {
    if (!skip_misc(reader)) return false;
    if (looking_at(reader, "<!") || looking_at(reader, "<?")) return refuse_markup(reader);
    if (peek(reader) != 0) return fail_expected(reader, "only comments after the root element");
    reader.stage = XmlStage::done;
    return !reader.failed;
}

constexpr bool is_declaration_char(char32_t code) {
    return (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z') || (code >= '0' && code <= '9') ||
           code == '.' || code == '_' || code == '-';
}

bool same_ascii_letters(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((text[i] >= 'a' && text[i] <= 'z' ? text[i] - 'a' + 'A' : text[i]) != upper[i]) return false;
    return true;
}

// A pseudo-attribute of the declaration: spaces, its name, "=" and a quoted
// value; false without a fault when the name is not there.
bool read_pseudo_attribute(XmlReader& reader, std::string_view name, std::string& value) {
    const std::size_t start = reader.position;
    const int column = reader.column;
    const int line = reader.line;
    if (!skip_spaces(reader) || !looking_at(reader, name)) {
        reader.position = start;  // only spaces were passed, which the caller skips again
        reader.column = column;
        reader.line = line;
        return false;
    }
    skip_literal(reader, name);
    skip_spaces(reader);
    if (!expect_char(reader, '=', "\"=\"")) return false;
    skip_spaces(reader);
    const char32_t quote = peek(reader);
    if (quote != '"' && quote != '\'') return fail_expected(reader, "a quoted value");
    advance(reader);
    for (char32_t code = peek(reader); code != quote; code = peek(reader)) {
        if (!is_declaration_char(code)) return fail_expected(reader, R"(a letter, a digit, ".", "_" or "-")");
        value += static_cast<char>(code);
        advance(reader);
    }
    advance(reader);
    return true;
}

bool read_encoding(XmlReader& reader, bool byte_order_mark) {
    const int line = reader.line;
    const int column = reader.column;
    std::string name;
    if (!read_pseudo_attribute(reader, "encoding", name)) return !reader.failed;
    if (same_ascii_letters(name, "ISO-8859-1"))
        reader.encoding = XmlEncoding::latin1;
    else if (same_ascii_letters(name, "US-ASCII"))
        reader.encoding = XmlEncoding::ascii;
    else if (!same_ascii_letters(name, "UTF-8"))
        return xml_fail(reader, line, column, "expected encoding ISO-8859-1, UTF-8 or US-ASCII");
    if (byte_order_mark && reader.encoding != XmlEncoding::utf8)
        return xml_fail(reader, line, column, "expected encoding UTF-8 after a UTF-8 byte order mark");
    return true;
}

bool read_declaration(XmlReader& reader) {
    const bool byte_order_mark = looking_at(reader, "\xEF\xBB\xBF");
    if (byte_order_mark) reader.position += 3;  // not a character: columns start after it
    if (!looking_at(reader, "<?xml") || reader.input.size() - reader.position < 6 ||
        !is_space(reader.input[reader.position + 5]))
        return true;  // no declaration: UTF-8
    skip_literal(reader, "<?xml");
    std::string value;
    if (!read_pseudo_attribute(reader, "version", value)) return fail_expected(reader, "version=\"1.0\"");
    if (value != "1.0") return fail_here(reader, "expected version 1.0");
    if (!read_encoding(reader, byte_order_mark)) return false;
    value.clear();
    if (read_pseudo_attribute(reader, "standalone", value) && value != "yes" && value != "no")
        return fail_here(reader, R"(expected standalone="yes" or "no")");
    skip_spaces(reader);
    if (reader.failed || !looking_at(reader, "?>")) return fail_expected(reader, "\"?>\"");
    skip_literal(reader, "?>");
    return true;
}

}  // namespace

XmlReader xml_reader(std::span<const std::uint8_t> document) {
    XmlReader reader;
    reader.input = document;
    return reader;
}

const XmlAttribute* xml_attribute(const XmlEvent& event, std::string_view name) {
    for (const XmlAttribute& given : event.attributes)
        if (given.name == name) return &given;
    return nullptr;
}

bool xml_fail(XmlReader& reader, int line, int column, std::string message) {
    if (reader.failed) return false;
    reader.failed = true;
    reader.error = {line, column, std::move(message)};
    return false;
}

bool xml_next(XmlReader& reader) {
    if (reader.failed) return false;
    XmlEvent& event = reader.event;
    event.attributes.clear();
    event.name.clear();
    event.text.clear();
    switch (reader.stage) {
    case XmlStage::declaration:
        if (!read_declaration(reader)) return false;
        reader.stage = XmlStage::prolog;
        return read_prolog(reader);
    case XmlStage::prolog:
        return read_prolog(reader);
    case XmlStage::content:
        return read_content(reader);
    case XmlStage::epilog:
        if (!read_epilog(reader)) return false;
        break;
    case XmlStage::done:
        break;
    }
    event.kind = XmlEventKind::end_of_document;
    event.line = reader.line;
    event.column = reader.column;
    return !reader.failed;
}

std::string shown_latin1(std::string_view text) {
    std::string shown;
    for (const char byte : text) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            shown += '?';
        else
            append_utf8(shown, code);
    }
    return shown;
}

std::string shown_utf8(std::string_view text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto code = static_cast<unsigned char>(text[i]);
        const bool c1 = code == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1) ++i;  // U+0080 to U+009F, C1 controls
        shown += code < 0x20 || code == 0x7F || c1 ? '?' : text[i];
    }
    return shown;
}
