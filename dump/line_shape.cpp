#include "dump/line_shape.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

// Writes `value` at `at` in decimal, or in uppercase hex as "%X" does; returns its end.
char* put_number(char* at, char* last, unsigned value, int base) {
    char* end = std::to_chars(at, last, value, base).ptr;
    std::transform(at, end, at, [](char digit) { return digit >= 'a' ? static_cast<char>(digit - 'a' + 'A') : digit; });
    return end;
}

// Writes `text`, at most the longest name, at `at`; returns its end.
char* put_text(char* at, const char* text) {
    return std::copy_n(text, std::min<std::size_t>(std::strlen(text), max_name_length), at);
}

}  // namespace

ElementName element_name(const FieldDesc& row, std::int32_t index) {
    ElementName name{};
    char* last = name.data() + name.size() - 1;
    char* end = row.name[0] ? put_text(name.data(), row.name)
                            : put_number(put_text(name.data(), "field_"), last, static_cast<unsigned>(row.offset), 16);
    if (row.count > 1) {
        *end++ = '[';
        *put_number(end, last, static_cast<unsigned>(index), 10) = ']';
    }
    return name;
}

ElementName bit_name(const char* const* bitnames, int index) {
    ElementName name{};
    if (bitnames[index][0])
        put_text(name.data(), bitnames[index]);
    else
        put_number(put_text(name.data(), "bit"), name.data() + name.size() - 1, static_cast<unsigned>(index), 10);
    return name;
}

SizeText size_text(const FieldDesc& row) {
    SizeText text{};
    if (kind_of(row) != RowKind::structure)
        put_number(text.data(), text.data() + text.size() - 1, static_cast<unsigned>(row.size),
                   kind_of(row) == RowKind::bitmask ? 10 : 16);
    return text;
}
