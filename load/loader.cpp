#include "load/loader.hpp"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "dump/line_shape.hpp"

namespace {

// A start tag the loader looks for: its element word, name attribute and
// size attribute, which is empty for an element without one.
struct Expected {
    const char* element;
    ElementName name;
    SizeText size;
};

bool is_start_of(const Token& token, const Expected& expected) {
    const Attribute* name = find_attribute(token, "name");
    return token.kind == TokenKind::start_tag && token.name == expected.element && name &&
           equals(name->value, expected.name.data());
}

// Whether the next element is the expected one: a line that may be left
// out is told from the next this way.
bool present(Reader& reader, const Expected& expected) { return is_start_of(peek(reader), expected); }

// In the order they are given: only name, and size where the element has one, of the expected size.
void check_attributes(const Reader& reader, const Token& token, const Expected& expected) {
    const bool sized = expected.size[0] != '\0';
    for (std::size_t i = 0; i < token.attribute_count; ++i) {
        const Attribute& given = token.attributes[i];
        if (given.name == "name") continue;
        if (given.name != "size" || !sized)
            fail(reader, given.value.offset, "expected only name%s attributes on <%s>, found %s",
                 sized ? " and size" : "", expected.element, shown(reader, given.name, false).data());
        if (!equals(given.value, expected.size.data()))
            fail(reader, given.value.offset, R"(expected size="%s" for %s, found size="%s")", expected.size.data(),
                 expected.name.data(), shown(reader, given.value).data());
    }
    if (sized && !find_attribute(token, "size"))
        fail(reader, token.offset, "expected a size attribute for %s", expected.name.data());
}

void open_element(Reader& reader, const Expected& expected) {
    const Token& token = peek(reader);
    if (!is_start_of(token, expected))
        fail(reader, token.offset, R"(expected <%s name="%s">, found %s)", expected.element, expected.name.data(),
             token_text(reader, token).data());
    check_attributes(reader, token, expected);
    take(reader);
}

// The text of the element whose start tag was taken.
Text element_text(Reader& reader, const char* what, const char* name) {
    const Text text = read_text(reader);
    if (!text.present) {
        const Token& token = peek(reader);
        fail(reader, token.offset, "expected %s%s, found %s", what, name, token_text(reader, token).data());
    }
    return text;
}

// A value, which must fit `size` bytes as unsigned or two's complement.
std::uint32_t read_number(Reader& reader, const char* name, std::size_t size) {
    const Text text = element_text(reader, "the value of ", name);
    if (!text.is_number)
        fail(reader, text.trimmed.offset, R"(expected a decimal number for %s, found text "%s")", name,
             shown(reader, text.trimmed).data());
    const int bits = static_cast<int>(8 * size);
    const std::int64_t lowest = -(std::int64_t{1} << (bits - 1));
    const std::int64_t highest = (std::int64_t{1} << bits) - 1;
    if (text.number < lowest || text.number > highest)
        fail(reader, text.trimmed.offset, "%s is %s, which %zu %s cannot hold (%lld to %lld)", name,
             shown(reader, text.trimmed).data(), size, size == 1 ? "byte" : "bytes", static_cast<long long>(lowest),
             static_cast<long long>(highest));
    return static_cast<std::uint32_t>(text.number);
}

bool read_bit(Reader& reader, const char* name) {
    const Text text = element_text(reader, "0 or 1 for bit ", name);
    const std::string_view value = kept(text.trimmed);
    if (text.trimmed.length != 1 || (value != "0" && value != "1"))
        fail(reader, text.trimmed.offset, R"(expected 0 or 1 for bit %s, found text "%s")", name,
             shown(reader, text.trimmed).data());
    return value == "1";
}

// The `length` bytes at `position`; a row the data does not hold is refused.
std::span<std::uint8_t> field_bytes(Reader& reader, std::span<std::uint8_t> bytes, std::size_t position,
                                    std::size_t length, const Expected& expected) {
    if (position > bytes.size() || length > bytes.size() - position)
        fail(reader, peek(reader).offset, "the object ends before %s: needs %zu bytes, has %zu", expected.name.data(),
             position + length, bytes.size());
    return bytes.subspan(position, length);
}

// Each reads one element at `position` and returns its length.

std::size_t load_bitmask(Reader& reader, std::span<std::uint8_t> bytes, std::size_t position, const FieldDesc& row,
                         const Expected& expected) {
    const auto field = field_bytes(reader, bytes, position, static_cast<std::size_t>(row.size), expected);
    open_element(reader, expected);
    std::uint32_t value = read_le(field);
    for (int i = 0; row.bitnames[i] && i < max_bit_names; ++i) {
        const Expected bit{bit_word, bit_name(row.bitnames, i), {}};
        const std::uint32_t mask = 1U << i;
        value &= ~mask;
        if (bit_line_left_out(row.bitnames[i], 0) && !present(reader, bit)) continue;
        open_element(reader, bit);
        if (read_bit(reader, bit.name.data())) value |= mask;
        load_end_tag(reader, bit_word);
    }
    write_le(field, value);
    load_end_tag(reader, expected.element);
    return field.size();
}

std::size_t load_structure(Reader& reader, std::span<std::uint8_t> bytes, std::size_t position, const FieldDesc& row,
                           const Expected& expected) {
    field_bytes(reader, bytes, position, 0, expected);  // the element must start inside the data
    open_element(reader, expected);
    const std::int32_t span = load_fields(reader, bytes.subspan(position), row.subtable);
    load_end_tag(reader, expected.element);
    return static_cast<std::size_t>(span);
}

std::size_t load_value(Reader& reader, std::span<std::uint8_t> bytes, std::size_t position, const FieldDesc& row,
                       const Expected& expected) {
    const auto field = field_bytes(reader, bytes, position, static_cast<std::size_t>(row.size), expected);
    if (line_left_out(kind_of(row), 0) && !present(reader, expected)) {
        write_le(field, 0);
        return field.size();
    }
    open_element(reader, expected);
    write_le(field, read_number(reader, expected.name.data(), field.size()));
    load_end_tag(reader, expected.element);
    return field.size();
}

std::size_t load_element(Reader& reader, std::span<std::uint8_t> bytes, std::size_t position, const FieldDesc& row,
                         std::int32_t index) {
    const Expected expected{element_word(kind_of(row)), element_name(row, index), size_text(row)};
    switch (kind_of(row)) {
    case RowKind::bitmask:
        return load_bitmask(reader, bytes, position, row, expected);
    case RowKind::structure:
        return load_structure(reader, bytes, position, row, expected);
    case RowKind::variable:
    case RowKind::unknown:
        break;
    }
    return load_value(reader, bytes, position, row, expected);
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
