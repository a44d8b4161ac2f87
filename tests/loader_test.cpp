#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "frontend/document.hpp"
#include "load/loader.hpp"
#include "tests/capture.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::string fault(const ReadError& error) {
    return std::to_string(error.line) + ":" + std::to_string(error.column) + " " + error.message.data();
}

// clang-format off
constexpr const char* unnamed_bits[] = {"", "", nullptr};
constexpr const char* lock_bits[] = {"", "", "locked", "", nullptr};
// Byte 2 of a record has no row.
constexpr FieldDesc record[] = {
    {0x0, 1, 1, "id", nullptr, nullptr},
    {0x1, 1, 1, "",   nullptr, nullptr},
    {0x3, 1, 1, "",   nullptr, nullptr},
    end_of_table,
};
constexpr FieldDesc table[] = {
    {0x0, 2, 1, "speed",   nullptr, nullptr  },
    {0x2, 1, 2, "",        nullptr, nullptr  },
    {0x4, 1, 1, "mode",    nullptr, lock_bits},
    {0x5, 0, 2, "records", record,  nullptr  },
    {0xD, 4, 1, "total",   nullptr, nullptr  },
    end_of_table,
};
// A value and a bitmask whose lines may all be left out, for the forms of XML.
constexpr FieldDesc pair_table[] = {
    {0x0, 1, 1, "a", nullptr, nullptr     },
    {0x1, 1, 1, "b", nullptr, unnamed_bits},
    end_of_table,
};
// clang-format on

// The document's lines, in its root element, loaded into `length` bytes of
// 0xEE: the bytes in hex, a space before each of `gaps`, or the fault.
std::string read_lines(const std::string& document, const FieldDesc* fields, std::size_t length,
                       const std::vector<std::size_t>& gaps) {
    Bytes bytes(length, 0xEE);
    const Bytes text = bytes_of(document);
    try {
        Reader reader = open_document(text);
        take(reader);
        load_fields(reader, bytes, fields);
        load_end_tag(reader, "t");
        read_epilog(reader);
    } catch (const ReadError& error) {
        return fault(error);
    }
    std::string hex;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (std::find(gaps.begin(), gaps.end(), i) != gaps.end()) hex += ' ';
        hex += "0123456789ABCDEF"[bytes[i] >> 4];
        hex += "0123456789ABCDEF"[bytes[i] & 15];
    }
    return hex;
}

// speed, field_2, mode, records and total, in a root element <t>.
std::string loaded(const std::string& lines, std::size_t length = 17) {
    return read_lines("<t>" + lines + "</t>", table, length, {2, 4, 5, 9, 13});
}

std::string form(const std::string& document) { return read_lines(document, pair_table, 2, {}); }

const std::string speed = "<variable name=\"speed\" size=\"2\">1</variable>";
const std::string mode = "<bitmask name=\"mode\" size=\"1\"><bit name=\"locked\">1</bit></bitmask>";
const std::string records =
    "<structure name=\"records[0]\"><variable name=\"id\" size=\"1\">7</variable></structure>"
    "<structure name=\"records[1]\"><variable name=\"id\" size=\"1\">8</variable></structure>";
const std::string total = "<variable name=\"total\" size=\"4\">-2</variable>";

std::string a(const std::string& value) { return "<variable name=\"a\" size=\"1\">" + value + "</variable>"; }
const std::string b = "<bitmask name=\"b\" size=\"1\"/>";

// A base header: class 17, subclass 030201, name "BASE\0xyz", bytes 12-15 C1 to C4.
Bytes base_object() {
    Bytes object(366, 0);
    const char header[] = "\027\001\002\003BASE\0xyz\301\302\303\304";
    std::copy(header, header + 16, object.begin());
    return object;
}

// The document read over `object`: its first 16 bytes, or the fault.
std::string header_of(const std::string& document, Bytes object, bool has_base) {
    try {
        read_document(bytes_of(document), object, has_base);
    } catch (const ReadError& error) {
        return fault(error);
    }
    return {object.begin(), object.begin() + 16};
}

// The base's document with its object line replaced, read over the base or over zero bytes.
std::string header_read(const std::string& object_line, bool has_base) {
    std::string text = captured([](std::FILE* out) { write_document(out, base_object()); });
    const std::size_t line = text.find("<object");
    text.replace(line, text.find('\n', line) - line, object_line);
    return header_of(text, has_base ? base_object() : Bytes(366, 0), has_base);
}

}  // namespace

TEST(XmlReader, AcceptedForms) {
    const std::pair<std::string, std::string> cases[] = {
        {"<t><variable size='1' name=\"a\">1</variable><bitmask name='b' size=\"1\"/></t>", "01EC"},
        {"\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone='no' ?><t><!-- \xC3\xA9 -->" + a("2") + b +
             "</t>",
         "02EC"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<t>\n<variable \n name = \"a\" size='1' >3</variable >"
         "<!-- \xE9 -->" +
             b + "</t >",
         "03EC"},
        {"<?xml version=\"1.0\" encoding=\"Us-Ascii\"?><t>" + a("4") + b + "</t>", "04EC"},
        {"<t><variable name=\"&#97;\" size=\"&#x31;\">&#x31;&#50;</variable>" + b + "</t>", "0CEC"},
        {"<t><variable name=\"a\" size=\"1\">\r\n6\r</variable>\r\n" + b + "\r</t>", "06EC"},
        {"<!-- \xE2\x82\xAC --><t>" + a("1<!-- was 10 -->2<!---->\n") + b + "</t>\n<!-- end -->\n", "0CEC"},
        // An XML editor's schema hint, on the root element only.
        {"<t xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation='obj2xml.xsd'>" +
             a("5") + b + "</t>",
         "05EC"},
        // An old editor's CR after "<?xml" still makes a declaration.
        {"<?xml\rversion=\"1.0\" encoding=\"ISO-8859-1\"?><t><!-- \xE9 -->" + a("8") + b + "</t>", "08EC"},
    };
    for (const auto& [document, expected] : cases) EXPECT_EQ(form(document), expected) << document;
}

TEST(XmlReader, RefusedFormsSayWhereAndWhatWasExpected) {
    std::string deep = "<t>";
    for (int i = 0; i <= 64; ++i) deep += "<a>";
    std::string crowded = "<t";
    for (int i = 0; i < 17; ++i) crowded += " a" + std::to_string(i) + "=''";
    const std::pair<std::string, std::string> cases[] = {
        {"<t><variable name=\"a\" size=\"1\">1</b>", "1:33 expected </variable>, found </b>"},
        {"<t>\r\n\t<!--\xC3\xA9--><b c=\"<\"/></t>", "2:16 \"<\" is not allowed in an attribute value"},
        {"<!DOCTYPE t><t/>", "1:1 a DOCTYPE is not accepted"},
        {"<t><![CDATA[x]]></t>", "1:4 CDATA sections are not accepted"},
        {"<?xml-stylesheet href=\"s\"?><t/>", "1:1 processing instructions are not accepted"},
        {"<t><variable name=\"a\" name=\"b\"/>", "1:23 attribute name is given twice"},
        {"<t>\xE9</t>", "1:4 expected UTF-8, found byte 0xE9"},
        {"<t>\xF8</t>", "1:4 expected UTF-8, found byte 0xF8"},
        {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><t>\xE9</t>",
         "1:45 expected a US-ASCII character, found byte 0xE9"},
        {"<t><variable name=\"a\" size=\"1\">\xC4\x80</variable>", "1:32 character U+0100 has no ISO-8859-1 byte"},
        {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><t/>",
         "1:20 expected encoding UTF-8 after a UTF-8 byte order mark"},
        {"<x:t/>", "1:3 expected a name without a namespace prefix, found \":\""},
        {"<t xsi:type=\"x\"/>", "1:7 expected a name without a namespace prefix, found \":\""},
        {"<t><variable xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" name=\"a\" size=\"1\">",
         "1:19 expected a name without a namespace prefix, found \":\""},
        {"<t xmlns:xsi=\"http://example.org/xsi\"/>",
         "1:4 expected xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""},
        {"<t xsi:noNamespaceSchemaLocation=\"obj2xml.xsd\"/>", "1:4 the prefix xsi is not declared"},
        {"<t><!-- \xC3\x28 --></t>", "1:9 expected UTF-8, found byte 0xC3"},
        {"<t>\xED\xBF\xBF</t>", "1:4 expected UTF-8, found byte 0xED"},
        {"<?xml version=\"1.0\" standalone=\"maybe\"?><t/>", R"(1:39 expected standalone="yes" or "no")"},
        {"<?xml version=\"1.0\" encoding=\"ISO_8859-1:1987\"?><t/>",
         R"(1:41 expected a letter, a digit, ".", "_" or "-", found ":")"},
        {deep, "1:4 expected <variable name=\"a\">, found <a>"},
        {crowded + "/>", R"(1:106 expected ">" or "/>" after 16 attributes, found "a")"},
        {"<t>" + a("1") + b + "</t>x", "1:76 expected only comments after the root element, found \"x\""},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><t/>", "1:20 expected encoding ISO-8859-1, UTF-8 or US-ASCII"},
        {"<t>" + a("12a"), "1:32 expected a decimal number for a, found text \"12a\""},
        {"<t><variable\xC2\x80 name=\"a\">", "1:4 expected <variable name=\"a\">, found <variable? name=\"a\">"},
        // Notepad's "Unicode", with a byte order mark and without.
        {std::string("\xFF\xFE<\0t\0/\0>\0", 10), "1:1 expected encoding ISO-8859-1, UTF-8 or US-ASCII, found UTF-16"},
        {std::string("<\0t\0/\0>\0", 8), "1:1 expected encoding ISO-8859-1, UTF-8 or US-ASCII, found UTF-16"},
    };
    for (const auto& [document, expected] : cases) EXPECT_EQ(form(document), expected) << document;
}

// Each name a declaration may give an encoding, told apart by a byte that
// only ISO-8859-1 reads.
TEST(XmlReader, EncodingNames) {
    const std::string latin1 = "01EC";
    const std::string utf8 = "expected UTF-8, found byte 0xE9";
    const std::string ascii = "expected a US-ASCII character, found byte 0xE9";
    const std::pair<const char*, std::string> cases[] = {
        {"UTF-8", utf8},
        {"utf8", utf8},
        {"ISO-8859-1", latin1},
        {"iso_8859-1", latin1},
        {"ISO8859-1", latin1},
        {"Latin1", latin1},
        {"latin-1", latin1},
        {"L1", latin1},
        {"IBM819", latin1},
        {"cp819", latin1},
        {"csISOLatin1", latin1},
        {"iso-ir-100", latin1},
        {"US-ASCII", ascii},
        {"ascii", ascii},
        {"US", ascii},
        {"ANSI_X3.4-1968", ascii},
        {"ansi_x3.4-1986", ascii},
        {"ISO646-US", ascii},
        {"IBM367", ascii},
        {"CP367", ascii},
        {"csASCII", ascii},
        {"ISO-IR-6", ascii},
        {"latin", "expected encoding ISO-8859-1, UTF-8 or US-ASCII"},
    };
    for (const auto& [name, expected] : cases) {
        const std::string declaration = std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"?>";
        const std::string result = form(declaration + "<t><!-- \xE9 -->" + a("1") + b + "</t>");
        EXPECT_TRUE(result == expected || result.ends_with(" " + expected)) << name << ": " << result;
    }
}

// However much a document holds where a message quotes it, the message is
// short and ends with what went wrong.
TEST(XmlReader, MessagesStayShort) {
    const std::string junk(1 << 20, 'x');
    const std::string digits(1 << 20, '1');
    const std::string object = R"(<object class="17" subclass="000000" name="">)";
    const std::pair<std::function<std::string()>, std::string> cases[] = {
        {[&] { return loaded("<" + junk + ">"); }, "...>"},
        {[&] { return loaded("<variable name=\"speed\" size=\"2\">1</" + junk + ">"); }, "...>"},
        {[&] { return loaded("<variable name=\"" + junk + "\">"); }, "...\">"},
        {[&] { return loaded("<variable name=\"speed\" " + junk + "=\"1\">"); }, "x..."},
        {[&] { return loaded("<variable name=\"speed\" size=\"2\">" + digits + "</variable>"); },
         "..., which 2 bytes cannot hold (-32768 to 65535)"},
        {[&] { return loaded("<variable name=\"speed\" size=\"2\">&" + junk + ";</variable>"); }, "x..."},
        {[&] { return header_of("<" + junk + "/>", Bytes(366, 0), false); }, "...>"},
        {[&] { return header_read(R"(<object class="17" subclass="000000" name=")" + junk + "\">", false); }, "...\""},
        {[&] { return header_read("<object class=\"" + junk + R"(" subclass="000000" name="">)", false); }, "...\""},
        {[&] { return header_read(R"(<object class="17" subclass=")" + junk + "\" name=\"\">", false); }, "...\""},
    };
    for (const auto& [message_of, tail] : cases) {
        const std::string message = message_of();
        EXPECT_LE(message.size(), 300U) << message.substr(0, 400);
        EXPECT_TRUE(message.ends_with(tail)) << message.substr(0, 400);
    }
}

TEST(LoadFields, WritesEveryLineAndKeepsUndescribedBytesAndBits) {
    const std::string unknown = "<unknown name=\"field_2[1]\" size=\"1\"> 255 </unknown>";
    const std::string bits = R"(<bitmask name="mode" size="1"><bit name="bit0">1</bit><bit name="locked">0</bit>)"
                             R"(<bit name="bit3">1</bit></bitmask>)";
    // Byte 2 of each record, and bits 4-7 of mode, are kept.
    const std::pair<std::string, std::string> cases[] = {
        {speed + mode + records + total, "0100 0000 E4 0700EE00 0800EE00 FEFFFFFF"},
        {"\n\t" + speed + "<!-- x -->" + unknown + mode + records + total + "\n",
         "0100 00FF E4 0700EE00 0800EE00 FEFFFFFF"},
        {"<variable size=\"2\" name='speed'>-32768</variable>" + mode + records +
             "<variable name=\"total\" size=\"4\">4294967295</variable>",
         "0080 0000 E4 0700EE00 0800EE00 FFFFFFFF"},
        {speed + bits + records + total, "0100 0000 E9 0700EE00 0800EE00 FEFFFFFF"},
    };
    for (const auto& [lines, expected] : cases) EXPECT_EQ(loaded(lines), expected) << lines;
}

TEST(LoadFields, RefusedLinesSayWhereAndWhatWasExpected) {
    const std::pair<std::string, std::string> cases[] = {
        {"<variable name=\"speed\" size=\"2\">65536</variable>",
         "1:36 speed is 65536, which 2 bytes cannot hold (-32768 to 65535)"},
        {speed + "<unknown name=\"field_2[0]\" size=\"1\">-129</unknown>",
         "1:84 field_2[0] is -129, which 1 byte cannot hold (-128 to 255)"},
        {"<variable name=\"sped\" size=\"2\">1</variable>",
         "1:4 expected <variable name=\"speed\">, found <variable name=\"sped\">"},
        {"<variable name=\"speed\" size=\"02\">1</variable>", "1:27 expected size=\"2\" for speed, found size=\"02\""},
        // The value as it stands, not trimmed.
        {"<variable name=\"speed\" size=\"2 \">1</variable>", "1:27 expected size=\"2\" for speed, found size=\"2 \""},
        {"<variable name=\"speed\" size=\"2\" unit=\"m\">1</variable>",
         "1:36 expected only name and size attributes on <variable>, found unit"},
        {"<variable name=\"speed\">1</variable>", "1:4 expected a size attribute for speed"},
        {"<variable name=\"speed\" size=\"2\"><!-- x --></variable>",
         "1:46 expected the value of speed, found </variable>"},
        {speed + "<bitmask name=\"mode\" size=\"1\"><bit name=\"locked\" size=\"1\">1</bit>",
         "1:97 expected only name attributes on <bit>, found size"},
        {speed + "<bitmask name=\"mode\" size=\"1\"><bit name=\"locked\"></bit>",
         "1:97 expected 0 or 1 for bit locked, found </bit>"},
        {speed + "<bitmask name=\"mode\" size=\"1\"></bitmask>",
         "1:78 expected <bit name=\"locked\">, found </bitmask>"},
        {speed + "<bitmask name=\"mode\" size=\"1\"><bit name=\"locked\">2</bit>",
         "1:97 expected 0 or 1 for bit locked, found text \"2\""},
        {speed + mode + "x" + records, "1:114 expected <structure name=\"records[0]\">, found text \"x\""},
        // At the text, not at the blanks before it.
        {speed + mode + "\n  x" + records, "2:3 expected <structure name=\"records[0]\">, found text \"x\""},
        {"<variable name=\"&#9;&#x7F;&#x9B;[2J\" size=\"2\">1</variable>",
         "1:4 expected <variable name=\"speed\">, found <variable name=\"???[2J\">"},
    };
    for (const auto& [lines, expected] : cases) EXPECT_EQ(loaded(lines), expected) << lines;
    EXPECT_EQ(loaded(speed + mode + records + total, 16), "1:278 the object ends before total: needs 17 bytes, has 16");
}

TEST(ReadDocument, HeaderFromTheObjectLine) {
    const auto header = [](const char(&bytes)[17]) { return std::string(bytes, 16); };
    // clang-format off
    const std::tuple<std::string, bool, std::string> cases[] = {
        {R"(<object class="97" subclass="0a0B0c" name="NEW">)", false, header("\x97\x0C\x0B\x0ANEW\0\0\0\0\0\0\0\0\0")},
        {R"(<object name='BASE' subclass="0A0B0C" class="97">)", true, header("\x97\x0C\x0B\x0A" "BASE\0xyz\xC1\xC2\xC3\xC4")},
        {R"(<object class="17" subclass="000000" name="BASE2&amp;&#xE9;">)", true,
         header("\x17\0\0\0" "BASE2&\xE9\0\xC1\xC2\xC3\xC4")},
        {R"(<object class="17" subclass="000000" name="&lt;&gt;&quot;&apos;">)", false,
         header("\x17\0\0\0<>\"'\0\0\0\0\0\0\0\0")},
        {"<object class=\"17\" subclass=\"000000\" name=\"A\tB&#9;\">", false, header("\x17\0\0\0" "A B\t\0\0\0\0\0\0\0\0")},
        {R"(<object class="18" subclass="000000" name="">)", false, "2:9 class 18 is not one this program converts"},
        {R"(<object class="1" subclass="000000" name="">)", false, R"(2:9 expected class as 2 hexadecimal digits, found "1")"},
        {R"(<object class="17" subclass="00000" name="">)", false,
         R"(2:20 expected subclass as 6 hexadecimal digits, found "00000")"},
        {R"(<object class="17" subclass="000000" name="ABCDEFGHI">)", false,
         R"(2:38 expected a name of at most 8 characters, found "ABCDEFGHI")"},
        {R"(<object class="17" subclass="000000" name="" id="1">)", false,
         "2:46 expected only class, subclass and name attributes on <object>, found id"},
        {R"(<root class="17" subclass="000000">)", false, "2:1 expected <object>, found <root>"},
        {R"(<object class="17" name="">)", false, "2:1 expected a subclass attribute on <object>"},
        {R"(<object xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" class="17" subclass="000000" name="A" )"
         R"(xsi:noNamespaceSchemaLocation="/usr/share/obj2xml/obj2xml.xsd">)", false,
         header("\x17\0\0\0" "A\0\0\0\0\0\0\0\0\0\0\0")},
    };
    // clang-format on
    for (const auto& [line, has_base, expected] : cases) EXPECT_EQ(header_read(line, has_base), expected) << line;
}
