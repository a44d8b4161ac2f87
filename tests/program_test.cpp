#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "frontend/document.hpp"
#include "tests/capture.hpp"
#include "tests/process.hpp"
#include "tests/xml_check.hpp"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes object_file(std::uint8_t class_byte, const std::string& name, std::size_t payload_size = 350) {
    Bytes data(16 + payload_size, 0);
    data[0] = class_byte;
    data[1] = 0x01;
    data[2] = 0x02;
    data[3] = 0x03;
    for (std::size_t i = 0; i < name.size() && i < 8; ++i) data[4 + i] = static_cast<std::uint8_t>(name[i]);
    data[12] = 'Z';  // never written
    for (std::size_t i = 16; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    return data;
}

std::string with_line_ends(const std::string& text) {
    std::string result;
    for (const char c : text) result += c == '\n' ? program_under_test().line_end : std::string(1, c);
    return result;
}

// The document as the program's own document writer makes it.
std::string expected_document(const Bytes& data) {
    return with_line_ends(captured([&](std::FILE* out) { write_document(out, data); }));
}

// Standard error is a text stream too: on Windows its "\n" become CR LF.
std::string failure(const std::string& message) { return with_line_ends(message + "\nPress any key to abort.\n"); }

bool windows() { return program_under_test().windows; }

// Windows refuses to open a folder as a file; POSIX opens it, then fails to read or write it.
std::string folder_error() { return windows() ? "Permission denied" : "Is a directory"; }

bool complete(const std::string& document) {
    const std::string closing = with_line_ends("</object>\n");
    return document.size() >= closing.size() && document.ends_with(closing);
}

class Program : public testing::Test {
protected:
    // Every whole document a test made must be valid against the schema.
    void TearDown() override {
        if (!xmllint_available()) return;
        for (const auto& entry : fs::recursive_directory_iterator(scratch.path)) {
            if (entry.path().extension() != ".xml" || !entry.is_regular_file()) continue;
            if (complete(read_file(entry.path()))) {
                EXPECT_TRUE(schema_valid(entry.path().string())) << entry.path();
            }
        }
    }
    fs::path file(const std::string& name) const { return scratch.path / name; }
    RunResult run(const std::vector<std::string>& operands, const RunOptions& options = {}) const {
        return run_program(scratch.path, operands, options);
    }
    ScratchDir scratch;
};


}  // namespace

TEST_F(Program, ConvertsSilentlyAndIgnoresFurtherOperands) {
    const Bytes data = object_file(0x97, "LOCOMOTV");
    write_file(file("engine.dat"), data);
    write_file(file("other.dat"), data);
    const RunResult result = run({"engine.dat", "other.dat"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    const std::string document = read_file(file("engine.xml"));
    EXPECT_EQ(document, expected_document(data));
    EXPECT_EQ(document.substr(0, document.find('>', 50) + 1),
              with_line_ends("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                             "<object class=\"97\" subclass=\"030201\" name=\"LOCOMOTV\">"));
    EXPECT_EQ(folder_names(scratch.path), (std::vector<std::string>{"engine.dat", "engine.xml", "other.dat"}));
}

TEST_F(Program, BytesPastThePayloadAreIgnored) {
    Bytes data = object_file(0x17, "TRAM", 350);
    write_file(file("exact.dat"), data);
    data.resize(data.size() + 100, 0xAB);
    write_file(file("longer.dat"), data);
    EXPECT_EQ(run({"exact.dat"}).status, 0);
    EXPECT_EQ(run({"longer.dat"}).status, 0);
    EXPECT_EQ(read_file(file("exact.xml")), read_file(file("longer.xml")));
    fs::copy_file(file("exact.dat"), file("large.dat"));
    fs::resize_file(file("large.dat"), 8U << 20);  // read whole into a block of large pages
    EXPECT_EQ(run({"large.dat"}).status, 0);
    EXPECT_EQ(read_file(file("exact.xml")), read_file(file("large.xml")));
}

TEST_F(Program, NoOperand) {
    const RunResult result = run({});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, failure("Give filename as parameter"));
    EXPECT_TRUE(folder_names(scratch.path).empty());
}

TEST_F(Program, InputThatCannotBeRead) {
    RunResult result = run({"missing.dat"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, failure("Can't read missing.dat: No such file or directory"));

    fs::create_directory(file("adir.dat"));
    result = run({"adir.dat"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, failure("Can't read adir.dat: " + folder_error()));
    EXPECT_EQ(folder_names(scratch.path), std::vector<std::string>{"adir.dat"});
}

TEST_F(Program, ShortFilesAreRefusedBeforeAnyOutput) {
    struct Case {
        const char* name;
        Bytes bytes;
        const char* message;
    };
    const Case cases[] = {
        {"empty.dat", {}, "Can't convert empty.dat: file has 0 bytes, needs 16"},
        {"header.dat", Bytes(15, 0x17), "Can't convert header.dat: file has 15 bytes, needs 16"},
        {"engine.dat", object_file(0x17, "E", 4), "Can't convert engine.dat: file has 20 bytes, needs 366"},
        {"last.dat", object_file(0x97, "E", 349), "Can't convert last.dat: file has 365 bytes, needs 366"},
    };
    for (const Case& c : cases) {
        write_file(file(c.name), c.bytes);
        const RunResult result = run({c.name});
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_EQ(result.out, "") << c.name;
        EXPECT_EQ(result.err, failure(c.message));
        EXPECT_FALSE(fs::exists(file(fs::path(c.name).replace_extension(".xml")))) << c.name;
    }
}

TEST_F(Program, OtherClassKeepsTheEnvelopeLines) {
    write_file(file("wagon.dat"), object_file(0x18, "WAGON", 0));
    const RunResult result = run({"wagon.dat"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, failure("Can't translate class 18 yet"));
    EXPECT_EQ(read_file(file("wagon.xml")),
              with_line_ends("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                             "<object class=\"18\" subclass=\"030201\" name=\"WAGON\">\n"));
}

TEST_F(Program, OverwritesAndConvertsInPlace) {
    const Bytes data = object_file(0x17, "ENGINE");
    write_file(file("engine.dat"), data);
    write_file(file("engine.xml"), Bytes(20000, 'x'));
    EXPECT_EQ(run({"engine.dat"}).status, 0);
    EXPECT_EQ(read_file(file("engine.xml")), expected_document(data));

    write_file(file("inplace.xml"), data);
    EXPECT_EQ(run({"inplace.xml"}).status, 0);
    EXPECT_EQ(read_file(file("inplace.xml")), expected_document(data));
}

TEST_F(Program, OutputPathReplacesOnlyTheLastExtension) {
    const Bytes data = object_file(0x17, "ENGINE");
    fs::create_directory(file("tools.old"));
    for (const char* input : {"engine.v2.dat", "tools.old/engine", "plain"}) write_file(file(input), data);
    for (const char* input : {"engine.v2.dat", "tools.old/engine", "plain"}) EXPECT_EQ(run({input}).status, 0);
    EXPECT_EQ(folder_names(scratch.path),
              (std::vector<std::string>{"engine.v2.dat", "engine.v2.xml", "plain", "plain.xml", "tools.old"}));
    EXPECT_EQ(folder_names(file("tools.old")), (std::vector<std::string>{"engine", "engine.xml"}));
}

TEST_F(Program, OutputThatCannotBeOpened) {
    write_file(file("engine.dat"), object_file(0x17, "ENGINE"));
    fs::create_directory(file("engine.xml"));
    const RunResult result = run({"engine.dat"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, failure("Can't write engine.xml: " + folder_error()));
}

TEST_F(Program, DocumentNotWrittenWholeIsAFailure) {
    write_file(file("engine.dat"), object_file(0x17, "ENGINE"));
    fs::create_symlink("/dev/full", file("engine.xml"));
    const RunResult result = run({"engine.dat"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, failure("Can't write engine.xml: No space left on device"));
}

TEST_F(Program, AllocationFailureNamesTheWholeLength) {
    if (!program_under_test().address_limit_applies)
        GTEST_SKIP() << "a sanitizer's shadow memory does not fit in the limited address space";
    if (windows()) GTEST_SKIP() << "the runner itself needs more address space than the limit leaves";
    const int fd = open(file("huge.dat").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(ftruncate(fd, 0x30000000), 0);
    close(fd);
    RunOptions options;
    options.address_space_limit = 256U << 20;
    const RunResult result = run({"huge.dat"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, failure("Not enough memory for data, wanted 30000000"));
    EXPECT_FALSE(fs::exists(file("huge.xml")));
}

TEST_F(Program, EveryDocumentIsWellFormed) {
    if (!xmllint_available()) GTEST_SKIP() << "xmllint not found (Debian package libxml2-utils)";
    const std::string names[] = {"A&B<C>D", "\"quoted\"", "\t\r\n\x01\x1F\x7F", "\xE9t\xE9\x80\xFF", "<!--", "]]>&#;"};
    int index = 0;
    for (const std::string& name : names) {
        const std::string input = "n" + std::to_string(index++) + ".dat";
        write_file(file(input), object_file(0x17, name));
        ASSERT_EQ(run({input}).status, 0) << name;
    }
    write_file(file("other.dat"), object_file(0x98, "<&>\"", 0));
    EXPECT_EQ(run({"other.dat"}).status, 1);  // two envelope lines: not a document yet
    for (int i = 0; i < index; ++i) EXPECT_TRUE(well_formed(file("n" + std::to_string(i) + ".xml").string())) << i;
}

TEST_F(Program, KeyWaitWithoutTerminalReadsAtMostOneByte) {
    write_file(file("keys"), Bytes{'a', 'b', 'c'});
    RunOptions options;
    options.stdin_fd = open(file("keys").c_str(), O_RDONLY);
    RunResult result = run({}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(result.timed_out);
    if (!windows()) {
        EXPECT_EQ(lseek(options.stdin_fd, 0, SEEK_CUR), 1);  // the offset is shared with the child
    }
    close(options.stdin_fd);

    RunOptions closed;
    closed.stdin_closed = true;
    result = run({}, closed);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, failure("Give filename as parameter"));
}

TEST_F(Program, BackslashSeparatesFoldersOnlyOnWindows) {
    if (!windows()) GTEST_SKIP() << "\\ is a name character on POSIX";
    fs::create_directory(file("tools.old"));
    write_file(file("tools.old/engine"), object_file(0x17, "ENGINE"));
    EXPECT_EQ(run({"tools.old\\engine"}).status, 0);
    EXPECT_EQ(folder_names(file("tools.old")), (std::vector<std::string>{"engine", "engine.xml"}));
}

TEST_F(Program, WildcardConvertsTheFirstMatchOnly) {
    if (!windows()) GTEST_SKIP() << "the POSIX shell expands wildcards, not the program";
    for (const char* name : {"loco1.dat", "loco2.dat", "loco3.dat"}) write_file(file(name), object_file(0x17, name));
    const RunResult result = run({"loco*.dat"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> names = folder_names(scratch.path);
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.ends_with(".xml"); }),
              1);
}

TEST_F(Program, FailuresOfTheInputsCallsAreReported) {
    if (program_under_test().fail_calls.empty()) GTEST_SKIP() << "no failure library for this program";
    write_file(file("engine.dat"), object_file(0x17, "ENGINE"));
    struct Case {
        const char* call;
        const char* message;
    };
    const Case cases[] = {
        {"fstat", "Can't stat engine.dat: Input/output error"},
        {"short_read", "Can't read engine.dat: File ended before its reported size"},
        {"fclose_input", "Can't close engine.dat: Input/output error"},
        {"fclose_output", "Can't write engine.xml: Input/output error"},
    };
    for (const Case& c : cases) {
        RunOptions options;
        options.fail_call = c.call;
        const RunResult result = run({"engine.dat"}, options);
        EXPECT_EQ(result.status, 1) << c.call;
        EXPECT_EQ(result.err, failure(c.message));
        if (c.call != std::string("fclose_output")) {
            EXPECT_FALSE(fs::exists(file("engine.xml"))) << c.call;
        }
    }
}
