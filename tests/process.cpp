#include "tests/process.hpp"

#include "tests/capture.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

ProgramUnderTest& program_under_test() {
    static ProgramUnderTest program;
    return program;
}

namespace {

[[noreturn]] void exec_command(std::vector<std::string> arguments, const std::vector<std::string>& operands) {
    arguments.insert(arguments.end(), operands.begin(), operands.end());
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

}  // namespace

void exec_program(const std::vector<std::string>& operands, bool rebuild) {
    exec_command(rebuild ? program_under_test().rebuild_command : program_under_test().command, operands);
}

int wait_for_child(int child, int seconds, bool& timed_out) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    timed_out = false;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status;
}

namespace {

[[noreturn]] void exec_child(const fs::path& directory, const std::vector<std::string>& operands,
                             const RunOptions& options, int out_fd, int err_fd) {
    if (options.stdin_closed) {
        close(STDIN_FILENO);
    } else {
        const int in = options.stdin_fd >= 0 ? options.stdin_fd : open("/dev/null", O_RDONLY);
        dup2(in, STDIN_FILENO);
    }
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    if (options.stderr_closed) close(STDERR_FILENO);
    if (options.address_space_limit) {
        const rlimit limit{options.address_space_limit, options.address_space_limit};
        setrlimit(RLIMIT_AS, &limit);
    }
    if (options.file_size_limit) {
        const rlimit limit{options.file_size_limit, options.file_size_limit};
        setrlimit(RLIMIT_FSIZE, &limit);
        // The POSIX program has a write past it fail; under Wine, whose own
        // process takes the signal, the test does that for the Windows one.
        if (program_under_test().windows) signal(SIGXFSZ, options.killed_past_limit ? SIG_DFL : SIG_IGN);
        // A coverage build would write its counts cut short at the limit,
        // spoiling them for every later run; they go nowhere instead.
        setenv("GCOV_PREFIX", "/dev/null", 1);
    }
    if (!options.fail_call.empty()) {
        setenv("LD_PRELOAD", program_under_test().fail_calls.c_str(), 1);
        setenv("OBJ2XML_FAIL", options.fail_call.c_str(), 1);
    }
    // Another user may not reach the leak suppressions in the source tree; the
    // runs as the test's own user check for leaks.
    if (options.user) setenv("LSAN_OPTIONS", "detect_leaks=0", 1);
    if (options.user && (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0))
        _exit(126);
    if (chdir(directory.c_str()) != 0) _exit(126);
    if (!options.program.empty()) exec_command({options.program}, operands);
    exec_program(operands, options.rebuild);
}

}  // namespace

RunResult run_program(const fs::path& directory, const std::vector<std::string>& operands,
                      const RunOptions& options) {
    std::FILE* out = temporary_stream();
    std::FILE* err = temporary_stream();
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) exec_child(directory, operands, options, fileno(out), fileno(err));

    RunResult result;
    const int status = wait_for_child(child, 20, result.timed_out);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = read_all(out);
    result.err = read_all(err);
    return result;
}

ScratchDir::ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "obj2xml-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void write_file(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> folder_names(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
