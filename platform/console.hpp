// The console: the standard descriptors, and the key wait of a failure report.
#pragma once

#include <cstdarg>

// Waits for one key press on the console, read without echo. Where standard
// input is no terminal (a file, a pipe, NUL) it reads nothing and returns at
// once, so scripts never stall and their input is left as it was. A signal
// that ends the process during the wait leaves the terminal as it found it.
void wait_for_key();

// Opens /dev/null on any of the standard descriptors that is closed, so that
// no file the program opens takes its place (and a message its contents).
void open_missing_standard_descriptors();

// Writes the formatted message on standard error. A Windows console is
// given it as UTF-16, converted from the active code page, so that a path
// shows as it was typed; anywhere else its bytes are written as they are.
void write_error_message(const char* format, va_list args);
