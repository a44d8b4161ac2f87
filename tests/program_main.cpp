// Runs the process-level tests on a build of the program.
//   --program PATH          the program
//   --rebuilder PATH        xml2obj, for the tests of rebuilding objects
//   --runner PATH           starts the program (an emulator, say)
//   --windows               expect the Windows program: CR LF line ends in
//                           documents and messages, Windows' error texts
//   --fail-calls LIBRARY    preloaded to make chosen run-time calls fail
//   --setenv NAME=VALUE     for the program and its runner
//   --no-address-limit      skip the tests that limit the address space
//   --emulated              the runner emulates the processor (qemu), and
//                           takes the signals of resource limits itself
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tests/process.hpp"

namespace {

constexpr char usage[] =
    "usage: %s --program PATH [--rebuilder PATH] [--runner PATH] [--fail-calls LIBRARY] [--setenv NAME=VALUE]... [--no-address-limit] "
    "[--windows] [--emulated]\n";

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    ProgramUnderTest& program = program_under_test();
    std::string runner;
    std::string path;
    std::string rebuilder;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--program") && has_value) path = argv[++i];
        else if (!std::strcmp(argv[i], "--rebuilder") && has_value) rebuilder = argv[++i];
        else if (!std::strcmp(argv[i], "--runner") && has_value) runner = argv[++i];
        else if (!std::strcmp(argv[i], "--fail-calls") && has_value) program.fail_calls = argv[++i];
        else if (!std::strcmp(argv[i], "--setenv") && has_value) putenv(argv[++i]);
        else if (!std::strcmp(argv[i], "--windows")) program.windows = true;
        else if (!std::strcmp(argv[i], "--no-address-limit")) program.address_limit_applies = false;
        else if (!std::strcmp(argv[i], "--emulated")) program.emulated = true;
        else {
            // A misspelt option must not turn a test into a skip.
            std::fprintf(stderr, "%s: unknown option or missing value: %s\n", argv[0], argv[i]);
            std::fprintf(stderr, usage, argv[0]);
            return 2;
        }
    }
    if (path.empty() && !GTEST_FLAG_GET(list_tests)) {
        std::fprintf(stderr, usage, argv[0]);
        return 2;
    }
    if (!runner.empty()) program.command.push_back(std::filesystem::absolute(runner).string());
    program.rebuild_command = program.command;
    if (program.windows) program.line_end = "\r\n";
    if (!path.empty()) program.command.push_back(std::filesystem::absolute(path).string());
    if (!rebuilder.empty()) program.rebuild_command.push_back(std::filesystem::absolute(rebuilder).string());
    return RUN_ALL_TESTS();
}
