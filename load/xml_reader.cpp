#include "load/xml_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr bool is_blank(char32_t code) { return code == ' ' || code == '\t' || code == '\n' || code == '\r'; }
constexpr bool is_digit(char32_t code) { return code >= '0' && code <= '9'; }
constexpr bool is_name_byte(unsigned byte, bool first) {
    const unsigned lower = byte | 0x20;
    return (lower >= 'a' && lower <= 'z') || byte == '_' || byte >= 0x80 ||
           (!first && (is_digit(byte) || byte == '-' || byte == '.'));
}
constexpr bool is_xml_char(char32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// What each byte is by itself: a character in UTF-8 and US-ASCII, one in
// ISO-8859-1, a blank.
enum ByteClass : std::uint8_t { plain_ascii = 1, plain_latin1 = 2, blank = 4 };
constexpr auto byte_classes = [] {
    std::array<std::uint8_t, 256> table{};
    for (char32_t byte = 0; byte < table.size(); ++byte) {
        const bool character = byte >= 0x20 || is_blank(byte);
        table[byte] = static_cast<std::uint8_t>((character && byte < 0x80 ? plain_ascii : 0) |
                                                (character ? plain_latin1 : 0) | (is_blank(byte) ? blank : 0));
    }
    return table;
}();

bool looking_at(const Reader& reader, std::size_t at, std::string_view literal) {
    return at <= reader.input.size() && reader.input.size() - at >= literal.size() &&
           std::memcmp(reader.input.data() + at, literal.data(), literal.size()) == 0;
}

bool byte_is(const Reader& reader, std::size_t at, char byte) { return looking_at(reader, at, {&byte, 1}); }

struct Char {
    char32_t code;
    std::size_t length;
};

// The UTF-8 sequence's code and length, or length 0 where the bytes are
// none: overlong forms, surrogates and values past U+10FFFF are not.
Char decode_utf8(const std::uint8_t* bytes, std::size_t size) {
    const unsigned lead = bytes[0];
    const std::size_t length = lead < 0xC2 ? 0 : lead <= 0xDF ? 2 : lead <= 0xEF ? 3 : lead <= 0xF4 ? 4 : 0;
    if (length == 0 || size < length) return {0, 0};
    char32_t code = lead & (0x7FU >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) return {0, 0};
        code = code << 6 | (bytes[i] & 0x3FU);
    }
    constexpr std::array<char32_t, 5> least{0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {0, 0};
    return {code, length};
}

// The character at `at`: one of the document's encoding, and one XML allows.
Char char_at(const Reader& reader, std::size_t at) {
    const unsigned lead = reader.input[at];
    Char decoded{lead, 1};
    if (lead >= 0x80 && reader.encoding == Encoding::ascii)
        fail(reader, at, "expected a US-ASCII character, found byte 0x%02X", lead);
    if (lead >= 0x80 && reader.encoding == Encoding::utf8)
        decoded = decode_utf8(reader.input.data() + at, reader.input.size() - at);
    if (decoded.length == 0) fail(reader, at, "expected UTF-8, found byte 0x%02X", lead);
    if (!is_xml_char(decoded.code))
        fail(reader, at, "character U+%04X is not allowed in XML", static_cast<unsigned>(decoded.code));
    return decoded;
}

// Where the run of bytes from `at` whose class has one of `bits` ends;
// eight at a time, as the bytes of a document mostly are.
std::size_t run_end(const Reader& reader, std::size_t at, unsigned bits) {
    const std::uint8_t* bytes = reader.input.data();
    for (const std::size_t size = reader.input.size(); size - at >= 8; at += 8) {
        const unsigned all = byte_classes[bytes[at]] & byte_classes[bytes[at + 1]] & byte_classes[bytes[at + 2]] &
                             byte_classes[bytes[at + 3]] & byte_classes[bytes[at + 4]] & byte_classes[bytes[at + 5]] &
                             byte_classes[bytes[at + 6]] & byte_classes[bytes[at + 7]];
        if (!(all & bits)) break;
    }
    while (at < reader.input.size() && (byte_classes[bytes[at]] & bits)) ++at;
    return at;
}

// The one pass that checks every byte: a lookup for each, the rest decoded.
void check_encoding(const Reader& reader, std::size_t at) {
    const unsigned plain = reader.encoding == Encoding::latin1 ? plain_latin1 : plain_ascii;
    for (at = run_end(reader, at, plain); at < reader.input.size(); at = run_end(reader, at, plain))
        at += char_at(reader, at).length;
}

[[noreturn]] void fail_expected(const Reader& reader, std::size_t at, const char* expected) {
    const char32_t code = at < reader.input.size() ? char_at(reader, at).code : 0;
    const char* found = code == 0                      ? "the end of the document"
                        : code == '\n' || code == '\r' ? "a line end"
                        : code == ' '                  ? "a space"
                        : code > ' ' && code < 0x7F    ? "\"%c\""
                                                       : "character U+%04X";
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), found, static_cast<unsigned>(code));
    fail(reader, at, "expected %s, found %s", expected, text.data());
}

void expect(const Reader& reader, std::size_t& at, char byte, const char* expected) {
    if (!byte_is(reader, at, byte)) fail_expected(reader, at, expected);
    ++at;
}

bool skip_blanks(const Reader& reader, std::size_t& at) {
    const std::size_t start = at;
    at = run_end(reader, at, blank);
    return at != start;
}

std::size_t past_comment(const Reader& reader, std::size_t at) {
    const std::uint8_t* bytes = reader.input.data();
    for (at += 4;; ++at) {
        const void* dash = at < reader.input.size() ? std::memchr(bytes + at, '-', reader.input.size() - at) : nullptr;
        if (!dash) fail_expected(reader, reader.input.size(), "\"-->\"");
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(dash) - bytes);
        if (looking_at(reader, at, "-->")) return at + 3;
        if (looking_at(reader, at, "--")) fail(reader, at, "\"--\" is not allowed inside a comment");
    }
}

// Blanks and comments, before, between or after elements.
std::size_t past_blanks_and_comments(const Reader& reader, std::size_t at) {
    while (skip_blanks(reader, at), looking_at(reader, at, "<!--")) at = past_comment(reader, at);
    return at;
}

// "=" between optional blanks, then a value's opening quote, which it
// returns; `at` moves past them.
char open_value(const Reader& reader, std::size_t& at) {
    skip_blanks(reader, at);
    expect(reader, at, '=', "\"=\"");
    skip_blanks(reader, at);
    if (!byte_is(reader, at, '"') && !byte_is(reader, at, '\'')) fail_expected(reader, at, "a quoted value");
    return static_cast<char>(reader.input[at++]);
}

// The attributes an XML editor puts on the root element to tie a document
// to its schema: the only prefixed names read, and only there.
constexpr std::string_view schema_hint[] = {"xmlns:xsi", "xsi:noNamespaceSchemaLocation"};
constexpr std::string_view schema_instance = "http://www.w3.org/2001/XMLSchema-instance";

std::string_view read_name(const Reader& reader, std::size_t& at, bool hint_allowed = false) {
    const std::size_t start = at;
    while (at < reader.input.size() && is_name_byte(reader.input[at], at == start)) ++at;
    if (at == start) fail_expected(reader, at, "a name");
    const std::size_t colon = at;
    if (hint_allowed && byte_is(reader, at, ':'))
        for (++at; at < reader.input.size() && is_name_byte(reader.input[at], false);) ++at;
    const std::string_view name{reinterpret_cast<const char*>(reader.input.data()) + start, at - start};
    if (byte_is(reader, at, ':') || (at != colon && std::ranges::find(schema_hint, name) == std::end(schema_hint)))
        fail_expected(reader, colon, "a name without a namespace prefix");
    return name;
}

// The character a reference at `at` ("&") stands for; `at` moves past it.
// Only the predefined entities exist, as a DOCTYPE is refused.
char32_t read_reference(const Reader& reader, std::size_t& at) {
    static constexpr std::pair<std::string_view, char> entities[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''},
    };
    const std::size_t start = at++;
    char32_t code = 0;
    if (byte_is(reader, at, '#')) {
        const bool hex = byte_is(reader, ++at, 'x');
        const char* digits = reinterpret_cast<const char*>(reader.input.data()) + (at += hex ? 1 : 0);
        std::uint32_t value = 0;
        const auto [end, error] = std::from_chars(digits, digits + (reader.input.size() - at), value, hex ? 16 : 10);
        at += static_cast<std::size_t>(end - digits);
        if (end == digits) fail_expected(reader, at, hex ? "a hexadecimal digit" : "a decimal digit");
        code = value;
        if (error != std::errc{} || !is_xml_char(code))
            fail(reader, at, "the reference is to a character XML does not allow");
    } else {
        const std::string_view name = read_name(reader, at);
        const auto* entity = std::ranges::find(entities, name, &std::pair<std::string_view, char>::first);
        if (entity == std::end(entities))
            fail(reader, start, R"(expected lt, gt, amp, quot, apos or "#" after "&", found %s)",
                 shown(reader, name, false).data());
        code = static_cast<char32_t>(entity->second);
    }
    expect(reader, at, ';', "\";\"");
    return code;
}

// A character of a value or of text, `at` moved past it: a reference
// decoded, a line end (CR LF, CR) as "\n", in a value a literal blank as a
// space. It must have an ISO-8859-1 byte.
char32_t value_char(const Reader& reader, std::size_t& at, bool attribute) {
    const std::size_t start = at;
    char32_t code = reader.input[at];
    if (code >= ' ' && code < 0x80 && code != '&') {  // checked already, as every plain byte
        ++at;
    } else if (code == '&') {
        code = read_reference(reader, at);
    } else {
        const Char decoded = char_at(reader, at);
        at += decoded.length;
        code = decoded.code == '\r' ? '\n' : decoded.code;
        if (decoded.code == '\r' && byte_is(reader, at, '\n')) ++at;
        if (attribute && is_blank(code)) code = ' ';
    }
    if (code > 0xFF) fail(reader, start, "character U+%04X has no ISO-8859-1 byte", static_cast<unsigned>(code));
    return code;
}

void append(Value& value, char32_t code) {
    if (value.length < value.bytes.size()) value.bytes[value.length] = static_cast<char>(code);
    ++value.length;
}

// An attribute's "=" and quoted value at `at`, decoded into `value`.
void read_quoted(const Reader& reader, std::size_t& at, Value& value) {
    for (const char quote = open_value(reader, at); !byte_is(reader, at, quote);) {
        if (at >= reader.input.size()) fail_expected(reader, at, "the value's closing quote");
        if (byte_is(reader, at, '<')) fail(reader, at, "\"<\" is not allowed in an attribute value");
        append(value, value_char(reader, at, true));
    }
    ++at;
}

// Markup at `at` that the documents never hold is refused by name.
void refuse_markup(const Reader& reader, std::size_t at) {
    if (looking_at(reader, at, "<![CDATA[")) fail(reader, at, "CDATA sections are not accepted");
    if (looking_at(reader, at, "<!DOCTYPE")) fail(reader, at, "a DOCTYPE is not accepted");
    if (looking_at(reader, at, "<?")) fail(reader, at, "processing instructions are not accepted");
    if (looking_at(reader, at, "<!")) fail(reader, at, "expected an element or a comment after \"<\"");
}

// The tag at the token's offset: its name, and a start tag's attributes,
// their values decoded. Markup the documents never hold is refused.
void read_tag(const Reader& reader, Token& token) {
    refuse_markup(reader, token.offset);
    const bool end_tag = looking_at(reader, token.offset, "</");
    std::size_t at = token.offset + (end_tag ? 2 : 1);
    token.kind = end_tag ? TokenKind::end_tag : TokenKind::start_tag;
    token.name = read_name(reader, at);
    while (!end_tag) {
        const bool spaced = skip_blanks(reader, at);
        if (byte_is(reader, at, '>') || looking_at(reader, at, "/>")) break;
        if (!spaced) fail_expected(reader, at, R"(a space, ">" or "/>")");
        if (token.attribute_count == token.attributes.size())
            fail_expected(reader, at, R"(">" or "/>" after 16 attributes)");
        Attribute& attribute = token.attributes[token.attribute_count] = {};
        attribute.value.offset = at;
        attribute.name = read_name(reader, at, token.offset == reader.root);
        if (attribute.name == "xmlns") fail(reader, attribute.value.offset, "namespace declarations are not accepted");
        read_quoted(reader, at, attribute.value);
        if (attribute.name == schema_hint[0] && !equals(attribute.value, schema_instance))
            fail(reader, attribute.value.offset, R"(expected xmlns:xsi="%s")", schema_instance.data());
        if (find_attribute(token, attribute.name))
            fail(reader, attribute.value.offset, "attribute %s is given twice",
                 shown(reader, attribute.name, false).data());
        ++token.attribute_count;
    }
    if (const Attribute* hint = find_attribute(token, schema_hint[1]); hint && !find_attribute(token, schema_hint[0]))
        fail(reader, hint->value.offset, "the prefix xsi is not declared");
    skip_blanks(reader, at);
    token.empty = !end_tag && byte_is(reader, at, '/');
    at += token.empty ? 1 : 0;
    expect(reader, at, '>', "\">\"");
    token.end = at;
}

// A decimal integer's character at `position`, counted from 1.
constexpr bool number_char(char32_t code, std::size_t position) {
    return is_digit(code) || (code == '-' && position == 1);
}

// Scans the run of text at `at`, which moves to its end.
Text scan_text(const Reader& reader, std::size_t& at) {
    Text text;
    Value& trimmed = text.trimmed;
    Value run;  // from the first character that is not blank
    bool number = true;
    std::int64_t magnitude = 0;
    for (;;) {
        while (looking_at(reader, at, "<!--")) at = past_comment(reader, at);
        if (at >= reader.input.size() || byte_is(reader, at, '<')) break;
        if (looking_at(reader, at, "]]>")) fail(reader, at, "\"]]>\" is not allowed in text");
        const std::size_t start = at;
        const char32_t code = value_char(reader, at, false);
        // A message points at the text, not at the blanks before it.
        if (!text.present || (run.length == 0 && !is_blank(code))) trimmed.offset = start;
        text.present = true;
        if (is_blank(code) && run.length == 0) continue;
        append(run, code);
        if (is_blank(code)) continue;
        number = number && run.length == trimmed.length + 1 && number_char(code, run.length);  // no blank inside
        if (is_digit(code)) magnitude = std::min<std::int64_t>(magnitude * 10 + (code - '0'), 1'000'000'000'000);
        trimmed.length = run.length;
    }
    trimmed.bytes = run.bytes;
    const bool negative = trimmed.length != 0 && trimmed.bytes[0] == '-';
    text.is_number = number && trimmed.length > (negative ? 1U : 0U);
    text.number = negative ? -magnitude : magnitude;
    return text;
}

// A pseudo-attribute of the declaration, blanks before it, into `value`;
// false, `at` unmoved, where its name is not there.
bool read_pseudo_attribute(const Reader& reader, std::size_t& at, std::string_view name, Value& value) {
    std::size_t next = at;
    if (!skip_blanks(reader, next) || !looking_at(reader, next, name)) return false;
    at = next + name.size();
    for (const char quote = open_value(reader, at); !byte_is(reader, at, quote); ++at) {
        const unsigned byte = at < reader.input.size() ? reader.input[at] : 0;
        if (byte >= 0x80 || !is_name_byte(byte, false))
            fail_expected(reader, at, R"(a letter, a digit, ".", "_" or "-")");
        append(value, byte);
    }
    ++at;
    return true;
}

// The names a declaration may give each encoding, compared without regard
// to case: the registered names and aliases, and the spellings common
// writers use. XML allows no ":" in an encoding name, so the aliases
// ISO_8859-1:1987 and ISO_646.irv:1991 cannot be given.
// clang-format off
constexpr std::pair<std::string_view, Encoding> encoding_names[] = {
    {"UTF-8",          Encoding::utf8  },
    {"UTF8",           Encoding::utf8  },
    {"ISO-8859-1",     Encoding::latin1},
    {"ISO_8859-1",     Encoding::latin1},
    {"ISO8859-1",      Encoding::latin1},
    {"latin1",         Encoding::latin1},
    {"latin-1",        Encoding::latin1},
    {"l1",             Encoding::latin1},
    {"IBM819",         Encoding::latin1},
    {"CP819",          Encoding::latin1},
    {"csISOLatin1",    Encoding::latin1},
    {"ISO-IR-100",     Encoding::latin1},
    {"US-ASCII",       Encoding::ascii },
    {"ASCII",          Encoding::ascii },
    {"us",             Encoding::ascii },
    {"ANSI_X3.4-1968", Encoding::ascii },
    {"ANSI_X3.4-1986", Encoding::ascii },
    {"ISO646-US",      Encoding::ascii },
    {"IBM367",         Encoding::ascii },
    {"cp367",          Encoding::ascii },
    {"csASCII",        Encoding::ascii },
    {"iso-ir-6",       Encoding::ascii },
};
// clang-format on

bool same_letters(char a, char b) { return (a | 0x20) == (b | 0x20); }  // names hold letters, digits, "-", "_", "."

// "<?xml" and a blank start the declaration; an old editor's CR is a blank.
void read_declaration(Reader& reader, bool byte_order_mark) {
    std::size_t at = reader.at;
    if (!looking_at(reader, at, "<?xml") || at + 5 >= reader.input.size() || !is_blank(reader.input[at + 5])) return;
    Value version;
    if (!read_pseudo_attribute(reader, at += 5, "version", version)) fail_expected(reader, at, "version=\"1.0\"");
    if (!equals(version, "1.0")) fail(reader, at, "expected version 1.0");
    const std::size_t start = at;
    if (Value name; read_pseudo_attribute(reader, at, "encoding", name)) {
        const auto* known = std::ranges::find_if(encoding_names, [&](const auto& row) {
            return name.length == row.first.size() && std::ranges::equal(kept(name), row.first, same_letters);
        });
        if (known == std::end(encoding_names)) fail(reader, start, "expected encoding ISO-8859-1, UTF-8 or US-ASCII");
        reader.encoding = known->second;
        if (byte_order_mark && reader.encoding != Encoding::utf8)
            fail(reader, start, "expected encoding UTF-8 after a UTF-8 byte order mark");
    }
    if (Value standalone; read_pseudo_attribute(reader, at, "standalone", standalone) && !equals(standalone, "yes") &&
                          !equals(standalone, "no"))
        fail(reader, at, R"(expected standalone="yes" or "no")");
    skip_blanks(reader, at);
    if (!looking_at(reader, at, "?>")) fail_expected(reader, at, "\"?>\"");
    reader.at = at + 2;
}

}  // namespace

const Attribute* find_attribute(const Token& token, std::string_view name) {
    for (std::size_t i = 0; i < token.attribute_count; ++i)
        if (token.attributes[i].name == name) return &token.attributes[i];
    return nullptr;
}

Reader open_document(std::span<const std::uint8_t> document) {
    Reader reader;
    reader.input = document;
    // Notepad's "Unicode": a byte order mark, or a zero byte beside an ASCII one.
    if (looking_at(reader, 0, "\xFF\xFE") || looking_at(reader, 0, "\xFE\xFF") ||
        (document.size() >= 2 && (document[0] == 0) != (document[1] == 0)))
        fail(reader, 0, "expected encoding ISO-8859-1, UTF-8 or US-ASCII, found UTF-16");
    reader.at = looking_at(reader, 0, "\xEF\xBB\xBF") ? 3 : 0;
    read_declaration(reader, reader.at != 0);
    check_encoding(reader, reader.at);
    reader.at = past_blanks_and_comments(reader, reader.at);
    refuse_markup(reader, reader.at);
    if (!byte_is(reader, reader.at, '<')) fail_expected(reader, reader.at, "the root element");
    reader.root = reader.at;
    return reader;
}

const Token& peek(Reader& reader) {
    if (reader.token_at == reader.at) return reader.token;
    Token& token = reader.token;
    token.kind = TokenKind::end_of_document;
    token.attribute_count = 0;
    token.empty = false;
    std::size_t at = past_blanks_and_comments(reader, reader.at);
    if (at < reader.input.size() && !byte_is(reader, at, '<')) {  // blank only where references are
        const Text text = scan_text(reader, at = reader.at);
        token.kind = text.trimmed.length != 0 ? TokenKind::text : token.kind;
        token.offset = token.end = text.trimmed.offset;
        token.text = text.trimmed;
    }
    if (token.kind != TokenKind::text) {
        token.offset = token.end = reader.at = at;
        if (at < reader.input.size()) read_tag(reader, token);
    }
    reader.token_at = reader.at;
    return token;
}

void take(Reader& reader) {
    Token& token = reader.token;
    peek(reader);
    reader.at = token.end;
    reader.token_at = token.empty ? reader.at : SIZE_MAX;
    token.kind = token.empty ? TokenKind::end_tag : token.kind;
    token.empty = false;
}

Text read_text(Reader& reader) {
    if (reader.token_at == reader.at) return {};  // the end tag of "<x/>"
    return scan_text(reader, reader.at);
}

void read_epilog(Reader& reader) {
    reader.at = past_blanks_and_comments(reader, reader.at);
    refuse_markup(reader, reader.at);
    if (reader.at < reader.input.size()) fail_expected(reader, reader.at, "only comments after the root element");
}

Shown shown(const Reader& reader, std::string_view text, bool latin1) {
    constexpr std::size_t most = 24;  // characters
    const bool utf8 = !latin1 && reader.encoding == Encoding::utf8;
    Shown result{};
    std::size_t end = 0;
    std::size_t at = 0;
    for (std::size_t count = 0; at < text.size() && count < most; ++count) {
        const auto byte = static_cast<unsigned char>(text[at]);
        std::size_t length = 1;
        while (utf8 && byte >= 0xC0 && length < 4 && at + length < text.size() && (text[at + length] & 0xC0) == 0x80)
            ++length;
        const bool c1 = utf8 ? byte == 0xC2 && length == 2 && static_cast<unsigned char>(text[at + 1]) < 0xA0
                             : byte >= 0x80 && byte < 0xA0;
        if (byte < 0x20 || byte == 0x7F || c1) {
            result[end++] = '?';
        } else if (!utf8 && byte >= 0x80) {  // ISO-8859-1 in UTF-8
            result[end++] = static_cast<char>(0xC0 | byte >> 6);
            result[end++] = static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            std::memcpy(result.data() + end, text.data() + at, length);
            end += length;
        }
        at += length;
    }
    if (at < text.size()) std::memcpy(result.data() + end, "...", 3);
    return result;
}

std::array<char, 240> token_text(const Reader& reader, const Token& token) {
    std::array<char, 240> text{};
    const Attribute* name = find_attribute(token, "name");
    if (token.kind == TokenKind::start_tag)
        std::snprintf(text.data(), text.size(), name ? "<%s name=\"%s\">" : "<%s>",
                      shown(reader, token.name, false).data(), name ? shown(reader, name->value).data() : "");
    else if (token.kind == TokenKind::end_tag)
        std::snprintf(text.data(), text.size(), "</%s>", shown(reader, token.name, false).data());
    else if (token.kind == TokenKind::text)
        std::snprintf(text.data(), text.size(), "text \"%s\"", shown(reader, token.text).data());
    else
        std::snprintf(text.data(), text.size(), "the end of the document");
    return text;
}

void fail(const Reader& reader, std::size_t offset, const char* format, ...) {
    std::size_t line = 1;
    std::size_t column = 1;
    // Columns start after a byte order mark.
    for (std::size_t i = looking_at(reader, 0, "\xEF\xBB\xBF") ? 3 : 0; i < offset && i < reader.input.size(); ++i) {
        const unsigned byte = reader.input[i];
        const bool line_end = byte == '\n' || (byte == '\r' && !byte_is(reader, i + 1, '\n'));
        column = line_end ? 1 : column + (reader.encoding != Encoding::utf8 || (byte & 0xC0) != 0x80 ? 1 : 0);
        line += line_end ? 1 : 0;
    }
    std::array<char, sizeof(ReadError::message)> message{};
    va_list args;
    va_start(args, format);
    std::vsnprintf(message.data(), message.size(), format, args);
    va_end(args);
    throw ReadError{line, column, message};
}
