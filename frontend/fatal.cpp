#include "frontend/fatal.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.hpp"

void fatal(const char* format, ...) {
    // Room for the longest operand a command line can pass (128 KiB on
    // Linux, 32 Ki characters on Windows) and the words around it.
    static char message[(128 << 10) + 512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    // A name's control bytes could move the cursor or retitle the terminal.
    for (char* c = message; *c; ++c)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) *c = '?';
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
