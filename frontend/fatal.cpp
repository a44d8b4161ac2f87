#include "frontend/fatal.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.hpp"

namespace {

// The length of the valid UTF-8 sequence at `text`, or 0 where none starts.
// The second byte's range rules out overlong forms, surrogates and code
// points past U+10FFFF; a terminating zero is never a continuation byte.
int sequence_length(const unsigned char* text) {
    const unsigned char lead = text[0];
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC2 || lead > 0xF4) return 0;
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (text[1] < low || text[1] > high) return 0;
    for (int i = 2; i < length; ++i)
        if ((text[i] & 0xC0) != 0x80) return 0;
    return length;
}

// Shows each control character as "?": C0 and DEL, and C1 (U+0080 to
// U+009F) as UTF-8 (C2 80 to C2 9F) and as a lone byte, which a terminal
// takes for one too. Every other character, valid UTF-8 or a lone byte
// from 0xA0, is kept: a continuation byte of a valid sequence is no control.
void mask_control_characters(char* message) {
    auto* text = reinterpret_cast<unsigned char*>(message);
    unsigned char* out = text;
    while (*text) {
        const int length = sequence_length(text);
        const int taken = length ? length : 1;
        if (*text < 0x20 || *text == 0x7F || (*text >= 0x80 && *text < 0xA0) ||
            (*text == 0xC2 && length && text[1] < 0xA0)) {
            *out++ = '?';
            text += taken;
        } else {
            for (int i = 0; i < taken; ++i) *out++ = *text++;
        }
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
