#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

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

// Reads from the terminal until `wanted` has appeared, the program closes it, or 10 s pass.
std::string read_until(int master, const std::string& wanted) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
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
};

// Runs the program without an operand on a terminal and presses `key` at the prompt.
KeyWaitOutcome press_key_at_prompt(char key) {
    KeyWaitOutcome outcome;
    termios initial = fresh_terminal_settings();
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, &initial, nullptr);
    if (child == 0) {
        char* argv[] = {const_cast<char*>(program_under_test().command.back().c_str()), nullptr};
        execv(argv[0], argv);
        _exit(127);
    }
    outcome.before_key = read_until(master, "Press any key to abort.");
    usleep(200000);
    int status = 0;
    outcome.waited = waitpid(child, &status, WNOHANG) == 0;
    tcgetattr(master, &outcome.while_waiting);
    (void)write(master, &key, 1);
    outcome.after_key = read_until(master, "\n");
    waitpid(child, &status, 0);
    tcgetattr(master, &outcome.afterwards);
    close(master);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    const KeyWaitOutcome outcome = press_key_at_prompt('x');
    EXPECT_EQ(outcome.before_key, "Give filename as parameter\r\nPress any key to abort.");
    EXPECT_TRUE(outcome.waited);
    EXPECT_EQ(outcome.while_waiting.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(outcome.after_key, "\r\n");  // no "x": the key is not echoed
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(terminal_settings_equal(outcome.afterwards, fresh_terminal_settings()));
}

TEST_F(KeyWait, InterruptKeyIsJustAKey) {
    const KeyWaitOutcome outcome = press_key_at_prompt('\x03');
    EXPECT_TRUE(outcome.waited);
    EXPECT_EQ(outcome.after_key, "\r\n");
    EXPECT_EQ(outcome.status, 1);  // exited, not killed by SIGINT
    EXPECT_TRUE(terminal_settings_equal(outcome.afterwards, fresh_terminal_settings()));
}
