// Writes samples/engine.dat: a class 0x17 object with plausible values in
// its named fields, so the README's command has something real to convert.
// Each named field's value differs from what the bytes one before or one
// after it would read (the bytes of a 2-byte value differ too), so a field
// whose table offset is off by one shows in the sample's document.
#include <array>
#include <cstdint>
#include <cstdio>

namespace {

std::array<std::uint8_t, 16 + 350> bytes{};

void put(std::size_t payload_offset, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[16 + payload_offset + static_cast<std::size_t>(i)] = (value >> (8 * i)) & 0xFF;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_sample OUTPUT\n", stderr);
        return 2;
    }
    const char header[] = "\x17\x2A\x00\x00" "DIESEL01" "\x00\x00\x00\x00";
    for (std::size_t i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(header[i]);

    put(0x02, 0x17, 1);   // class
    put(0x06, 2, 1);      // nummods
    put(0x07, 3, 1);      // costind
    put(0x08, 1250, 2);   // costfact
    put(0x0B, 4, 1);      // runcostind
    put(0x0C, 310, 2);    // runcostfact
    put(0x0F, 1, 1);      // numcompat
    put(0x10, 0x2C, 1);   // an unknown byte, to show one
    for (std::uint32_t i = 0; i < 4; ++i) put(0x24 + 6 * i + 4, 33 + i, 1);  // spriteind
    for (std::uint32_t i = 0; i < 4; ++i) {
        const std::size_t sprite = 0x3C + 0x1E * i;
        put(sprite + 0x0, 8 * (i + 1), 1);     // numdir
        put(sprite + 0x7, 1, 1);               // flags: hassprites
        put(sprite + 0xE, 10 + i, 1);          // spritenum
        if (i < 2) put(sprite + 0x12, 0xFFFFFF38U, 4);  // a signed unknown: -200
    }
    put(0xD8, 1860, 2);   // power
    put(0xDA, 100, 2);    // speed
    put(0xDC, 40, 2);     // rackspeed
    put(0xDE, 112, 2);    // weight
    put(0xE0, 0x5040, 2); // flags: rackrail, dualhead, refittable
    put(0x10F, 6, 1);     // visfxtype
    put(0x112, 7, 1);     // wakefxtype
    put(0x114, 1954, 2);  // designed
    put(0x116, 1989, 2);  // obsolete
    put(0x119, 5, 1);     // startsndtype
    put(0x15A, 9, 1);     // numsnd

    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
