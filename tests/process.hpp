// Running the program under test as a child process, in a scratch folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The command that starts the program: an optional runner, then the program.
struct ProgramUnderTest {
    std::vector<std::string> command;
    std::vector<std::string> rebuild_command;  // the same for xml2obj
    bool windows = false;         // the Windows program, run through a runner
    std::string line_end = "\n";  // what each "\n" of a text stream becomes
    bool address_limit_applies = true;
    bool emulated = false;        // run by a processor emulator (qemu)
    std::string fail_calls;       // a library that makes a chosen call fail, when it can be preloaded
};
ProgramUnderTest& program_under_test();

struct RunOptions {
    int stdin_fd = -1;                    // -1: /dev/null
    bool stdin_closed = false;
    bool stderr_closed = false;
    std::uint64_t address_space_limit = 0;  // 0: none
    std::uint64_t file_size_limit = 0;      // 0: none; a write past it fails with EFBIG
    bool killed_past_limit = false;         // a write past it ends the Windows program, as a kill does
    std::string fail_call;                  // the call the fail_calls library makes fail
    bool rebuild = false;                   // run xml2obj instead of obj2xml
    unsigned user = 0;                      // 0: as the test runs; else as this user and group (needs root)
    std::string program;                    // run this copy of the program instead, without a runner
};

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
    bool timed_out = false;
};

// Runs the program with `operands` in `directory`; a run longer than 20 s is killed.
// Fails the test by an exception when the child cannot be made.
RunResult run_program(const std::filesystem::path& directory, const std::vector<std::string>& operands,
                      const RunOptions& options = {});

// Replaces the calling process by the program with `operands`.
[[noreturn]] void exec_program(const std::vector<std::string>& operands, bool rebuild = false);

// Waits up to `seconds` for the child to end, then kills it. Returns its
// wait status; `timed_out` tells whether it was killed.
int wait_for_child(int child, int seconds, bool& timed_out);

// A fresh folder, removed with everything in it at the end of the test.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::filesystem::path path;
};

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::string read_file(const std::filesystem::path& path);
// The names in the folder, sorted.
std::vector<std::string> folder_names(const std::filesystem::path& directory);
