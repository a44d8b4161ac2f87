#include "load/loader.hpp"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <string_view>

#include "dump/layouts/payloads.hpp"
#include "dump/line_shape.hpp"

namespace {

constexpr std::size_t name_bytes = 8;

// A start tag the loader looks for: its element word, its name attribute
// (empty for the root element, which has none of its own) and its size
// attribute (empty for an element without one).
struct Expected {
    const char* element;
    ElementName name;
    SizeText size;
};

// Whether the token is that start tag: a line that may be left out is told
// from the next this way.
bool is_start_of(const Token& token, const Expected& expected) {
    const Attribute* name = find_attribute(token, "name");
    return token.kind == TokenKind::start_tag && token.name == expected.element &&
           (expected.name[0] == '\0' || (name && equals(name->value, expected.name.data())));
}

// Takes the start tag of `expected`, whose attributes, in any order, must be
// the element's own: class, subclass and name on the root; name, and size
// with the expected text where the line has one. Returns the tag, which
// stays as it is until the next peek.
const Token& open_element(Reader& reader, const Expected& expected) {
    static constexpr std::string_view root_attributes[] = {"class", "subclass", "name"};
    static constexpr std::string_view line_attributes[] = {"name", "size"};
    const Token& token = peek(reader);
    const bool root = expected.name[0] == '\0';
    const bool sized = expected.size[0] != '\0';
    const char* listed = root ? "class, subclass and name" : sized ? "name and size" : "name";
    if (!is_start_of(token, expected))
        fail(reader, token.offset, root ? "expected <%s>%s, found %s" : R"(expected <%s name="%s">, found %s)",
             expected.element, expected.name.data(), token_text(reader, token).data());
    const std::span<const std::string_view> allowed =
        root ? std::span(root_attributes) : std::span(line_attributes).first(sized ? 2 : 1);
    for (const Attribute& given : std::span(token.attributes).first(token.attribute_count)) {
        // A prefixed name is the schema hint, which the reader lets through on the root only.
        if (std::ranges::find(allowed, given.name) == allowed.end() && given.name.find(':') == std::string_view::npos)
            fail(reader, given.value.offset, "expected only %s attributes on <%s>, found %s", listed, expected.element,
                 shown(reader, given.name, false).data());
        if (given.name == "size" && !equals(given.value, expected.size.data()))
            fail(reader, given.value.offset, R"(expected size="%s" for %s, found size="%s")", expected.size.data(),
                 expected.name.data(), shown(reader, given.value).data());
    }
    const auto missing =
        std::ranges::find_if(allowed, [&](std::string_view name) { return !find_attribute(token, name); });
    if (missing != allowed.end())
        fail(reader, token.offset, root ? "expected a %s attribute on <%s>" : "expected a %s attribute for %s",
             missing->data(), root ? expected.element : expected.name.data());
    take(reader);
    return token;
}

// The value of the element whose start tag was taken: a number that `size`
// bytes hold as unsigned or two's complement, or for a bit (size 0) 0 or 1.
std::uint32_t read_value(Reader& reader, const Expected& expected, std::size_t size) {
    const Text text = read_text(reader);
    const char* name = expected.name.data();
    const bool bit = size == 0;
    if (!text.present)
        fail(reader, peek(reader).offset,
             bit ? "expected 0 or 1 for bit %s, found %s" : "expected the value of %s, found %s", name,
             token_text(reader, peek(reader)).data());
    if (bit ? text.trimmed.length != 1 || !text.is_number || text.number > 1 : !text.is_number)
        fail(reader, text.trimmed.offset,
             bit ? R"(expected 0 or 1 for bit %s, found text "%s")"
                 : R"(expected a decimal number for %s, found text "%s")",
             name, shown(reader, text.trimmed).data());
    if (bit) return static_cast<std::uint32_t>(text.number);
    const int bits = static_cast<int>(8 * size);
    const std::int64_t lowest = -(std::int64_t{1} << (bits - 1));
    const std::int64_t highest = (std::int64_t{1} << bits) - 1;
    if (text.number < lowest || text.number > highest)
        fail(reader, text.trimmed.offset, "%s is %s, which %zu %s cannot hold (%lld to %lld)", name,
             shown(reader, text.trimmed).data(), size, size == 1 ? "byte" : "bytes", static_cast<long long>(lowest),
             static_cast<long long>(highest));
    return static_cast<std::uint32_t>(text.number);
}

// Reads the element of `row` at `position` into `bytes`; returns its length.
// A row the data does not hold is refused, and a structure must start inside it.
std::size_t load_element(Reader& reader, std::span<std::uint8_t> bytes, std::size_t position, const FieldDesc& row,
                         std::int32_t index) {
    const RowKind kind = kind_of(row);
    const Expected expected{element_word(kind), element_name(row, index), size_text(row)};
    const auto length = static_cast<std::size_t>(kind == RowKind::structure ? 0 : row.size);
    if (position > bytes.size() || length > bytes.size() - position)
        fail(reader, peek(reader).offset, "the object ends before %s: needs %zu bytes, has %zu", expected.name.data(),
             position + length, bytes.size());
    const auto field = bytes.subspan(position, length);
    if (line_left_out(kind, 0) && !is_start_of(peek(reader), expected)) {
        write_le(field, 0);
        return length;
    }
    open_element(reader, expected);
    std::size_t span = length;
    if (kind == RowKind::structure) {
        span = static_cast<std::size_t>(load_fields(reader, bytes.subspan(position), row.subtable));
    } else if (kind == RowKind::bitmask) {
        std::uint32_t value = read_le(field);
        for (int i = 0; row.bitnames[i] && i < max_bit_names; ++i) {
            const Expected bit{bit_word, bit_name(row.bitnames, i), {}};
            value &= ~(1U << i);
            if (bit_line_left_out(row.bitnames[i], 0) && !is_start_of(peek(reader), bit)) continue;
            open_element(reader, bit);
            value |= read_value(reader, bit, 0) << i;
            load_end_tag(reader, bit_word);
        }
        write_le(field, value);
    } else {
        write_le(field, read_value(reader, expected, length));
    }
    load_end_tag(reader, expected.element);
    return span;
}

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

}  // namespace

void load_end_tag(Reader& reader, const char* element) {
    const Token& token = peek(reader);
    if (token.kind != TokenKind::end_tag || token.name != element)
        fail(reader, token.offset, "expected </%s>, found %s", element, token_text(reader, token).data());
    take(reader);
}

std::int32_t load_fields(Reader& reader, std::span<std::uint8_t> bytes, const FieldDesc* table) {
    std::size_t span = 0;
    for (const FieldDesc* row = table; row->offset != -1; ++row) {
        auto position = static_cast<std::size_t>(row->offset);
        for (std::int32_t j = 0; j < row->count; ++j) position += load_element(reader, bytes, position, *row, j);
        span = std::max(span, position);
    }
    return static_cast<std::int32_t>(span);
}

void read_document(std::span<const std::uint8_t> document, std::span<std::uint8_t> object, bool has_base) {
    Reader reader = open_document(document);
    const Token& root = open_element(reader, {"object", {}, {}});
    const Value& class_value = find_attribute(root, "class")->value;
    const Value& name = find_attribute(root, "name")->value;
    const std::uint32_t class_byte = hex_attribute(reader, class_value, "class", 2);
    const std::uint32_t subclass = hex_attribute(reader, find_attribute(root, "subclass")->value, "subclass", 6);
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
    load_fields(reader, object.subspan(header_size), table);
    load_end_tag(reader, "object");
    read_epilog(reader);
}
