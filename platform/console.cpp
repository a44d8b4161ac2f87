#include "platform/console.hpp"

#if defined(_WIN32)

#include <conio.h>

void wait_for_key() { (void)_getch(); }

#else

#include <termios.h>
#include <unistd.h>
#include <cerrno>

namespace {

void read_one_byte() {
    char key = 0;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace

void wait_for_key() {
    termios saved{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) {
        read_one_byte();  // pipe, file, /dev/null or closed: one byte or end of input
        return;
    }
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);  // one byte, no echo, Ctrl-C is a key
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    read_one_byte();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

#endif
