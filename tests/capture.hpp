// Helpers shared by the in-process tests.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Everything `write` appends to a fresh stream.
inline std::string captured(const std::function<void(std::FILE*)>& write) {
    std::FILE* file = std::tmpfile();
    write(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

// Lets a death test's fatal report end its key wait at once.
inline void without_console() { (void)std::freopen("/dev/null", "r", stdin); }
