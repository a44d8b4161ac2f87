#include "load/read_document.hpp"

#include <charconv>
#include <cstddef>
#include <string_view>

#include "dump/layouts/payloads.hpp"
#include "load/loader.hpp"

namespace {

constexpr std::size_t name_bytes = 8;

// A hex attribute of `digits` digits, upper- or lowercase.
std::uint32_t hex_attribute(const Reader& reader, const Value& given, const char* name, std::size_t digits) {
    const std::string_view text = kept(given);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (given.length != digits || error != std::errc{} || end != text.data() + text.size())
        fail(reader, given.offset, "expected %s as %zu hexadecimal digits, found \"%s\"", name, digits,
             shown(reader, given).data());
    return value;
}

// Whether the document's name is what obj2xml shows for these name bytes:
// up to the first zero byte, with "?" for each control byte.
bool shows_name(const Value& given, std::span<const std::uint8_t> name) {
    std::size_t length = 0;
    for (; length < name.size() && name[length] != 0; ++length) {
        const char shown = name[length] < 0x20 ? '?' : static_cast<char>(name[length]);
        if (length >= given.length || given.bytes[length] != shown) return false;
    }
    return length == given.length;
}

// Reads the object element's start tag into the header; returns the payload's table.
const FieldDesc* read_header(Reader& reader, std::span<std::uint8_t> object, bool has_base) {
    const Token& token = peek(reader);
    if (token.kind != TokenKind::start_tag || token.name != "object")
        fail(reader, token.offset, "expected <object>, found %s", token_text(reader, token).data());
    for (std::size_t i = 0; i < token.attribute_count; ++i) {
        const std::string_view name = token.attributes[i].name;
        if (name != "class" && name != "subclass" && name != "name")
            fail(reader, token.attributes[i].value.offset,
                 "expected only class, subclass and name attributes on <object>, found %s",
                 shown(reader, name, false).data());
    }
    for (const char* name : {"class", "subclass", "name"})
        if (!find_attribute(token, name)) fail(reader, token.offset, "expected a %s attribute on <object>", name);
    const Value& class_value = find_attribute(token, "class")->value;
    const Value& name = find_attribute(token, "name")->value;
    const std::uint32_t class_byte = hex_attribute(reader, class_value, "class", 2);
    const std::uint32_t subclass = hex_attribute(reader, find_attribute(token, "subclass")->value, "subclass", 6);
    const FieldDesc* table = payload_table(static_cast<std::uint8_t>(class_byte));
    if (!table)
        fail(reader, class_value.offset, "class %s is not one this program converts",
             shown(reader, class_value).data());
    const std::size_t needed = header_size + static_cast<std::size_t>(layout_span(table));
    if (object.size() < needed)
        fail(reader, class_value.offset, "the object has %zu bytes, needs %zu", object.size(), needed);
    if (name.length > name_bytes)
        fail(reader, name.offset, "expected a name of at most 8 characters, found \"%s\"", shown(reader, name).data());
    const auto name_field = object.subspan(4, name_bytes);
    if (!has_base || !shows_name(name, name_field))
        for (std::size_t i = 0; i < name_bytes; ++i)
            name_field[i] = i < name.length ? static_cast<std::uint8_t>(name.bytes[i]) : 0;
    object[0] = static_cast<std::uint8_t>(class_byte);
    write_le(object.subspan(1, 3), subclass);
    take(reader);
    return table;
}

}  // namespace

void read_document(std::span<const std::uint8_t> document, std::span<std::uint8_t> object, bool has_base) {
    Reader reader = open_document(document);
    const FieldDesc* table = read_header(reader, object, has_base);
    load_fields(reader, object.subspan(header_size), table);
    load_end_tag(reader, "object");
    read_epilog(reader);
}
