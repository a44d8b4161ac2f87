#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "frontend/document.hpp"
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
        const std::string path = (std::filesystem::temp_directory_path() /
                                  ("obj2xml-schema-" + std::to_string(::getpid()) + "-" + std::to_string(count++) +
                                   ".xml"))
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

std::string wrapped(const std::string& body, const char* class_text = "17") {
    return std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<object class=\"") + class_text +
           "\" subclass=\"000001\" name=\"X\">\n" + body + "</object>\n";
}

}  // namespace

TEST_F(Schema, HoldsForWhatTheProgramWrites) {
    EXPECT_TRUE(valid(document_of(0x00)));
    EXPECT_TRUE(valid(document_of(0xFF)));  // negative values, every bit set
    EXPECT_TRUE(valid(document_of(0x5A)));
    EXPECT_TRUE(valid(wrapped("")));
}

TEST_F(Schema, RejectsWhatTheProgramNeverWrites) {
    const std::string variable = "\t<variable name=\"v\" size=\"1\">7</variable>\n";
    EXPECT_TRUE(valid(wrapped(variable)));
    const std::string refused[] = {
        wrapped("\t<field name=\"v\" size=\"1\">7</field>\n"),
        wrapped(variable, "9a"),
        wrapped(variable, "097"),
        wrapped("\t<variable name=\"v\" size=\"1\">1.5</variable>\n"),
        wrapped("\t<unknown name=\"v\" size=\"4\">2147483648</unknown>\n"),
        wrapped("\t<variable name=\"v\" size=\"a\">1</variable>\n"),
        wrapped("\t<bit name=\"b\">1</bit>\n"),
        wrapped("\t<structure name=\"s\">\n\t\t<bit name=\"b\">1</bit>\n\t</structure>\n"),
        wrapped("\t<bitmask name=\"f\" size=\"1\">\n\t\t<bit name=\"b\">2</bit>\n\t</bitmask>\n"),
        wrapped("\t<bitmask name=\"f\" size=\"1\">\n" + variable + "\t</bitmask>\n"),
    };
    for (const std::string& document : refused) EXPECT_FALSE(valid(document)) << document;
}
