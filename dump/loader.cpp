#include "dump/loader.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "dump/walker.hpp"

namespace {

// A start tag the loader looks for: element and name attribute, and the
// size attribute where the element has one.
struct Expected {
    const char* element;
    std::string name;
    std::string size;  // empty for an element without a size attribute
};

constexpr bool is_blank_char(char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_blank_char(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank_char(text.back())) text.remove_suffix(1);
    return text;
}

// Document text for a message: trimmed, cut short, made safe for a terminal.
std::string quoted(std::string_view text) {
    constexpr std::size_t longest = 24;
    text = trimmed(text);
    // Appended piece by piece: GCC 12 warns wrongly on "literal" + a temporary string.
    std::string result = "\"";
    result += shown_latin1(text.substr(0, longest));
    result += text.size() <= longest ? "\"" : "...\"";
    return result;
}

}  // namespace

std::string event_text(const XmlEvent& event) {
    switch (event.kind) {
    case XmlEventKind::start_tag: {
        const XmlAttribute* name = xml_attribute(event, "name");
        std::string shown = "<";
        shown += shown_utf8(event.name);
        if (name) shown += " name=\"" + shown_latin1(name->value) + "\"";
        return shown + ">";
    }
    case XmlEventKind::end_tag:
        return "</" + shown_utf8(event.name) + ">";
    case XmlEventKind::text:
        return "text " + quoted(event.text);
    case XmlEventKind::end_of_document:
        break;
    }
    return "the end of the document";
}

namespace {

bool fail_at_event(XmlReader& reader, const std::string& message) {
    return xml_fail(reader, reader.event.line, reader.event.column, message);
}

bool fail_expected(XmlReader& reader, const std::string& expected) {
    return fail_at_event(reader, "expected " + expected + ", found " + event_text(reader.event));
}

// Passes over character data that is only whitespace, between elements.
bool skip_blank_text(XmlReader& reader) {
    while (!reader.failed && reader.event.kind == XmlEventKind::text && trimmed(reader.event.text).empty())
        xml_next(reader);
    return !reader.failed;
}

bool is_start_of(const XmlEvent& event, const Expected& expected) {
    if (event.kind != XmlEventKind::start_tag || event.name != expected.element) return false;
    const XmlAttribute* name = xml_attribute(event, "name");
    return name && name->value == expected.name;
}

// True when the next element is the expected one; an optional line that is
// absent is told from it this way.
bool present(XmlReader& reader, const Expected& expected) {
    return skip_blank_text(reader) && is_start_of(reader.event, expected);
}

std::string tag_text(const Expected& expected) {
    return std::string("<") + expected.element + " name=\"" + expected.name + "\">";
}

bool check_attributes(XmlReader& reader, const Expected& expected) {
    const bool sized = !expected.size.empty();
    for (const XmlAttribute& given : reader.event.attributes) {
        if (given.name == "name") continue;
        if (given.name != "size" || !sized)
            return xml_fail(reader, given.line, given.column,
                            std::string("expected only name") + (sized ? " and size" : "") + " attributes on <" +
                                expected.element + ">, found " + shown_utf8(given.name));
        if (given.value != expected.size)
            return xml_fail(
                reader, given.line, given.column,
                "expected size=\"" + expected.size + "\" for " + expected.name + ", found size=" + quoted(given.value));
    }
    if (sized && !xml_attribute(reader.event, "size"))
        return fail_at_event(reader, "expected a size attribute for " + expected.name);
    return true;
}

bool open_element(XmlReader& reader, const Expected& expected) {
    if (!present(reader, expected)) return !reader.failed && fail_expected(reader, tag_text(expected));
    return check_attributes(reader, expected) && xml_next(reader);
}

// A decimal integer, optionally negative; magnitudes are held at 10^12,
// past every range a field has.
std::optional<std::int64_t> parse_decimal(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::int64_t magnitude = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') return std::nullopt;
        magnitude = std::min<std::int64_t>(magnitude * 10 + (digit - '0'), 1'000'000'000'000);
    }
    return negative ? -magnitude : magnitude;
}

std::string range_text(std::size_t size) {
    const int bits = static_cast<int>(8 * size);
    const std::int64_t lowest = -(std::int64_t{1} << (bits - 1));
    const std::int64_t highest = (std::int64_t{1} << bits) - 1;
    return std::to_string(size) + (size == 1 ? " byte" : " bytes") + " cannot hold (" + std::to_string(lowest) +
           " to " + std::to_string(highest) + ")";
}

// The value of the element whose start tag was read: its text, a number
// that fits `size` bytes as unsigned or two's complement.
std::optional<std::uint32_t> read_number(XmlReader& reader, const std::string& name, std::size_t size) {
    if (reader.event.kind != XmlEventKind::text) return fail_expected(reader, "the value of " + name), std::nullopt;
    const std::optional<std::int64_t> number = parse_decimal(trimmed(reader.event.text));
    if (!number) return fail_expected(reader, "a decimal number for " + name), std::nullopt;
    const int bits = static_cast<int>(8 * size);
    if (*number < -(std::int64_t{1} << (bits - 1)) || *number >= std::int64_t{1} << bits)
        return fail_at_event(reader,
                             name + " is " + std::string(trimmed(reader.event.text)) + ", which " + range_text(size)),
               std::nullopt;
    if (!xml_next(reader)) return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

std::optional<bool> read_bit(XmlReader& reader, const std::string& name) {
    const std::string_view text = trimmed(reader.event.text);
    if (reader.event.kind != XmlEventKind::text || (text != "0" && text != "1"))
        return fail_expected(reader, "0 or 1 for bit " + name), std::nullopt;
    const bool set = text == "1";
    if (!xml_next(reader)) return std::nullopt;
    return set;
}

// A variable line, or an unknown line, which is 0 when absent.
void load_value(XmlReader& reader, std::span<std::uint8_t> field, const Expected& expected, bool optional) {
    if (optional && !present(reader, expected)) {
        write_le(field, 0);
        return;
    }
    if (!open_element(reader, expected)) return;
    const std::optional<std::uint32_t> value = read_number(reader, expected.name, field.size());
    if (!value) return;
    write_le(field, *value);
    load_end_tag(reader, expected.element);
}

// The bit lines of a bitmask; an unnamed bit whose line is absent is clear.
void load_bits(XmlReader& reader, std::span<std::uint8_t> field, const char* const* bitnames) {
    std::uint32_t value = read_le(field);
    for (int i = 0; bitnames[i] && i < max_bit_names && !reader.failed; ++i) {
        const Expected expected{"bit", bit_name(bitnames, i).data(), ""};
        const std::uint32_t mask = 1U << i;
        value &= ~mask;
        if (!bitnames[i][0] && !present(reader, expected)) continue;
        if (!open_element(reader, expected)) return;
        const std::optional<bool> bit = read_bit(reader, expected.name);
        if (!bit || !load_end_tag(reader, "bit")) return;
        if (*bit) value |= mask;
    }
    write_le(field, value);
}

void load_bitmask(XmlReader& reader, std::span<std::uint8_t> field, const FieldDesc& row, const Expected& expected) {
    if (!open_element(reader, expected)) return;
    load_bits(reader, field, row.bitnames);
    if (!reader.failed) load_end_tag(reader, "bitmask");
}

void load_structure(XmlReader& reader, std::span<std::uint8_t> rest, const FieldDesc& row, const Expected& expected,
                    int depth) {
    if (open_element(reader, expected) && load_fields(reader, rest, row.subtable, depth + 1))
        load_end_tag(reader, "structure");
}

std::string size_attribute(const FieldDesc& row) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), kind_of(row) == RowKind::bitmask ? "%d" : "%X",
                  static_cast<unsigned>(row.size));
    return text.data();
}

// Refuses a row whose bytes the data does not hold, or whose size the walker cannot write.
bool check_room(XmlReader& reader, std::span<std::uint8_t> bytes, std::size_t position, const FieldDesc& row,
                const std::string& name) {
    const bool structure = kind_of(row) == RowKind::structure;
    if (!structure && (row.size < 1 || row.size > 4))
        return fail_at_event(reader,
                             "the layout gives " + name + " " + std::to_string(row.size) + " bytes, not 1 to 4");
    const std::size_t length = structure ? 0 : static_cast<std::size_t>(row.size);
    if (position <= bytes.size() && length <= bytes.size() - position) return true;
    return fail_at_event(reader, "the object ends before " + name + ": needs " + std::to_string(position + length) +
                                     " bytes, has " + std::to_string(bytes.size()));
}

// Loads one element and returns its length.
std::size_t load_element(XmlReader& reader, std::span<std::uint8_t> bytes, std::size_t position, const FieldDesc& row,
                         std::int32_t index, int depth) {
    const auto size = static_cast<std::size_t>(row.size);
    Expected expected{"structure", element_name(row, index).data(), ""};
    if (!check_room(reader, bytes, position, row, expected.name)) return 0;
    switch (kind_of(row)) {
    case RowKind::structure:
        load_structure(reader, bytes.subspan(position), row, expected, depth);
        return static_cast<std::size_t>(layout_span(row.subtable));
    case RowKind::bitmask:
        expected = {"bitmask", expected.name, size_attribute(row)};
        load_bitmask(reader, bytes.subspan(position, size), row, expected);
        return size;
    case RowKind::variable:
    case RowKind::unknown:
        break;
    }
    const bool unknown = kind_of(row) == RowKind::unknown;
    expected = {unknown ? "unknown" : "variable", expected.name, size_attribute(row)};
    load_value(reader, bytes.subspan(position, size), expected, unknown);
    return size;
}

}  // namespace

bool load_end_tag(XmlReader& reader, const char* element) {
    if (!skip_blank_text(reader)) return false;
    if (reader.event.kind != XmlEventKind::end_tag) return fail_expected(reader, std::string("</") + element + ">");
    return xml_next(reader);
}

bool load_fields(XmlReader& reader, std::span<std::uint8_t> bytes, const FieldDesc* table, int depth) {
    if (depth > max_depth) return fail_at_event(reader, "the layout nests deeper than the walker writes");
    for (const FieldDesc* row = table; row->offset != -1 && !reader.failed; ++row) {
        auto position = static_cast<std::size_t>(row->offset);
        for (std::int32_t j = 0; j < row->count && !reader.failed; ++j)
            position += load_element(reader, bytes, position, *row, j, depth);
    }
    return !reader.failed;
}
