#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "frontend/document.hpp"
#include "frontend/fatal.hpp"
#include "tests/capture.hpp"

namespace {

std::string name_of(std::array<std::uint8_t, 8> bytes) { return escaped_name(bytes).data(); }

std::vector<std::uint8_t> header(std::uint8_t class_byte, std::size_t length) {
    std::vector<std::uint8_t> data(length, 0);
    if (length) data[0] = class_byte;
    return data;
}

}  // namespace

TEST(OutputPath, OnlyTheLastComponentHasAnExtension) {
    // Separators, input, document: "\" is a name character on POSIX, on Windows a separator as the drive's ":".
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/", "engine.dat", "engine.xml"},
        {"/", "engine.v2.dat", "engine.v2.xml"},
        {"/", "tools.old/engine", "tools.old/engine.xml"},
        {"/", "tools.old/engine.d", "tools.old/engine.xml"},
        {"/", "engine", "engine.xml"},
        {"/", "engine.", "engine.xml"},
        {"/", "engine.xml", "engine.xml"},
        {"/", "a\\b.c\\engine", "a\\b.xml"},
        {"/\\:", "tools.old\\engine", "tools.old\\engine.xml"},
        {"/\\:", "C:engine", "C:engine.xml"},
        {"/\\:", "D.1:engine", "D.1:engine.xml"},
        {"/\\:", "C:\\data.v1/engine.dat", "C:\\data.v1/engine.xml"},
    };
    for (const auto& [separators, input, document] : cases)
        EXPECT_STREQ(replace_extension(input, ".xml", "xmlname", separators), document) << input;
}

TEST(EscapedName, MarkupBecomesReferencesAndControlBytesQuestionMarks) {
    EXPECT_EQ(name_of({'E', 'N', 'G', 'I', 'N', 'E', '0', '1'}), "ENGINE01");
    EXPECT_EQ(name_of({'S', 'H', 'O', 'R', 'T', 0, 'X', 'Y'}), "SHORT");
    EXPECT_EQ(name_of({'&', '<', '>', '"', '\'', '\t', 0x01, 0x1F}), "&amp;&lt;&gt;&quot;'???");
    EXPECT_EQ(name_of({'"', '"', '"', '"', '"', '"', '"', '"'}), "&quot;&quot;&quot;&quot;&quot;&quot;&quot;&quot;");
    EXPECT_EQ(name_of({0xE9, 0x80, 0xFF, 0x7F, 0, 0, 0, 0}), "\xE9\x80\xFF\x7F");
}

TEST(Envelope, OpeningLineFromTheHeader) {
    const std::array<std::uint8_t, header_size> bytes{0x97, 0x01, 0x02, 0x03, 'L', 'O', 'C', 'O',
                                                      'M', 'O', 'T', 'V', 'X', 'X', 'X', 'X'};
    EXPECT_EQ(captured([&](std::FILE* out) { write_envelope_start(out, bytes); }),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
              "<object class=\"97\" subclass=\"030201\" name=\"LOCOMOTV\">\n");
    EXPECT_EQ(captured(write_envelope_end), "</object>\n");
}

TEST(RequiredLength, HeaderAlwaysPayloadSpanForClass17) {
    EXPECT_EQ(required_length(header(0x00, 0)), 16U);
    EXPECT_EQ(required_length(header(0x17, 15)), 16U);
    EXPECT_EQ(required_length(header(0x17, 16)), 366U);
    EXPECT_EQ(required_length(header(0x97, 20)), 366U);  // bit 7 is not part of the class
    EXPECT_EQ(required_length(header(0x18, 16)), 16U);
}

TEST(AllocDeathTest, FailureNamesLabelAndWholeLengthInHex) {
    EXPECT_EXIT((without_console(), check_alloc(nullptr, 0x30000000, "data")), testing::ExitedWithCode(1),
                "^Not enough memory for data, wanted 30000000\nPress any key to abort.\n$");
    if constexpr (sizeof(std::size_t) == 8) {
        EXPECT_EXIT((without_console(), check_alloc(nullptr, std::size_t{0x1234567890}, "xmlname")),
                    testing::ExitedWithCode(1), "^Not enough memory for xmlname, wanted 1234567890\n");
    }
}

TEST(WriteDocument, OtherClassStopsAfterTheOpeningLine) {
    std::vector<std::uint8_t> other_class(16, 0);
    other_class[0] = 0x18;
    bool converted = true;
    EXPECT_EQ(captured([&](std::FILE* out) { converted = write_document(out, other_class); }),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
              "<object class=\"18\" subclass=\"000000\" name=\"\">\n");
    EXPECT_FALSE(converted);
}
