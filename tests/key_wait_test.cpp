#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "tests/process.hpp"

namespace {

// The settings a fresh pseudo-terminal starts with: canonical, with echo.
termios fresh_terminal_settings() {
    int master = -1;
    int slave = -1;
    termios settings{};
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
        tcgetattr(slave, &settings);
        close(slave);
        close(master);
    }
    return settings;
}

// The letters and digits a terminal shows, without its control sequences
// (Wine's console draws each character with a few of them).
std::string visible_letters(const std::string& text) {
    std::string letters;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            for (i += 2; i < text.size() && (text[i] < 0x40 || text[i] > 0x7E); ++i) {
            }
        } else if (std::isalnum(static_cast<unsigned char>(text[i]))) {
            letters += text[i];
        }
    }
    return letters;
}

// Reads from the terminal until `wanted` has appeared (among the visible
// letters only, with `by_letters`), the program closes it, or 10 s pass.
std::string read_until(int master, const std::string& wanted, bool by_letters = false) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((by_letters ? visible_letters(text) : text).find(wanted) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char buffer[256];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) break;  // EIO once the program has closed its side
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

struct KeyWaitOutcome {
    std::string before_key;
    std::string after_key;
    termios while_waiting{};
    termios afterwards{};
    bool waited = false;
    int status = -1;
    int signal = 0;  // the signal that ended the program, if one did
};

// How the program is started on a terminal.
struct Start {
    bool input_from_null = false;
    bool error_to_file = false;  // standard error redirected away from the terminal
    bool background = false;     // a job that is not the terminal's foreground job
    int ignored_signal = 0;      // ignored from the start, as nohup does
    std::string shell_after;     // run by sh after the program, on the same terminal
};

// Runs the whole command without an operand on a terminal; returns its pid.
pid_t start_on_terminal(int& master, const Start& start = {}) {
    termios initial = fresh_terminal_settings();
    const pid_t child = forkpty(&master, nullptr, &initial, nullptr);
    if (child < 0) throw std::runtime_error("forkpty failed");
    if (child != 0) return child;
    if (start.input_from_null) dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    if (start.error_to_file) dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
    if (start.ignored_signal) signal(start.ignored_signal, SIG_IGN);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);  // SIGQUIT would dump one
    if (start.background || !start.shell_after.empty()) {
        const pid_t job = fork();
        if (job > 0) {
            int status = 0;
            waitpid(job, &status, 0);
            if (!start.shell_after.empty()) execl("/bin/sh", "sh", "-c", start.shell_after.c_str(), nullptr);
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128);
        }
        if (start.background) setpgid(0, 0);  // a process group of its own, not the terminal's
    }
    exec_program({});
}

// Runs the program without an operand on a terminal and, at the prompt,
// sends it `signal` (unless 0), then presses `key` (unless 0).
KeyWaitOutcome end_wait_at_prompt(char key, int signal = 0, int ignored_signal = 0) {
    KeyWaitOutcome outcome;
    int master = -1;
    Start start;
    start.ignored_signal = ignored_signal;
    const pid_t child = start_on_terminal(master, start);
    outcome.before_key = read_until(master, "Press any key to abort.");
    usleep(200000);
    int status = 0;
    outcome.waited = waitpid(child, &status, WNOHANG) == 0;
    tcgetattr(master, &outcome.while_waiting);
    if (signal) kill(child, signal);
    if (key) (void)write(master, &key, 1);
    outcome.after_key = read_until(master, "\n");
    waitpid(child, &status, 0);
    tcgetattr(master, &outcome.afterwards);
    close(master);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

bool terminal_settings_equal(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag;
}

class KeyWait : public testing::Test {
protected:
    void SetUp() override {
        if (program_under_test().command.size() > 1) GTEST_SKIP() << "no terminal through a runner";
    }
};

}  // namespace

TEST_F(KeyWait, OneKeyEndsTheWaitWithoutEchoAndRestoresTheTerminal) {
    const KeyWaitOutcome outcome = end_wait_at_prompt('x');
    EXPECT_EQ(outcome.before_key, "Give filename as parameter\r\nPress any key to abort.");
    EXPECT_TRUE(outcome.waited);
    EXPECT_EQ(outcome.while_waiting.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(outcome.after_key, "\r\n");  // no "x": the key is not echoed
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(terminal_settings_equal(outcome.afterwards, fresh_terminal_settings()));
}

TEST_F(KeyWait, AnArrowKeyIsConsumedWhole) {
    int master = -1;
    Start start;
    start.shell_after = "IFS= read -r line; printf '<%s>' \"$line\"";
    const pid_t child = start_on_terminal(master, start);
    read_until(master, "Press any key to abort.");
    usleep(200000);
    (void)write(master, "\x1b[A", 3);  // the up arrow
    read_until(master, "\r\n");
    usleep(200000);
    (void)write(master, "ok\n", 3);
    const std::string shown = read_until(master, ">");
    EXPECT_NE(shown.find("<ok>"), std::string::npos) << shown;
    bool timed_out = false;
    wait_for_child(child, 10, timed_out);
    close(master);
}

TEST_F(KeyWait, InterruptKeyIsJustAKey) {
    const KeyWaitOutcome outcome = end_wait_at_prompt('\x03');
    EXPECT_TRUE(outcome.waited);
    EXPECT_EQ(outcome.after_key, "\r\n");
    EXPECT_EQ(outcome.status, 1);  // exited, not killed by SIGINT
    EXPECT_TRUE(terminal_settings_equal(outcome.afterwards, fresh_terminal_settings()));
}

TEST_F(KeyWait, SignalInTheWaitRestoresTheTerminalAndEndsTheProgram) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGRTMIN + 3}) {
        const KeyWaitOutcome outcome = end_wait_at_prompt(0, signal);
        EXPECT_TRUE(outcome.waited) << signal;
        EXPECT_EQ(outcome.signal, signal);
        EXPECT_TRUE(terminal_settings_equal(outcome.afterwards, fresh_terminal_settings())) << signal;
    }
    // Started with SIGHUP ignored (nohup): the signal changes nothing, the key still ends the wait.
    const KeyWaitOutcome outcome = end_wait_at_prompt('x', SIGHUP, SIGHUP);
    EXPECT_EQ(outcome.after_key, "\r\n");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(terminal_settings_equal(outcome.afterwards, fresh_terminal_settings()));
}

// Messages on a terminal, input from /dev/null (a script run from a
// terminal): the failure ends without a key, on every platform.
// Waits up to 10 s for the program to end, then kills it; true when it ended with status 1.
bool ends_with_status_1(pid_t child) {
    bool timed_out = false;
    const int status = wait_for_child(child, 10, timed_out);
    return !timed_out && WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST(KeyWaitOnTerminal, NoWaitWhereNoOneCanAnswer) {
    struct Case {
        const char* what;
        Start start;
        const char* shown;
    };
    const auto with = [](bool Start::*setting) {
        Start start;
        start.*setting = true;
        return start;
    };
    const Case cases[] = {
        {"input from /dev/null", with(&Start::input_from_null), "GivefilenameasparameterPressanykeytoabort"},
        {"standard error to a file", with(&Start::error_to_file), ""},
        {"a background job", with(&Start::background), "GivefilenameasparameterPressanykeytoabort"},
    };
    for (const Case& c : cases) {
        if (c.start.background && program_under_test().command.size() > 1) continue;  // Wine's jobs are its own
        int master = -1;
        const pid_t child = start_on_terminal(master, c.start);
        const std::string shown = read_until(master, "Pressanykeytoabort", true);
        EXPECT_TRUE(ends_with_status_1(child)) << c.what;
        close(master);
        EXPECT_EQ(visible_letters(shown), c.shown) << c.what << ": " << shown;
    }
}

TEST(KeyWaitOnTerminal, InputFromTheTerminalWaitsForAKey) {
    int master = -1;
    const pid_t child = start_on_terminal(master);
    const std::string shown = read_until(master, "Pressanykeytoabort", true);
    usleep(500000);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "ended without a key";
    (void)write(master, "x", 1);
    EXPECT_TRUE(ends_with_status_1(child));
    close(master);
    EXPECT_EQ(visible_letters(shown), "GivefilenameasparameterPressanykeytoabort") << shown;
}
