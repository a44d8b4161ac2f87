#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dump/loader.hpp"
#include "frontend/document.hpp"
#include "frontend/read_document.hpp"
#include "tests/capture.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::string fault(const ReadError& error) {
    return std::to_string(error.line) + ":" + std::to_string(error.column) + " " + error.message;
}

// The reader's events, one letter each: <name a=v>, </name>, [text], "." at
// the end; or the fault.
std::string events(const std::string& document) {
    const Bytes bytes = bytes_of(document);
    XmlReader reader = xml_reader(bytes);
    std::string seen;
    while (xml_next(reader)) {
        const XmlEvent& event = reader.event;
        if (event.kind == XmlEventKind::end_of_document) return seen + ".";
        if (event.kind == XmlEventKind::text) seen += "[" + event.text + "]";
        if (event.kind == XmlEventKind::end_tag) seen += "</" + event.name + ">";
        if (event.kind != XmlEventKind::start_tag) continue;
        seen += "<" + event.name;
        for (const XmlAttribute& given : event.attributes) seen += " " + given.name + "=" + given.value;
        seen += ">";
    }
    return fault(reader.error);
}

// clang-format off
constexpr const char* mode_bits[] = {"", "", "locked", "", nullptr};
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
    {0x4, 1, 1, "mode",    nullptr, mode_bits},
    {0x5, 0, 2, "records", record,  nullptr  },
    {0xD, 4, 1, "total",   nullptr, nullptr  },
    end_of_table,
};
// clang-format on

// The lines loaded into 17 bytes of 0xEE inside a root element <t>: the
// bytes in hex, a space between fields, or the fault.
std::string loaded(const std::string& lines, std::size_t length = 17) {
    const Bytes document = bytes_of("<t>" + lines + "</t>");
    Bytes bytes(length, 0xEE);
    XmlReader reader = xml_reader(document);
    if (!(xml_next(reader) && xml_next(reader) && load_fields(reader, bytes, table, 1) && load_end_tag(reader, "t")))
        return fault(reader.error);
    std::string hex;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 2 || i == 4 || i == 5 || i == 9 || i == 13) hex += ' ';  // speed, field_2, mode, records, total
        hex += "0123456789ABCDEF"[bytes[i] >> 4];
        hex += "0123456789ABCDEF"[bytes[i] & 15];
    }
    return hex;
}

const std::string speed = "<variable name=\"speed\" size=\"2\">1</variable>";
const std::string mode = "<bitmask name=\"mode\" size=\"1\"><bit name=\"locked\">1</bit></bitmask>";
const std::string records =
    "<structure name=\"records[0]\"><variable name=\"id\" size=\"1\">7</variable></structure>"
    "<structure name=\"records[1]\"><variable name=\"id\" size=\"1\">8</variable></structure>";
const std::string total = "<variable name=\"total\" size=\"4\">-2</variable>";

Bytes rebuilt(const Bytes& document, Bytes object, bool has_base, std::string* error = nullptr) {
    ReadError fault_read;
    if (!read_document(document, object, has_base, fault_read) && error) *error = fault(fault_read);
    return object;
}

// A base header: class 17, subclass 030201, name "BASE\0xyz", bytes 12-15 C1 to C4.
Bytes base_object() {
    Bytes object(366, 0);
    const char header[] = "\027\001\002\003BASE\0xyz\301\302\303\304";
    std::copy(header, header + 16, object.begin());
    return object;
}

// The base's document with its object line replaced, read over the base or over zero bytes.
std::string header_read(const std::string& object_line, bool has_base) {
    std::string text = captured([](std::FILE* out) { write_document(out, base_object()); });
    const std::size_t line = text.find("<object");
    text.replace(line, text.find('\n', line) - line, object_line);
    std::string error;
    const Bytes object = rebuilt(bytes_of(text), has_base ? base_object() : Bytes(366, 0), has_base, &error);
    return error.empty() ? std::string(object.begin(), object.begin() + 16) : error;
}

}  // namespace

TEST(XmlReader, AcceptedFormsGiveTheirEvents) {
    const std::pair<std::string, std::string> cases[] = {
        {"<a b=\"1\" c='x'/>", "<a b=1 c=x></a>."},
        {"\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone='no' ?><a>\xC3\xA9</a>", "<a>[\xE9]</a>."},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a \n b = \"\xE9\" ></a >", "<a b=\xE9></a>."},
        {"<?xml version=\"1.0\" encoding=\"Us-Ascii\"?><a>x</a>", "<a>[x]</a>."},
        {"<a b=\"&lt;&gt;&amp;&quot;&apos;&#65;&#x42;\">&lt;&#xe9;</a>", "<a b=<>&\"'AB>[<\xE9]</a>."},
        {"<a b=\"x\ty\r\nz\rw&#9;&#10;\">1\r\n2\r3</a>", "<a b=x y z w\t\n>[1\n2\n3]</a>."},
        {"<!-- \xE2\x82\xAC --><a>12<!-- was 10 -->0<!---->\n</a>\n<!-- end -->\n", "<a>[120\n]</a>."},
    };
    for (const auto& [document, expected] : cases) EXPECT_EQ(events(document), expected) << document;
}

TEST(XmlReader, RefusedFormsSayWhereAndWhatWasExpected) {
    const std::pair<std::string, std::string> cases[] = {
        {"<a></b>", "1:4 expected </a>, found </b>"},
        {"<a>\r\n\t\xC3\xA9<b c=\"<\"/></a>", "2:9 \"<\" is not allowed in an attribute value"},
        {"<!DOCTYPE a><a/>", "1:1 a DOCTYPE is not accepted"},
        {"<a><![CDATA[x]]></a>", "1:4 CDATA sections are not accepted"},
        {"<?xml-stylesheet href=\"s\"?><a/>", "1:1 processing instructions are not accepted"},
        {"<a b=\"1\" b=\"2\"/>", "1:10 attribute b is given twice"},
        {"<a>\xE9</a>", "1:4 expected UTF-8, found byte 0xE9"},
        {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a>\xE9</a>",
         "1:45 expected a US-ASCII character, found byte 0xE9"},
        {"<a>\xC4\x80</a>", "1:4 character U+0100 has no ISO-8859-1 byte"},
        {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>",
         "1:20 expected encoding UTF-8 after a UTF-8 byte order mark"},
        {"<x:a/>", "1:3 expected a name without a namespace prefix, found \":\""},
    };
    for (const auto& [document, expected] : cases) EXPECT_EQ(events(document), expected) << document;
    std::string deep;
    for (std::size_t i = 0; i <= max_xml_depth; ++i) deep += "<a>";
    EXPECT_EQ(events(deep), "1:193 elements are nested too deep");
    std::string crowded = "<a";
    for (int i = 0; i < 17; ++i) crowded += " a" + std::to_string(i) + "=''";
    EXPECT_EQ(events(crowded + "/>"), R"(1:106 expected ">" or "/>" after 16 attributes, found "a")");
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
        {"<variable name=\"speed\" size=\"2\" unit=\"m\">1</variable>",
         "1:36 expected only name and size attributes on <variable>, found unit"},
        {speed + "<bitmask name=\"mode\" size=\"1\"></bitmask>",
         "1:78 expected <bit name=\"locked\">, found </bitmask>"},
        {speed + "<bitmask name=\"mode\" size=\"1\"><bit name=\"locked\">2</bit>",
         "1:97 expected 0 or 1 for bit locked, found text \"2\""},
        {speed + mode + "x" + records, "1:114 expected <structure name=\"records[0]\">, found text \"x\""},
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
        {R"(<object class="18" subclass="000000" name="">)", false, "2:9 class 18 is not one this program converts"},
        {R"(<object class="1" subclass="000000" name="">)", false, R"(2:9 expected class as 2 hexadecimal digits, found "1")"},
        {R"(<object class="17" subclass="00000" name="">)", false,
         R"(2:20 expected subclass as 6 hexadecimal digits, found "00000")"},
        {R"(<object class="17" subclass="000000" name="ABCDEFGHI">)", false,
         R"(2:38 expected a name of at most 8 characters, found "ABCDEFGHI")"},
        {R"(<object class="17" subclass="000000" name="" id="1">)", false,
         "2:46 expected only class, subclass and name attributes on <object>, found id"},
    };
    // clang-format on
    for (const auto& [line, has_base, expected] : cases) EXPECT_EQ(header_read(line, has_base), expected) << line;
}
