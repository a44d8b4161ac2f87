#include "frontend/read_document.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "dump/loader.hpp"
#include "frontend/document.hpp"

namespace {

// The attributes of the object element, in the order they are checked.
constexpr std::string_view header_attributes[] = {"class", "subclass", "name"};
constexpr std::size_t name_bytes = 8;

bool fail_at(XmlReader& reader, const XmlAttribute& at, const std::string& message) {
    return xml_fail(reader, at.line, at.column, message);
}

std::optional<std::uint32_t> parse_hex(std::string_view text, std::size_t digits) {
    if (text.size() != digits) return std::nullopt;
    std::uint32_t value = 0;
    for (const char digit : text) {
        const bool decimal = digit >= '0' && digit <= '9';
        const char lower = static_cast<char>(digit | 0x20);
        if (!decimal && (lower < 'a' || lower > 'f')) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(decimal ? digit - '0' : lower - 'a' + 10);
    }
    return value;
}

// The start tag of the object element, with exactly its three attributes.
bool check_object_tag(XmlReader& reader) {
    const XmlEvent& event = reader.event;
    if (event.kind != XmlEventKind::start_tag || event.name != "object")
        return xml_fail(reader, event.line, event.column, "expected <object>, found " + event_text(event));
    for (const XmlAttribute& given : event.attributes) {
        bool known = false;
        for (const std::string_view name : header_attributes) known = known || given.name == name;
        if (!known)
            return fail_at(
                reader, given,
                "expected only class, subclass and name attributes on <object>, found " + shown_utf8(given.name));
    }
    for (const std::string_view name : header_attributes)
        if (!xml_attribute(event, name))
            return xml_fail(reader, event.line, event.column,
                            "expected a " + std::string(name) + " attribute on <object>");
    return true;
}

// A hex attribute of `digits` digits, upper- or lowercase.
std::optional<std::uint32_t> hex_attribute(XmlReader& reader, std::string_view name, std::size_t digits) {
    const XmlAttribute& given = *xml_attribute(reader.event, name);
    const std::optional<std::uint32_t> value = parse_hex(given.value, digits);
    if (!value)
        fail_at(reader, given,
                "expected " + std::string(name) + " as " + std::to_string(digits) + " hexadecimal digits, found \"" +
                    shown_latin1(given.value) + "\"");
    return value;
}

// What obj2xml shows for a header name: up to its first zero byte, with "?"
// for each control byte.
std::string shown_header_name(std::span<const std::uint8_t> name) {
    std::string shown;
    for (const std::uint8_t byte : name) {
        if (byte == 0) break;
        shown += byte < 0x20 ? '?' : static_cast<char>(byte);
    }
    return shown;
}

bool write_name(XmlReader& reader, std::span<std::uint8_t> name, bool has_base) {
    const XmlAttribute& given = *xml_attribute(reader.event, "name");
    if (given.value.size() > name_bytes)
        return fail_at(reader, given,
                       "expected a name of at most 8 characters, found \"" + shown_latin1(given.value) + "\"");
    if (has_base && given.value == shown_header_name(name)) return true;
    for (std::size_t i = 0; i < name_bytes; ++i)
        name[i] = i < given.value.size() ? static_cast<std::uint8_t>(given.value[i]) : 0;
    return true;
}

// Reads the object element's start tag into the header; returns the
// payload's table, or nullptr after a fault.
const FieldDesc* read_header(XmlReader& reader, std::span<std::uint8_t> object, bool has_base) {
    if (!check_object_tag(reader)) return nullptr;
    const std::optional<std::uint32_t> class_byte = hex_attribute(reader, "class", 2);
    const std::optional<std::uint32_t> subclass = hex_attribute(reader, "subclass", 6);
    if (!class_byte || !subclass) return nullptr;
    const FieldDesc* table = payload_table(static_cast<std::uint8_t>(*class_byte));
    const XmlAttribute& class_attribute = *xml_attribute(reader.event, "class");
    if (!table)
        return fail_at(reader, class_attribute,
                       "class " + shown_latin1(class_attribute.value) + " is not one this program converts"),
               nullptr;
    const std::size_t needed = header_size + static_cast<std::size_t>(layout_span(table));
    if (object.size() < needed)
        return fail_at(reader, class_attribute,
                       "the object has " + std::to_string(object.size()) + " bytes, needs " + std::to_string(needed)),
               nullptr;
    if (!write_name(reader, object.subspan(4, name_bytes), has_base)) return nullptr;
    object[0] = static_cast<std::uint8_t>(*class_byte);
    write_le(object.subspan(1, 3), *subclass);
    return table;
}

bool read_object(XmlReader& reader, std::span<std::uint8_t> object, bool has_base) {
    const FieldDesc* table = read_header(reader, object, has_base);
    return table && xml_next(reader) && load_fields(reader, object.subspan(header_size), table, 1) &&
           load_end_tag(reader, "object") && reader.event.kind == XmlEventKind::end_of_document;
}

}  // namespace

bool read_document(std::span<const std::uint8_t> document, std::span<std::uint8_t> object, bool has_base,
                   ReadError& error) {
    XmlReader reader = xml_reader(document);
    if (xml_next(reader) && read_object(reader, object, has_base)) return true;
    error = reader.error;
    return false;
}
