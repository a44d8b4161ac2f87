#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cctype>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>
#include <tuple>
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

// Waits until the program has put the terminal into its key wait's raw mode,
// or 10 s pass; true when it has.
bool wait_for_raw_mode(int master) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (termios settings{}; std::chrono::steady_clock::now() < deadline; usleep(2000))
        if (tcgetattr(master, &settings) == 0 && !(settings.c_lflag & ICANON)) return true;
    return false;
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
enum class Started { plain, input_from_null, error_to_file, error_to_other_terminal, other_session, background };

// Runs the whole command without an operand on a terminal; returns its pid.
// `ignored_signal` is ignored from the start, as nohup does; `shell_after`
// is run by sh on the same terminal once the program has ended.
pid_t start_on_terminal(int& master, Started setup = Started::plain, int ignored_signal = 0,
                        const char* shell_after = nullptr) {
    termios initial = fresh_terminal_settings();
    const pid_t child = forkpty(&master, nullptr, &initial, nullptr);
    if (child < 0) throw std::runtime_error("forkpty failed");
    if (child != 0) return child;
    if (setup == Started::input_from_null) dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    if (setup == Started::error_to_file) dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
    if (int other = -1, other_slave = -1;
        setup == Started::error_to_other_terminal && openpty(&other, &other_slave, nullptr, nullptr, nullptr) == 0)
        dup2(other_slave, STDERR_FILENO);  // the prompt shows there, where no one reads it
    if (ignored_signal) signal(ignored_signal, SIG_IGN);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);  // SIGQUIT would dump one
    if (setup == Started::background || setup == Started::other_session || shell_after) {
        const pid_t job = fork();
        if (job > 0) {
            int status = 0;
            waitpid(job, &status, 0);
            if (shell_after) execl("/bin/sh", "sh", "-c", shell_after, nullptr);
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128);
        }
        if (setup == Started::background) setpgid(0, 0);  // a process group of its own, not the terminal's
        if (setup == Started::other_session) setsid();    // the terminal is no longer its controlling one
    }
    exec_program({});
}

// Runs the program without an operand on a terminal and, at the prompt,
// sends it `signal` (unless 0), then presses `key` (unless 0).
KeyWaitOutcome end_wait_at_prompt(char key, int signal = 0, int ignored_signal = 0) {
    KeyWaitOutcome outcome;
    int master = -1;
    const pid_t child = start_on_terminal(master, Started::plain, ignored_signal);
    outcome.before_key = read_until(master, "Press any key to abort.");
    int status = 0;
    outcome.waited = wait_for_raw_mode(master) && waitpid(child, &status, WNOHANG) == 0;
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

// Ctrl-C too is just a key: the program exits, not killed by SIGINT.
TEST_F(KeyWait, OneKeyEndsTheWaitWithoutEchoAndRestoresTheTerminal) {
    for (const char key : {'x', '\x03'}) {
        SCOPED_TRACE(int{key});
        const KeyWaitOutcome outcome = end_wait_at_prompt(key);
        EXPECT_EQ(outcome.before_key, "Give filename as parameter\r\nPress any key to abort.");
        EXPECT_TRUE(outcome.waited);
        EXPECT_EQ(outcome.while_waiting.c_lflag & (ICANON | ECHO | ISIG), 0U);
        EXPECT_EQ(outcome.after_key, "\r\n");  // the key is not echoed
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(terminal_settings_equal(outcome.afterwards, fresh_terminal_settings()));
    }
}

TEST_F(KeyWait, AnArrowKeyIsConsumedWhole) {
    int master = -1;
    const pid_t child = start_on_terminal(master, Started::plain, 0, "IFS= read -r line; printf '<%s>' \"$line\"");
    read_until(master, "Press any key to abort.");
    wait_for_raw_mode(master);
    (void)write(master, "\x1b[A", 3);  // the up arrow
    read_until(master, "\r\n");  // written once the terminal has its settings back
    (void)write(master, "ok\n", 3);
    const std::string shown = read_until(master, ">");
    EXPECT_NE(shown.find("<ok>"), std::string::npos) << shown;
    bool timed_out = false;
    wait_for_child(child, 10, timed_out);
    close(master);
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
    const std::tuple<const char*, Started, const char*> cases[] = {
        {"input from /dev/null", Started::input_from_null, "GivefilenameasparameterPressanykeytoabort"},
        {"standard error to a file", Started::error_to_file, ""},
        {"standard error to another terminal", Started::error_to_other_terminal, ""},
        {"a terminal that is not the controlling one", Started::other_session,
         "GivefilenameasparameterPressanykeytoabort"},
        {"a background job", Started::background, "GivefilenameasparameterPressanykeytoabort"},
    };
    for (const auto& [what, setup, expected] : cases) {
        if (setup >= Started::error_to_other_terminal && program_under_test().command.size() > 1)
            continue;  // Wine's console and jobs are its own
        int master = -1;
        const pid_t child = start_on_terminal(master, setup);
        const std::string shown = read_until(master, "Pressanykeytoabort", true);
        EXPECT_TRUE(ends_with_status_1(child)) << what;
        close(master);
        EXPECT_EQ(visible_letters(shown), expected) << what << ": " << shown;
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
