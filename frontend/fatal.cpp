#include "frontend/fatal.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.hpp"

namespace {

// Shows each control character as "?": C0 and DEL, and C1 (U+0080 to
// U+009F) both as UTF-8 (C2 80 to C2 9F) and as a lone byte, which a
// terminal takes for one too. A byte that continues a character ("機" ends
// in 0x9F) and every byte from 0xA0 are kept.
void mask_control_characters(char* message) {
    auto* out = reinterpret_cast<unsigned char*>(message);
    unsigned owed = 0;  // continuation bytes the last lead byte announced
    for (const unsigned char* in = out; *in; ++in) {
        const unsigned char byte = *in;
        const bool continues = owed > 0 && (byte & 0xC0) == 0x80;
        const bool c1 = byte == 0xC2 && (in[1] & 0xE0) == 0x80;
        owed = continues ? owed - 1 : c1 ? 0 : unsigned{byte >= 0xC2} + unsigned{byte >= 0xE0} + unsigned{byte >= 0xF0};
        in += c1 ? 1 : 0;
        *out++ = byte < 0x20 || byte == 0x7F || c1 || (!continues && (byte & 0xE0) == 0x80) ? '?' : byte;
    }
    *out = 0;
}

}  // namespace

void fatal(const char* format, ...) {
    // Room for the longest operand a command line can pass (128 KiB on
    // Linux, 32 Ki characters on Windows) and the words around it.
    static char message[(128 << 10) + 512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    // A name's control characters could move the cursor or retitle the terminal.
    mask_control_characters(message);
    std::fflush(stdout);
    std::fflush(stderr);
    write_error_text(message);
    std::fputs("\nPress any key to abort.", stderr);
    wait_for_key();
    std::fputs("\n", stderr);
    std::exit(1);
}

void* alloc_or_fail(std::size_t size, const char* label) {
    // malloc(0) may rightly return null; one byte keeps an empty file from
    // looking like a memory failure.
    return check_alloc(std::malloc(size ? size : 1), size, label);
}

void* check_alloc(void* block, std::size_t size, const char* label) {
    if (!block) fatal("Not enough memory for %s, wanted %zX", label, size);
    return block;
}
