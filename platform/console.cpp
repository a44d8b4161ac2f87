#include "platform/console.hpp"

#if defined(_WIN32)

#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

void wait_for_key() {
    // _getch reads the console even when standard input is redirected, and
    // _isatty is true for NUL: only a console input handle has a mode.
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) (void)_getch();
}

void open_missing_standard_descriptors() {}

void write_error_message(const char* format, va_list args) {
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    va_list measuring;
    va_copy(measuring, args);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    // One block for the bytes and their UTF-16 form: a character takes at most one unit per byte.
    const std::size_t bytes = (static_cast<std::size_t>(length > 0 ? length : 0) + 2) & ~std::size_t{1};  // aligned
    void* block = GetConsoleMode(console, &mode) && length > 0 ? std::malloc(bytes * (1 + sizeof(wchar_t))) : nullptr;
    if (!block) {
        std::vfprintf(stderr, format, args);  // redirected, or no memory: the bytes as they are
        return;
    }
    char* text = static_cast<char*>(block);
    auto* wide = reinterpret_cast<wchar_t*>(text + bytes);
    std::vsnprintf(text, bytes, format, args);
    const int units = MultiByteToWideChar(CP_ACP, 0, text, length, wide, length);
    DWORD written = 0;
    std::fflush(stderr);
    if (units <= 0 || !WriteConsoleW(console, wide, static_cast<DWORD>(units), &written, nullptr))
        std::fputs(text, stderr);
    std::free(block);
}

#else

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <iterator>

namespace {

termios saved_settings{};

// The signals that end a process whose terminal sends no signals itself
// while it waits (kill, a closed terminal).
constexpr int ending_signals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
struct sigaction previous_actions[std::size(ending_signals)];

// Gives the terminal its settings back, then lets the signal end the
// process as it would have: its default action is back, and the signal,
// blocked while the handler runs, is delivered as it returns.
// GCOVR_EXCL_START: a process the signal ends writes no coverage
extern "C" void restore_terminal_and_end(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(signal, &default_action, nullptr);
    raise(signal);
}
// GCOVR_EXCL_STOP

void catch_ending_signals() {
    struct sigaction restore {};
    restore.sa_handler = restore_terminal_and_end;
    sigemptyset(&restore.sa_mask);
    for (std::size_t i = 0; i < std::size(ending_signals); ++i) {
        sigaction(ending_signals[i], nullptr, &previous_actions[i]);
        if (previous_actions[i].sa_handler != SIG_IGN) sigaction(ending_signals[i], &restore, nullptr);
    }
}

void release_ending_signals() {
    for (std::size_t i = 0; i < std::size(ending_signals); ++i)
        sigaction(ending_signals[i], &previous_actions[i], nullptr);
}

}  // namespace

void open_missing_standard_descriptors() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);  // closed: the lowest free descriptor is fd
}

void write_error_message(const char* format, va_list args) { std::vfprintf(stderr, format, args); }

void wait_for_key() {
    // A file, a pipe or /dev/null is read by no one but its owner: no wait.
    if (tcgetattr(STDIN_FILENO, &saved_settings) != 0) return;  // only a terminal has settings
    termios raw = saved_settings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);  // one byte, no echo, Ctrl-C is a key
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    catch_ending_signals();
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key = 0;
    (void)read(STDIN_FILENO, &key, 1);  // no handler returns here, so no signal interrupts it
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
    release_ending_signals();
}

#endif
