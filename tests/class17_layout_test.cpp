#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "dump/layouts/class17.hpp"
#include "dump/walker.hpp"
#include "tests/capture.hpp"

namespace {

using Payload = std::array<std::uint8_t, 350>;

std::string payload_lines(const Payload& payload) {
    return captured([&](std::FILE* out) { EXPECT_EQ(dump_fields(out, payload, class17_fields, 1), 350); });
}

// The lines of a payload of zero bytes, written out by hand from the layout.
const char* const zero_payload_lines =
    "\t<variable name=\"class\" size=\"1\">0</variable>\n"
    "\t<variable name=\"nummods\" size=\"1\">0</variable>\n"
    "\t<variable name=\"costind\" size=\"1\">0</variable>\n"
    "\t<variable name=\"costfact\" size=\"2\">0</variable>\n"
    "\t<variable name=\"runcostind\" size=\"1\">0</variable>\n"
    "\t<variable name=\"runcostfact\" size=\"2\">0</variable>\n"
    "\t<variable name=\"numcompat\" size=\"1\">0</variable>\n"
    "\t<structure name=\"field_24[0]\">\n"
    "\t\t<variable name=\"spriteind\" size=\"1\">0</variable>\n"
    "\t</structure>\n"
    "\t<structure name=\"field_24[1]\">\n"
    "\t\t<variable name=\"spriteind\" size=\"1\">0</variable>\n"
    "\t</structure>\n"
    "\t<structure name=\"field_24[2]\">\n"
    "\t\t<variable name=\"spriteind\" size=\"1\">0</variable>\n"
    "\t</structure>\n"
    "\t<structure name=\"field_24[3]\">\n"
    "\t\t<variable name=\"spriteind\" size=\"1\">0</variable>\n"
    "\t</structure>\n"
    "\t<structure name=\"sprites[0]\">\n"
    "\t\t<variable name=\"numdir\" size=\"1\">0</variable>\n"
    "\t\t<bitmask name=\"flags\" size=\"1\">\n"
    "\t\t\t<bit name=\"hassprites\">0</bit>\n"
    "\t\t</bitmask>\n"
    "\t\t<variable name=\"spritenum\" size=\"1\">0</variable>\n"
    "\t</structure>\n"
    "\t<structure name=\"sprites[1]\">\n"
    "\t\t<variable name=\"numdir\" size=\"1\">0</variable>\n"
    "\t\t<bitmask name=\"flags\" size=\"1\">\n"
    "\t\t\t<bit name=\"hassprites\">0</bit>\n"
    "\t\t</bitmask>\n"
    "\t\t<variable name=\"spritenum\" size=\"1\">0</variable>\n"
    "\t</structure>\n"
    "\t<structure name=\"sprites[2]\">\n"
    "\t\t<variable name=\"numdir\" size=\"1\">0</variable>\n"
    "\t\t<bitmask name=\"flags\" size=\"1\">\n"
    "\t\t\t<bit name=\"hassprites\">0</bit>\n"
    "\t\t</bitmask>\n"
    "\t\t<variable name=\"spritenum\" size=\"1\">0</variable>\n"
    "\t</structure>\n"
    "\t<structure name=\"sprites[3]\">\n"
    "\t\t<variable name=\"numdir\" size=\"1\">0</variable>\n"
    "\t\t<bitmask name=\"flags\" size=\"1\">\n"
    "\t\t\t<bit name=\"hassprites\">0</bit>\n"
    "\t\t</bitmask>\n"
    "\t\t<variable name=\"spritenum\" size=\"1\">0</variable>\n"
    "\t</structure>\n"
    "\t<variable name=\"power\" size=\"2\">0</variable>\n"
    "\t<variable name=\"speed\" size=\"2\">0</variable>\n"
    "\t<variable name=\"rackspeed\" size=\"2\">0</variable>\n"
    "\t<variable name=\"weight\" size=\"2\">0</variable>\n"
    "\t<bitmask name=\"flags\" size=\"2\">\n"
    "\t\t<bit name=\"rackrail\">0</bit>\n"
    "\t\t<bit name=\"dualhead\">0</bit>\n"
    "\t\t<bit name=\"refittable\">0</bit>\n"
    "\t\t<bit name=\"noannounce\">0</bit>\n"
    "\t</bitmask>\n"
    "\t<variable name=\"visfxtype\" size=\"1\">0</variable>\n"
    "\t<variable name=\"wakefxtype\" size=\"1\">0</variable>\n"
    "\t<variable name=\"designed\" size=\"2\">0</variable>\n"
    "\t<variable name=\"obsolete\" size=\"2\">0</variable>\n"
    "\t<variable name=\"startsndtype\" size=\"1\">0</variable>\n"
    "\t<variable name=\"numsnd\" size=\"1\">0</variable>\n";

std::vector<std::string> unknown_names(const std::string& text) {
    const std::string opening = "<unknown name=\"";
    std::vector<std::string> names;
    for (std::size_t at = text.find(opening); at != std::string::npos; at = text.find(opening, at)) {
        at += opening.size();
        names.push_back(text.substr(at, text.find('"', at) - at));
    }
    return names;
}

void add_array(std::vector<std::string>& names, const std::string& base, int count) {
    for (int i = 0; i < count; ++i) names.push_back(base + "[" + std::to_string(i) + "]");
}

}  // namespace

TEST(Class17Layout, ZeroPayloadWritesEveryNamedFieldAndNoUnknown) {
    EXPECT_EQ(payload_lines(Payload{}), zero_payload_lines);
}

TEST(Class17Layout, UnnamedFieldsAreNamedFromTheirOffsets) {
    Payload payload{};
    payload.fill(0x01);
    std::vector<std::string> expected{"field_0[0]", "field_0[1]", "field_3", "field_4", "field_5",
                                      "field_A",    "field_E"};
    add_array(expected, "field_10", 20);
    for (int record = 0; record < 4; ++record)
        expected.insert(expected.end(), {"field_0", "field_1", "field_2", "field_3", "field_5"});
    for (int record = 0; record < 4; ++record)  // bytes 0xF to 0x11 of a sprite have no row
        expected.insert(expected.end(), {"field_1", "field_2", "field_3", "field_4", "field_5", "field_6", "field_8",
                                         "field_9", "field_A", "field_B", "field_C", "field_D", "field_12",
                                         "field_16", "field_1A"});
    add_array(expected, "field_B4", 36);
    add_array(expected, "field_E2", 44);
    expected.insert(expected.end(), {"field_10E", "field_110", "field_111", "field_113", "field_118"});
    add_array(expected, "field_11A", 64);
    add_array(expected, "field_15B", 3);
    EXPECT_EQ(unknown_names(payload_lines(payload)), expected);
}

TEST(Class17Layout, FlagBitsAndSpriteFields) {
    Payload payload{};
    payload[0xE0] = 0x01;                                  // unnamed bit 0 of the payload flags
    payload[0x3C + 0x07] = 0xFE;                           // sprite bits 1 to 7 are never written
    payload[0x3C + 0x1E + 0x12 + 3] = 0x80;                // 4-byte unknown of sprites[1], bit 31
    payload[0x3C + 0x1E + 0x0F] = 0x55;                    // a byte no row describes
    const std::string text = payload_lines(payload);
    EXPECT_NE(text.find("\t<bitmask name=\"flags\" size=\"2\">\n"
                        "\t\t<bit name=\"bit0\">1</bit>\n"
                        "\t\t<bit name=\"rackrail\">0</bit>\n"),
              std::string::npos);
    EXPECT_NE(text.find("\t<structure name=\"sprites[0]\">\n"
                        "\t\t<variable name=\"numdir\" size=\"1\">0</variable>\n"
                        "\t\t<bitmask name=\"flags\" size=\"1\">\n"
                        "\t\t\t<bit name=\"hassprites\">0</bit>\n"
                        "\t\t</bitmask>\n"),
              std::string::npos);
    EXPECT_NE(text.find("\t\t<unknown name=\"field_12\" size=\"4\">-2147483648</unknown>\n"), std::string::npos);
    EXPECT_EQ(unknown_names(text), std::vector<std::string>{"field_12"});
}
