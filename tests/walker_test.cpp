#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dump/walker.hpp"
#include "tests/capture.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string dumped(const Bytes& bytes, const FieldDesc* table, int depth = 1) {
    return captured([&](std::FILE* out) { dump_fields(out, bytes, table, depth); });
}

constexpr FieldDesc end_only[] = {end_of_table};

constexpr const char* mode_bits[] = {"", "", "locked", "", nullptr};

static_assert(read_le(std::array<std::uint8_t, 1>{0xFF}) == 0xFF);
static_assert(read_le(std::array<std::uint8_t, 3>{0x01, 0x02, 0x03}) == 0x030201);
static_assert(read_le(std::array<std::uint8_t, 4>{0x01, 0x02, 0x03, 0x84}) == 0x84030201);

}  // namespace

TEST(DumpFields, TableAndBytesGiveTheLinesAndTheSpan) {
    static constexpr FieldDesc zero_unknowns[] = {
        {0x0, 1, 1, "level", nullptr, nullptr},
        {0x1, 1, 4, "",      nullptr, nullptr},
        {0x5, 2, 1, "",      nullptr, nullptr},
        end_of_table,
    };
    static constexpr FieldDesc widths[] = {
        {0x0, 1, 1, "one",   nullptr, nullptr},
        {0x1, 2, 1, "two",   nullptr, nullptr},
        {0x3, 3, 1, "three", nullptr, nullptr},
        {0x6, 4, 1, "four",  nullptr, nullptr},
        {0xA, 4, 1, "",      nullptr, nullptr},
        end_of_table,
    };
    // Byte 2 of each record has no row, yet the records are 4 bytes apart.
    static constexpr FieldDesc record[] = {
        {0x0, 1, 1, "id", nullptr, nullptr},
        {0x1, 1, 1, "",   nullptr, nullptr},
        {0x3, 1, 1, "",   nullptr, nullptr},
        end_of_table,
    };
    static constexpr FieldDesc records[] = {
        {0x2, 0, 3, "",     record, nullptr},
        {0x0, 2, 1, "head", nullptr, nullptr},  // rows are placed by their own offset
        end_of_table,
    };
    static constexpr FieldDesc inner[] = {{0x0, 1, 1, "mode", nullptr, mode_bits}, end_of_table};
    static constexpr FieldDesc outer[] = {{0x0, 0, 1, "outer", inner, nullptr}, end_of_table};
    static constexpr FieldDesc single[] = {{0x0, 1, 1, "v", nullptr, nullptr}, end_of_table};
    struct Case {
        const char* what;
        const FieldDesc* table;
        Bytes bytes;
        int depth;
        std::string text;
        std::int32_t span;
    };
    // clang-format off
    const Case cases[] = {
        {"an end-only table", end_only, {}, 1, "", 0},
        {"zero unknowns are left out", zero_unknowns, {0, 0, 0, 0, 0, 0, 0}, 1,
         "\t<variable name=\"level\" size=\"1\">0</variable>\n", 7},
        {"other unknowns keep their index", zero_unknowns, {7, 0, 9, 0, 3, 0x34, 0x12}, 1,
         "\t<variable name=\"level\" size=\"1\">7</variable>\n"
         "\t<unknown name=\"field_1[1]\" size=\"1\">9</unknown>\n"
         "\t<unknown name=\"field_1[3]\" size=\"1\">3</unknown>\n"
         "\t<unknown name=\"field_5\" size=\"2\">4660</unknown>\n", 7},
        {"only 4-byte values are negative", widths, Bytes(14, 0xFF), 1,
         "\t<variable name=\"one\" size=\"1\">255</variable>\n"
         "\t<variable name=\"two\" size=\"2\">65535</variable>\n"
         "\t<variable name=\"three\" size=\"3\">16777215</variable>\n"
         "\t<variable name=\"four\" size=\"4\">-1</variable>\n"
         "\t<unknown name=\"field_A\" size=\"4\">-1</unknown>\n", 14},
        {"structure elements repeat at the nested span", records, {0x01, 0x00, 10, 0, 0xEE, 0, 20, 5, 0xEE, 0, 30, 0, 0xEE, 6}, 1,
         "\t<structure name=\"field_2[0]\">\n"
         "\t\t<variable name=\"id\" size=\"1\">10</variable>\n"
         "\t</structure>\n"
         "\t<structure name=\"field_2[1]\">\n"
         "\t\t<variable name=\"id\" size=\"1\">20</variable>\n"
         "\t\t<unknown name=\"field_1\" size=\"1\">5</unknown>\n"
         "\t</structure>\n"
         "\t<structure name=\"field_2[2]\">\n"
         "\t\t<variable name=\"id\" size=\"1\">30</variable>\n"
         "\t\t<unknown name=\"field_3\" size=\"1\">6</unknown>\n"
         "\t</structure>\n"
         "\t<variable name=\"head\" size=\"2\">1</variable>\n", 14},
        {"nested lines carry one tab per depth", outer, {0x04}, 1,
         "\t<structure name=\"outer\">\n"
         "\t\t<bitmask name=\"mode\" size=\"1\">\n"
         "\t\t\t<bit name=\"locked\">1</bit>\n"
         "\t\t</bitmask>\n"
         "\t</structure>\n", 1},
        {"depth 0", single, {1}, 0, "<variable name=\"v\" size=\"1\">1</variable>\n", 1},
        {"a depth below the indent run", single, {1}, -3, "<variable name=\"v\" size=\"1\">1</variable>\n", 1},
        {"a depth past the indent run", single, {1}, 12, "\t\t\t\t\t\t\t\t\t\t<variable name=\"v\" size=\"1\">1</variable>\n", 1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::int32_t span = -1;
        EXPECT_EQ(captured([&](std::FILE* out) { span = dump_fields(out, c.bytes, c.table, c.depth); }), c.text);
        EXPECT_EQ(span, c.span);
    }
    EXPECT_EQ(layout_span(records), 14);
}

TEST(DumpBits, NamedBitsAlwaysUnnamedOnlyWhenSetNonePastTheList) {
    const auto bits = [](std::uint8_t value) {
        return captured([&](std::FILE* out) {
            const Bytes byte{value};
            EXPECT_EQ(dump_bits(out, byte, mode_bits, 1, 2), 1);
        });
    };
    EXPECT_EQ(bits(0x00), "\t\t<bit name=\"locked\">0</bit>\n");
    EXPECT_EQ(bits(0xFF),  // bits 4 to 7 lie past the list
              "\t\t<bit name=\"bit0\">1</bit>\n"
              "\t\t<bit name=\"bit1\">1</bit>\n"
              "\t\t<bit name=\"locked\">1</bit>\n"
              "\t\t<bit name=\"bit3\">1</bit>\n");
}

TEST(DumpBits, ReadsAllFourBytesUpToBit31) {
    constexpr const char* high_bits[] = {
        "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
        "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "top", nullptr,
    };
    const Bytes bytes{0x00, 0x01, 0x00, 0x80};
    EXPECT_EQ(captured([&](std::FILE* out) { dump_bits(out, bytes, high_bits, 4, 1); }),
              "\t<bit name=\"bit8\">1</bit>\n"
              "\t<bit name=\"top\">1</bit>\n");
}

TEST(DumpBitsDeathTest, BitmaskWiderThanFourBytesIsFatal) {
    constexpr FieldDesc table[] = {
        {0x0, 5, 1, "wide", nullptr, mode_bits},
        end_of_table,
    };
    const Bytes bytes(5, 0);
    EXPECT_EXIT((without_console(), dumped(bytes, table)), testing::ExitedWithCode(1),
                "^Can't dump flags with 5 bytes\nPress any key to abort.\n$");
}

TEST(DumpBits, NoMoreThan32NamesAreRead) {
    const char* names[34];
    for (auto& name : names) name = "x";
    names[33] = nullptr;
    const Bytes bytes{0, 0, 0, 0};
    const std::string text = captured([&](std::FILE* out) { dump_bits(out, bytes, names, 4, 0); });
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 32);
}

TEST(DumpFieldsDeathTest, NeverReadsPastTheData) {
    static constexpr FieldDesc record[] = {
        {0x0, 2, 1, "pair", nullptr, nullptr},
        end_of_table,
    };
    constexpr FieldDesc table[] = {
        {0x0, 0, 2, "records", record, nullptr},
        end_of_table,
    };
    const Bytes bytes(3, 0);
    EXPECT_EXIT((without_console(), dumped(bytes, table)), testing::ExitedWithCode(1),
                "^Can't dump pair: needs 2 bytes, has 1\n");
    constexpr FieldDesc late[] = {{0x4, 0, 1, "", record, nullptr}, end_of_table};
    EXPECT_EXIT((without_console(), dumped(bytes, late)), testing::ExitedWithCode(1),
                "^Can't dump field_4: needs 4 bytes, has 3\n");
}

