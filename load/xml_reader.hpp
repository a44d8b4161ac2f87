// A pull reader for documents of the shape the walker writes. The bytes are
// checked once for the declared encoding and for the characters XML allows;
// after that all markup is ASCII, so tags are lexed as bytes and a token is
// a view into the document. Text is scanned where it lies. A fault is
// thrown as a ReadError, its line and column worked out from its offset.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/platform.hpp"

// Where reading stopped and why; line and column count from 1.
struct ReadError {
    std::size_t line;
    std::size_t column;
    std::array<char, 400> message;
};

enum class Encoding { utf8, latin1, ascii };

// Decoded text as ISO-8859-1 bytes: the first ones kept, all counted.
struct Value {
    std::array<char, 64> bytes{};
    std::size_t length = 0;
    std::size_t offset = 0;  // where it starts in the document
};

inline std::string_view kept(const Value& value) {
    return {value.bytes.data(), std::min(value.length, value.bytes.size())};
}
inline bool equals(const Value& value, std::string_view text) {
    return value.length == text.size() && kept(value) == text;
}

struct Attribute {
    std::string_view name;  // the document's bytes
    Value value;            // its offset is the name's
};

enum class TokenKind { start_tag, end_tag, text, end_of_document };

struct Token {
    TokenKind kind = TokenKind::end_of_document;
    std::size_t offset = 0;  // where it starts
    std::size_t end = 0;     // where the next one may start
    std::string_view name;   // a tag's element name, the document's bytes
    bool empty = false;      // "<x/>", which owes its end tag
    std::size_t attribute_count = 0;
    std::array<Attribute, 16> attributes{};  // more are refused; documents use three at most
    Value text;                              // a text token's, trimmed
};

// The start tag's attribute of that name, or nullptr.
const Attribute* find_attribute(const Token& token, std::string_view name);

struct Reader {
    std::span<const std::uint8_t> input;
    std::size_t at = 0;           // the next byte to read
    std::size_t root = SIZE_MAX;  // where the root element's start tag is
    Encoding encoding = Encoding::utf8;
    Token token;                      // what peek read last
    std::size_t token_at = SIZE_MAX;  // and where; "<x/>" leaves its end tag there when taken
};

// Reads the byte order mark and the declaration, checks the encoding of
// every byte, and passes over what precedes the root element.
Reader open_document(std::span<const std::uint8_t> document);

// The next token after any blank text and comments, which it passes over.
// Markup the documents never hold (CDATA, DOCTYPE, processing instructions)
// is refused.
const Token& peek(Reader& reader);

// Moves past the token that peek read. Past an empty-element tag "<x/>",
// the next token is its end tag.
void take(Reader& reader);

// The run of text after a taken start tag, up to the next tag, which it
// moves past (none where the tag was "<x/>"):
// references decoded, comments passed over, trimmed of blanks. `present` is
// false where a tag or the end comes first; `is_number` where the text is a
// decimal integer, whose magnitude stops at 10^12.
struct Text {
    Value trimmed;
    bool present = false;
    bool is_number = false;
    std::int64_t number = 0;
};
Text read_text(Reader& reader);

// Passes over the comments and blanks after the root element; anything else is refused.
void read_epilog(Reader& reader);

// Document text fit for a message: its first characters in UTF-8, control
// characters as "?", "..." where it goes on. `latin1`: decoded ISO-8859-1,
// not the document's bytes.
using Shown = std::array<char, 104>;  // 24 characters of 4 bytes, "..."
Shown shown(const Reader& reader, std::string_view text, bool latin1);
inline Shown shown(const Reader& reader, const Value& value) { return shown(reader, kept(value), true); }

// How a token reads in a message: <variable name="x">, </bit>, text "12a".
std::array<char, 240> token_text(const Reader& reader, const Token& token);

[[noreturn]] PRINTF_LIKE(3, 4) void fail(const Reader& reader, std::size_t offset, const char* format, ...);
