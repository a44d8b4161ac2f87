// Runs the process-level tests on the program named by --program PATH,
// started through --runner PATH when given (an emulator, say).
// --crlf expects documents with CR LF line ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tests/process.hpp"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    ProgramUnderTest& program = program_under_test();
    std::string runner;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--program") && i + 1 < argc) path = argv[++i];
        else if (!std::strcmp(argv[i], "--runner") && i + 1 < argc) runner = argv[++i];
        else if (!std::strcmp(argv[i], "--crlf")) program.line_end = "\r\n";
    }
    if (path.empty() && !GTEST_FLAG_GET(list_tests)) {
        std::fprintf(stderr, "usage: %s --program PATH [--runner PATH] [--crlf]\n", argv[0]);
        return 2;
    }
    if (!runner.empty()) program.command.push_back(std::filesystem::absolute(runner).string());
    if (!path.empty()) program.command.push_back(std::filesystem::absolute(path).string());
    return RUN_ALL_TESTS();
}
