#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "frontend/document.hpp"
#include "load/loader.hpp"
#include "tests/capture.hpp"
#include "tests/xml_check.hpp"

namespace {

class Schema : public testing::Test {
protected:
    void SetUp() override {
        if (!xmllint_available()) GTEST_SKIP() << "xmllint not found (Debian package libxml2-utils)";
    }
    // Whether the document is valid, written to a file of its own.
    bool valid(const std::string& document) {
        const std::string path =
            (std::filesystem::temp_directory_path() /
             ("obj2xml-schema-" + std::to_string(::getpid()) + "-" + std::to_string(count++) + ".xml"))
                .string();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(document.data(), 1, document.size(), file);
        std::fclose(file);
        const bool result = schema_valid(path);
        std::remove(path.c_str());
        return result;
    }
    int count = 0;
};

std::string document_of(std::uint8_t fill) {
    std::vector<std::uint8_t> data(366, fill);
    data[0] = 0x97;
    return captured([&](std::FILE* out) { write_document(out, data); });
}

// A line of the document written for an object whose every payload byte is
// 1, so that every unknown line and the unnamed bits 0 and 8 are there: the
// first line whose element is named `name` becomes `line`, its indent kept.
struct Edit {
    const char* name;
    std::string line;
};

struct Edited {
    std::string document;
    std::size_t line;  // the edited line's number, from 1
};

Edited edited(const Edit& edit) {
    std::vector<std::uint8_t> data(366, 1);
    const std::uint8_t header[] = {0x17, 0x2A, 0, 0, 'D', 'I', 'E', 'S', 'E', 'L', '0', '1'};
    std::copy(std::begin(header), std::end(header), data.begin());
    std::string document = captured([&](std::FILE* out) { write_document(out, data); });
    const std::size_t named = document.find(std::string("name=\"") + edit.name + "\"");
    if (named == std::string::npos) throw std::runtime_error(std::string("no line named ") + edit.name);
    const std::size_t start = document.rfind('<', named);
    document.replace(start, document.find('\n', start) - start, edit.line);
    return {document, static_cast<std::size_t>(std::count(document.begin(), document.begin() + start, '\n')) + 1};
}

// Where xml2obj refuses the document, the line it names; 0 where it accepts it.
std::size_t refused_at(const std::string& document) {
    std::vector<std::uint8_t> object(366);
    try {
        read_document({reinterpret_cast<const std::uint8_t*>(document.data()), document.size()}, object, false);
    } catch (const ReadError& error) {
        return error.line;
    }
    return 0;
}

}  // namespace

TEST_F(Schema, HoldsForWhatTheProgramWrites) {
    EXPECT_TRUE(valid(document_of(0x00)));
    EXPECT_TRUE(valid(document_of(0xFF)));  // negative values, every bit set
    EXPECT_TRUE(valid(document_of(0x5A)));
}

// Every form xml2obj(1) says it accepts, in a document xml2obj reads.
TEST_F(Schema, HoldsForEveryFormTheRebuilderAccepts) {
    const Edit accepted[] = {
        {"DIESEL01", R"(<object class="97" subclass="00002A" name="DIESEL01">)"},
        {"DIESEL01", R"(<object class="17" subclass="00abCD" name="DIESEL01">)"},
        {"DIESEL01", R"(<object name='DIESEL01' subclass='00002A' class='17'>)"},
        {"DIESEL01",
         R"(<object class="17" subclass="00002A" name="DIESEL01" )"
         R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="obj2xml.xsd">)"},
        {"DIESEL01", "<object class=\"17\" subclass=\"00002A\" name=\"D\xE9sel-01\">"},
        {"DIESEL01", R"(<object class="17" subclass="00002A" name="&#xFF;&lt;&#9;">)"},
        {"DIESEL01", R"(<object class="17" subclass="00002A" name="">)"},
        {"class", R"(<variable name="class" size="1">007</variable>)"},
        {"nummods", R"(<variable name="nummods" size="1">-0</variable>)"},
        {"speed", "<variable name=\"speed\" size=\"2\"> \t100\r\n\t</variable>"},
        {"costind", R"(<variable size='1' name='costind'><!-- was 1 --> 3 <!-- now --></variable>)"},
        {"weight", R"(<variable name="weight" size="2">&#49;12&#10;</variable>)"},
        {"field_12", R"(<unknown name="field_12" size="4">4294967295</unknown>)"},
        {"field_12", R"(<unknown name="field_12" size="4">-2147483648</unknown>)"},
        {"hassprites", "<bit name=\"hassprites\">\n\t\t\t\t1\n\t\t\t</bit>"},
        {"rackrail", R"(<bit name="rackrail"> 0 </bit>)"},
        {"field_10[0]", ""},  // an unknown line left out
        {"bit0", ""},         // an unnamed bit's line left out
    };
    for (const Edit& edit : accepted) {
        const std::string document = edited(edit).document;
        EXPECT_TRUE(valid(document)) << edit.name << ": " << edit.line;
        EXPECT_EQ(refused_at(document), 0U) << edit.name << ": " << edit.line;
    }
}

// What xml2obj refuses and the schema can state: each is refused by both,
// xml2obj naming the edited line.
TEST_F(Schema, RefusesWhatTheRebuilderRefuses) {
    const Edit refused[] = {
        {"DIESEL01", R"(<object class="18" subclass="00002A" name="DIESEL01">)"},
        {"DIESEL01", R"(<object class="00" subclass="00002A" name="DIESEL01">)"},
        {"DIESEL01", R"(<object class="9a" subclass="00002A" name="DIESEL01">)"},
        {"DIESEL01", R"(<object class="097" subclass="00002A" name="DIESEL01">)"},
        {"DIESEL01", R"(<object class=" 17" subclass="00002A" name="DIESEL01">)"},
        {"DIESEL01", R"(<object class="17" subclass="0002A" name="DIESEL01">)"},
        {"DIESEL01", R"(<object class="17" subclass="00002G" name="DIESEL01">)"},
        {"DIESEL01", R"(<object class="17" subclass="00002A" name="DIESEL012">)"},
        {"DIESEL01", R"(<object class="17" subclass="00002A" name="EUR&#x20AC;">)"},
        {"DIESEL01", R"(<object class="17" subclass="00002A" name="&#x100;">)"},
        {"DIESEL01", R"(<object class="17" subclass="00002A">)"},
        {"class", R"(<variable name="class" size="1">+1</variable>)"},
        {"class", R"(<variable name="class" size="1">1.5</variable>)"},
        {"class", R"(<variable name="class" size="1">1 2</variable>)"},
        {"class", R"(<variable name="class" size="1">-</variable>)"},
        {"class", R"(<variable name="class" size="1">0x1</variable>)"},
        {"class", R"(<variable name="class" size="1"> </variable>)"},
        {"class", R"(<variable name="class" size="1"/>)"},
        {"field_12", R"(<unknown name="field_12" size="4">4294967296</unknown>)"},
        {"field_12", R"(<unknown name="field_12" size="4">-2147483649</unknown>)"},
        {"hassprites", R"(<bit name="hassprites">2</bit>)"},
        {"hassprites", R"(<bit name="hassprites">01</bit>)"},
        {"hassprites", R"(<bit name="hassprites"/>)"},
        {"class", R"(<variable name="class" size="a">1</variable>)"},
        {"class", R"(<variable name="class" size="1" unit="kg">1</variable>)"},
        {"class", R"(<field name="class" size="1">1</field>)"},
        {"class", R"(<variable name="class" size="1">1</variable><bit name="b">1</bit>)"},
        {"spriteind", R"(<variable name="spriteind" size="1">1</variable><bit name="b">1</bit>)"},
        {"hassprites", R"(<bit name="hassprites">1</bit><variable name="v" size="1">7</variable>)"},
    };
    for (const Edit& edit : refused) {
        const Edited document = edited(edit);
        EXPECT_FALSE(valid(document.document)) << edit.name << ": " << edit.line;
        EXPECT_EQ(refused_at(document.document), document.line) << edit.name << ": " << edit.line;
    }
}
