// Helpers shared by the in-process and the process-level tests.
#pragma once

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

// A fresh temporary stream, or an exception.
inline std::FILE* temporary_stream() {
    std::FILE* file = std::tmpfile();
    if (!file) throw std::runtime_error("tmpfile failed");
    return file;
}

// Everything written to `file`, which is closed.
inline std::string read_all(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

// Everything `write` appends to a fresh stream.
inline std::string captured(const std::function<void(std::FILE*)>& write) {
    std::FILE* file = temporary_stream();
    write(file);
    return read_all(file);
}

// Lets a death test's fatal report end its key wait at once.
inline void without_console() { (void)std::freopen("/dev/null", "r", stdin); }
