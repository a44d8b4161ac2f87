// The payload layout of class 0x17 objects: the 350 bytes after the header.
// The tables have internal linkage, so that their addresses are constants
// the static checks below can use in every build, sanitizers included.
#pragma once

#include "dump/field_desc.hpp"

// clang-format off
// Entry i names bit i; "" is a bit without a name.
constexpr const char* sprite_flag_bits[] = {
    "hassprites",  // 0
    nullptr,
};

constexpr const char* class17_flag_bits[] = {
    "",            // 0
    "",            // 1
    "",            // 2
    "",            // 3
    "",            // 4
    "",            // 5
    "rackrail",    // 6
    "",            // 7
    "",            // 8
    "",            // 9
    "",            // 10
    "",            // 11
    "dualhead",    // 12
    "",            // 13
    "refittable",  // 14
    "noannounce",  // 15
    nullptr,
};

// One of the four unnamed records at payload offset 0x24, 6 bytes apart.
constexpr FieldDesc spriteind_fields[] = {
//    offset size count name          subtable  bitnames
    { 0x0,   1,   1,    "",           nullptr,  nullptr },
    { 0x1,   1,   1,    "",           nullptr,  nullptr },
    { 0x2,   1,   1,    "",           nullptr,  nullptr },
    { 0x3,   1,   1,    "",           nullptr,  nullptr },
    { 0x4,   1,   1,    "spriteind",  nullptr,  nullptr },
    { 0x5,   1,   1,    "",           nullptr,  nullptr },
    end_of_table,
};

// One "sprites" record; bytes 0xF to 0x11 have no row, so they are never
// written, yet the records lie 0x1E bytes apart.
constexpr FieldDesc sprite_fields[] = {
//    offset size count name          subtable  bitnames
    { 0x0,   1,   1,    "numdir",     nullptr,  nullptr          },
    { 0x1,   1,   1,    "",           nullptr,  nullptr          },
    { 0x2,   1,   1,    "",           nullptr,  nullptr          },
    { 0x3,   1,   1,    "",           nullptr,  nullptr          },
    { 0x4,   1,   1,    "",           nullptr,  nullptr          },
    { 0x5,   1,   1,    "",           nullptr,  nullptr          },
    { 0x6,   1,   1,    "",           nullptr,  nullptr          },
    { 0x7,   1,   1,    "flags",      nullptr,  sprite_flag_bits },
    { 0x8,   1,   1,    "",           nullptr,  nullptr          },
    { 0x9,   1,   1,    "",           nullptr,  nullptr          },
    { 0xA,   1,   1,    "",           nullptr,  nullptr          },
    { 0xB,   1,   1,    "",           nullptr,  nullptr          },
    { 0xC,   1,   1,    "",           nullptr,  nullptr          },
    { 0xD,   1,   1,    "",           nullptr,  nullptr          },
    { 0xE,   1,   1,    "spritenum",  nullptr,  nullptr          },
    { 0x12,  4,   1,    "",           nullptr,  nullptr          },
    { 0x16,  4,   1,    "",           nullptr,  nullptr          },
    { 0x1A,  4,   1,    "",           nullptr,  nullptr          },
    end_of_table,
};

// Offsets count from the first payload byte, file offset 16.
constexpr FieldDesc class17_fields[] = {
//    offset size count name            subtable          bitnames
    { 0x0,   1,   2,    "",             nullptr,          nullptr           },
    { 0x2,   1,   1,    "class",        nullptr,          nullptr           },  // not the header's class byte
    { 0x3,   1,   1,    "",             nullptr,          nullptr           },
    { 0x4,   1,   1,    "",             nullptr,          nullptr           },
    { 0x5,   1,   1,    "",             nullptr,          nullptr           },
    { 0x6,   1,   1,    "nummods",      nullptr,          nullptr           },
    { 0x7,   1,   1,    "costind",      nullptr,          nullptr           },
    { 0x8,   2,   1,    "costfact",     nullptr,          nullptr           },
    { 0xA,   1,   1,    "",             nullptr,          nullptr           },
    { 0xB,   1,   1,    "runcostind",   nullptr,          nullptr           },
    { 0xC,   2,   1,    "runcostfact",  nullptr,          nullptr           },
    { 0xE,   1,   1,    "",             nullptr,          nullptr           },
    { 0xF,   1,   1,    "numcompat",    nullptr,          nullptr           },
    { 0x10,  1,   20,   "",             nullptr,          nullptr           },
    { 0x24,  0,   4,    "",             spriteind_fields, nullptr           },
    { 0x3C,  0,   4,    "sprites",      sprite_fields,    nullptr           },
    { 0xB4,  1,   36,   "",             nullptr,          nullptr           },
    { 0xD8,  2,   1,    "power",        nullptr,          nullptr           },
    { 0xDA,  2,   1,    "speed",        nullptr,          nullptr           },
    { 0xDC,  2,   1,    "rackspeed",    nullptr,          nullptr           },
    { 0xDE,  2,   1,    "weight",       nullptr,          nullptr           },
    { 0xE0,  2,   1,    "flags",        nullptr,          class17_flag_bits },
    { 0xE2,  1,   44,   "",             nullptr,          nullptr           },
    { 0x10E, 1,   1,    "",             nullptr,          nullptr           },
    { 0x10F, 1,   1,    "visfxtype",    nullptr,          nullptr           },
    { 0x110, 1,   1,    "",             nullptr,          nullptr           },
    { 0x111, 1,   1,    "",             nullptr,          nullptr           },
    { 0x112, 1,   1,    "wakefxtype",   nullptr,          nullptr           },
    { 0x113, 1,   1,    "",             nullptr,          nullptr           },
    { 0x114, 2,   1,    "designed",     nullptr,          nullptr           },
    { 0x116, 2,   1,    "obsolete",     nullptr,          nullptr           },
    { 0x118, 1,   1,    "",             nullptr,          nullptr           },
    { 0x119, 1,   1,    "startsndtype", nullptr,          nullptr           },
    { 0x11A, 1,   64,   "",             nullptr,          nullptr           },
    { 0x15A, 1,   1,    "numsnd",       nullptr,          nullptr           },
    { 0x15B, 1,   3,    "",             nullptr,          nullptr           },
    end_of_table,
};

// clang-format on

// The rows, spans and bit lists as the layout states them; a mistyped row fails the build.
static_assert(row_count(spriteind_fields) == 6 && layout_span(spriteind_fields) == 6);
static_assert(row_count(sprite_fields) == 18 && layout_span(sprite_fields) == 0x1E);
static_assert(row_count(class17_fields) == 36 && layout_span(class17_fields) == 0x15E);
static_assert(bit_name_count(sprite_flag_bits) == 1 && bit_name_count(class17_flag_bits) == 16);
static_assert(table_is_valid(class17_fields, 1));
