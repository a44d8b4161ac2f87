#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <tuple>
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

std::string to_string(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }
Bytes to_bytes(const std::string& text) { return {text.begin(), text.end()}; }

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
    RunResult rebuild(const std::vector<std::string>& operands) const {
        RunOptions options;
        options.rebuild = true;
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
    EXPECT_EQ(rebuild({"engine.xml", "engine.dat", "third.dat"}).status, 0);  // xml2obj past its second
    EXPECT_EQ(folder_names(scratch.path), (std::vector<std::string>{"engine.dat", "engine.xml", "other.dat"}));
}

// A class 0x97 object whose every field, named or not, bitmasks included,
// is not 0 and differs from the fields beside it: from the payload on, byte
// i of the file is (i + 1) % 255 + 1, and a sprites record's flags byte is 1,
// its one named bit. What no row describes (header bytes 12 to 15, bytes 0xF
// to 0x11 of each sprites record, the flags' other bits) is 0, as a new object's.
Bytes distinct_object() {
    Bytes object(366, 0);
    const std::string header = std::string("\x97\x02\x03\x04") + "DISTINCT";
    std::copy(header.begin(), header.end(), object.begin());
    for (std::size_t i = 16; i < object.size(); ++i) object[i] = static_cast<std::uint8_t>((i + 1) % 255 + 1);
    for (std::size_t sprite = 16 + 0x3C; sprite < 16 + 0xB4; sprite += 0x1E) {
        object[sprite + 0x7] = 1;
        std::fill_n(object.begin() + static_cast<std::ptrdiff_t>(sprite + 0xF), 3, 0);
    }
    return object;
}

// tests/data/engine.xml and distinct.xml were written by hand from the
// layout and checked against the objects' bytes. Each named field of the
// sample differs from what the bytes one before or after it would read, and
// every field of the distinct object has a line, unknown ones included, with
// a value its neighbours' differ from: a mistyped table offset or size shows.
TEST_F(Program, SampleGivesTheDocumentWrittenByHand) {
    const std::pair<Bytes, const char*> cases[] = {
        {to_bytes(read_file(OBJ2XML_SAMPLE)), OBJ2XML_SAMPLE_DOCUMENT},
        {distinct_object(), OBJ2XML_DISTINCT_DOCUMENT},
    };
    for (const auto& [object, hand_written] : cases) {
        const std::string document = with_line_ends(read_file(hand_written));
        write_file(file("engine.dat"), object);
        ASSERT_EQ(run({"engine.dat"}).status, 0) << hand_written;
        EXPECT_EQ(read_file(file("engine.xml")), document) << hand_written;
        write_file(file("hand.xml"), to_bytes(document));
        fs::remove(file("new.dat"));
        EXPECT_EQ(rebuild({"hand.xml", "new.dat"}).status, 0) << hand_written;
        EXPECT_EQ(read_file(file("new.dat")), to_string(object)) << hand_written;
    }
}

TEST_F(Program, BytesPastThePayloadAreIgnored) {
    Bytes data = object_file(0x17, "TRAM", 350);
    write_file(file("exact.dat"), data);
    data.resize(data.size() + 100, 0xAB);
    write_file(file("longer.dat"), data);
    EXPECT_EQ(run({"exact.dat"}).status, 0);
    EXPECT_EQ(run({"longer.dat"}).status, 0);
    EXPECT_EQ(read_file(file("exact.xml")), read_file(file("longer.xml")));
}

TEST_F(Program, OtherClassWritesTheEnvelopeLinesOnlyWhereNoFileStands) {
    write_file(file("wagon.dat"), object_file(0x18, "WAGON", 0));
    const std::string envelope = with_line_ends("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                                                "<object class=\"18\" subclass=\"030201\" name=\"WAGON\">\n");
    const RunResult result = run({"wagon.dat"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, failure("Can't translate class 18 yet"));
    EXPECT_EQ(read_file(file("wagon.xml")), envelope);

    // A file already at the document's path stays as it was.
    const Bytes engine = object_file(0x17, "ENGINE");
    write_file(file("c.dat"), engine);
    ASSERT_EQ(run({"c.dat"}).status, 0);
    write_file(file("c.bin"), object_file(0x18, "WAGON", 0));
    write_file(file("config.ini"), Bytes(40, '['));
    const Bytes own = {'m', 'i', 'n', 'e'};
    write_file(file("config.xml"), own);
    struct Case {
        const char* input;
        const char* document;
        std::string kept;
        const char* message;
    };
    const Case cases[] = {
        {"c.bin", "c.xml", expected_document(engine), "Can't translate class 18 yet"},
        {"config.ini", "config.xml", std::string(own.begin(), own.end()), "Can't translate class 5B yet"},
        {"wagon.dat", "wagon.xml", envelope, "Can't translate class 18 yet"},
    };
    for (const Case& c : cases) {
        const RunResult refused = run({c.input});
        EXPECT_EQ(refused.status, 1) << c.input;
        EXPECT_EQ(refused.err, failure(c.message));
        EXPECT_EQ(read_file(file(c.document)), c.kept) << c.input;
    }
}

// Started with standard error closed, a program must not let the file it
// writes take descriptor 2: what is written there would land in it. Its own
// message comes only once that file is closed, but a library's warning
// (fail_calls' fdopen_warns) comes while it is open.
TEST_F(Program, ClosedStandardErrorWritesNothingIntoTheFile) {
    const Bytes engine = object_file(0x17, "ENGINE");
    const std::string document = expected_document(engine);
    write_file(file("engine.dat"), engine);
    write_file(file("rebuild.xml"), to_bytes(document));
    write_file(file("wagon.dat"), object_file(0x18, "WAGON", 0));
    const std::string envelope = with_line_ends("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                                                "<object class=\"18\" subclass=\"030201\" name=\"WAGON\">\n");
    struct Case {
        std::vector<std::string> operands;
        bool rebuild;
        const char* call;
        const char* written;
        std::string expected;
    };
    const Case cases[] = {
        {{"wagon.dat"}, false, "", "wagon.xml", envelope},
        {{"engine.dat"}, false, "fdopen_warns", "engine.xml", document},
        {{"rebuild.xml", "engine.dat"}, true, "fdopen_warns", "engine.dat", to_string(engine)},
    };
    for (const Case& c : cases) {
        if (*c.call && program_under_test().fail_calls.empty()) continue;
        RunOptions options;
        options.stderr_closed = true;
        options.rebuild = c.rebuild;
        options.fail_call = c.call;
        EXPECT_EQ(run(c.operands, options).status, *c.call ? 0 : 1) << c.written;
        EXPECT_EQ(read_file(file(c.written)), c.expected) << c.written;
    }
}

TEST_F(Program, OverwritesAndConvertsInPlaceWithoutLosingTheInput) {
    const Bytes data = object_file(0x17, "ENGINE");
    write_file(file("engine.dat"), data);
    write_file(file("engine.xml"), Bytes(20000, 'x'));
    EXPECT_EQ(run({"engine.dat"}).status, 0);
    EXPECT_EQ(read_file(file("engine.xml")), expected_document(data));

    write_file(file("inplace.xml"), data);
    EXPECT_EQ(run({"inplace.xml"}).status, 0);
    EXPECT_EQ(read_file(file("inplace.xml")), expected_document(data));

    // Converted again, the document reads as an object of class 3C ("<"): refused, and kept.
    RunResult result = run({"inplace.xml"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, failure("Can't translate class 3C yet"));
    EXPECT_EQ(read_file(file("inplace.xml")), expected_document(data));

    // An object of a refused class in place stays as it was: no envelope lines replace it.
    const Bytes wagon = object_file(0x18, "WAGON", 0);
    write_file(file("other.xml"), wagon);
    result = run({"other.xml"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, failure("Can't translate class 18 yet"));
    EXPECT_EQ(read_file(file("other.xml")), std::string(wagon.begin(), wagon.end()));
    EXPECT_EQ(folder_names(scratch.path),
              (std::vector<std::string>{"engine.dat", "engine.xml", "inplace.xml", "other.xml"}));
}

TEST_F(Program, LinksAtTheDocumentsPathAreReplacedNotWrittenThrough) {
    const Bytes objects[] = {object_file(0x17, "ENGINE"), object_file(0x18, "WAGON", 0)};
    for (const bool hard : {false, true}) {
        for (const Bytes& object : objects) {
            const bool converted = object[0] == 0x17;
            const std::string trace = (hard ? "hard link, class " : "symlink, class ") + std::to_string(object[0]);
            write_file(file("s.dat"), object);
            fs::remove(file("s.xml"));
            if (hard) fs::create_hard_link(file("s.dat"), file("s.xml"));
            else fs::create_symlink("s.dat", file("s.xml"));
            EXPECT_EQ(run({"s.dat"}).status, converted ? 0 : 1) << trace;
            EXPECT_EQ(read_file(file("s.dat")), std::string(object.begin(), object.end())) << trace;
            if (converted) {
                EXPECT_FALSE(fs::is_symlink(file("s.xml"))) << trace;
                EXPECT_EQ(fs::hard_link_count(file("s.dat")), 1U) << trace;
                EXPECT_EQ(read_file(file("s.xml")), expected_document(object)) << trace;
            } else {
                EXPECT_TRUE(fs::equivalent(file("s.xml"), file("s.dat"))) << trace;  // the link, untouched
            }
        }
    }

    // A link planted at the document's path to a file elsewhere: that file is never written.
    ScratchDir elsewhere;
    write_file(elsewhere.path / "victim", Bytes{'k', 'e', 'e', 'p'});
    fs::create_symlink(elsewhere.path / "victim", file("e.xml"));
    const Bytes data = object_file(0x17, "ENGINE");
    write_file(file("e.dat"), data);
    EXPECT_EQ(run({"e.dat"}).status, 0);
    EXPECT_EQ(read_file(elsewhere.path / "victim"), "keep");
    EXPECT_FALSE(fs::is_symlink(file("e.xml")));
    EXPECT_EQ(read_file(file("e.xml")), expected_document(data));
    EXPECT_EQ(folder_names(scratch.path), (std::vector<std::string>{"e.dat", "e.xml", "s.dat", "s.xml"}));
}

TEST_F(Program, ReplacementKeepsTheDocumentsPermissions) {
    if (windows()) GTEST_SKIP() << "Windows files have no permission bits to keep";
    const mode_t umask_bits = umask(0);
    umask(umask_bits);
    write_file(file("engine.dat"), object_file(0x17, "ENGINE"));
    EXPECT_EQ(run({"engine.dat"}).status, 0);
    EXPECT_EQ(static_cast<mode_t>(fs::status(file("engine.xml")).permissions()), 0666 & ~umask_bits);
    for (const auto mode : {fs::perms(0640), fs::perms(0604), fs::perms(0444)}) {
        fs::permissions(file("engine.xml"), mode);
        EXPECT_EQ(run({"engine.dat"}).status, 0);
        EXPECT_EQ(fs::status(file("engine.xml")).permissions(), mode);
    }

    // A link replaced by a file that holds bytes of what it led to (the input
    // converted in place, a base object): no wider access than that file's.
    ScratchDir elsewhere;
    write_file(elsewhere.path / "private.dat", object_file(0x17, "PRIVATE"));
    fs::permissions(elsewhere.path / "private.dat", fs::perms(0600));
    for (const char* link : {"private.xml", "base.dat"}) fs::create_symlink(elsewhere.path / "private.dat", file(link));
    fs::create_symlink("missing.xml", file("dangling.xml"));  // leads nowhere: as a new document
    write_file(file("dangling.dat"), object_file(0x17, "DANGLING"));
    EXPECT_EQ(run({"dangling.dat"}).status, 0);
    EXPECT_EQ(static_cast<mode_t>(fs::status(file("dangling.xml")).permissions()), 0666 & ~umask_bits);
    EXPECT_EQ(run({"private.xml"}).status, 0);
    EXPECT_EQ(rebuild({"engine.xml", "base.dat"}).status, 0);
    for (const char* replaced : {"private.xml", "base.dat"}) {
        EXPECT_FALSE(fs::is_symlink(file(replaced))) << replaced;
        EXPECT_EQ(fs::status(file(replaced)).permissions(), fs::perms(0600)) << replaced;
    }
}

TEST_F(Program, ReplacementKeepsTheDocumentsOwnerAndAccessControlList) {
    if (windows()) GTEST_SKIP() << "Windows files have no POSIX owner or ACL";
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another owner";
    write_file(file("engine.dat"), object_file(0x17, "ENGINE"));
    ASSERT_EQ(run({"engine.dat"}).status, 0);
    const std::string doc = file("engine.xml").string();
    // The owner, group, mode and access ACL of the document; its inode tells a replacement.
    const auto facts = [&] {
        struct stat status {};
        char acl[256];
        const ssize_t size = getxattr(doc.c_str(), "system.posix_acl_access", acl, sizeof acl);
        stat(doc.c_str(), &status);
        return std::tuple(status.st_uid, status.st_gid, status.st_mode & 0777,
                          std::string(acl, size < 0 ? 0 : static_cast<std::size_t>(size)), status.st_ino);
    };
    ASSERT_EQ(chown(doc.c_str(), 65534, 65534), 0);  // nobody's, in nogroup
    if (std::system(("setfacl -m u:daemon:rw-,g::r--,m::rw- '" + doc + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "setfacl (Debian's acl) missing, or no ACLs on this file system";
    const auto before = facts();
    EXPECT_EQ(run({"engine.dat"}).status, 0);
    const auto after = facts();
    EXPECT_NE(std::get<4>(after), std::get<4>(before));  // replaced, not written through
    EXPECT_EQ(std::tuple(65534U, 65534U, std::get<2>(before), std::get<3>(before)),
              std::tuple(std::get<0>(after), std::get<1>(after), std::get<2>(after), std::get<3>(after)));
    EXPECT_FALSE(std::get<3>(before).empty());

    // Replaced by someone else (nobody), who may not give the file to its
    // owner (daemon) nor to its group: the group's bits were not meant for
    // theirs; the others' and the owner's stay, execute bits too.
    fs::permissions(scratch.path, fs::perms::all);
    ASSERT_EQ(std::system(("setfacl -b '" + doc + "'").c_str()), 0);
    ASSERT_EQ(chown(doc.c_str(), 1, 1), 0);
    fs::permissions(doc, fs::perms(0775));
    RunOptions as_nobody;
    as_nobody.user = 65534;
    as_nobody.program = file("obj2xml").string();  // where nobody may run it
    fs::copy_file(program_under_test().command.back(), as_nobody.program);
    EXPECT_EQ(run({"engine.dat"}, as_nobody).status, 0);
    EXPECT_EQ(std::tuple(65534U, 65534U, 0705U), std::tuple(std::get<0>(facts()), std::get<1>(facts()), std::get<2>(facts())));

    // In a folder whose default ACL lets daemon write, and others read: a new
    // document gets what any new file there gets, and one that replaces a
    // document without an ACL gets none. A link's target lends its ACL.
    const auto acl_and_mode = [](const fs::path& path) {
        char acl[256];
        const ssize_t size = getxattr(path.c_str(), "system.posix_acl_access", acl, sizeof acl);
        return std::pair(std::string(acl, size < 0 ? 0 : static_cast<std::size_t>(size)),
                         static_cast<mode_t>(fs::status(path).permissions()));
    };
    fs::create_directory(file("shared"));
    for (const char* name : {"shared/new.dat", "shared/old.dat", "secret.dat"}) write_file(file(name), object_file(0x17, "ENGINE"));
    write_file(file("shared/old.xml"), {});
    fs::create_symlink("secret.dat", file("link.xml"));
    ASSERT_EQ(std::system(("cd '" + scratch.path.string() + "' && setfacl -d -m u:daemon:rw-,o::r-- shared && " +
                           "touch shared/touched && chmod 0660 shared/old.xml && " +
                           "chmod 0640 secret.dat && setfacl -m g::---,u:daemon:r--,m::r-- secret.dat").c_str()), 0);
    for (const char* input : {"shared/new.dat", "shared/old.dat", "link.xml"}) EXPECT_EQ(run({input}).status, 0);
    EXPECT_EQ(acl_and_mode(file("shared/new.xml")), acl_and_mode(file("shared/touched")));
    EXPECT_EQ(acl_and_mode(file("shared/old.xml")), std::pair(std::string(), mode_t{0660}));
    EXPECT_EQ(acl_and_mode(file("link.xml")), acl_and_mode(file("secret.dat")));
    // A file system that says the ACL the folder gave is not there when it is removed (ENODATA): no failure.
    RunOptions acl_absent;
    acl_absent.fail_call = "fremovexattr";
    if (!program_under_test().fail_calls.empty()) {
        const RunResult result = run({"shared/old.dat"}, acl_absent);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
    }

    // A file system that keeps no ACLs (ramfs, as a USB stick's) still takes documents.
    const std::string plain = file("plain").string();
    fs::create_directory(plain);
    if (std::system(("mount -t ramfs ramfs '" + plain + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "mount -t ramfs failed (no right to mount, or no ramfs): the file system without ACLs is untested";
    write_file(file("plain/p.dat"), object_file(0x17, "PLAIN"));
    for (int run_count = 0; run_count < 2; ++run_count) EXPECT_EQ(run({"plain/p.dat"}).status, 0);  // new, then replaced
    EXPECT_EQ(read_file(file("plain/p.xml")), expected_document(object_file(0x17, "PLAIN")));
    EXPECT_EQ(std::system(("umount '" + plain + "'").c_str()), 0);
}

TEST_F(Program, TemporaryFileIsHiddenAndRandomlyNamed) {
    write_file(file("engine.dat"), object_file(0x17, "ENGINE"));
    // The names created in the folder and renamed there during one run.
    const auto names_during_run = [&] {
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        EXPECT_GE(inotify_add_watch(watch, scratch.path.c_str(), IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO), 0);
        EXPECT_EQ(run({"engine.dat"}).status, 0);
        std::vector<std::string> names;
        alignas(inotify_event) char events[4096];
        const ssize_t size = read(watch, events, sizeof events);
        for (ssize_t at = 0; at < size; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(events + at)->len)
            names.emplace_back(reinterpret_cast<inotify_event*>(events + at)->name);
        close(watch);
        return names;
    };
    const std::vector<std::string> first = names_during_run();
    const std::vector<std::string> second = names_during_run();
    ASSERT_EQ(first.size(), 3U);
    // On Windows the document's name with its last six characters replaced.
    const std::string prefix = windows() ? "engi" : ".engine.xml.";
    const auto temporary = [&](const std::string& name) {
        return name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
               std::all_of(name.end() - 6, name.end(), [](unsigned char c) { return std::isalnum(c); });
    };
    EXPECT_TRUE(temporary(first[0])) << first[0];
    EXPECT_EQ(first, (std::vector<std::string>{first[0], first[0], "engine.xml"}));  // created, renamed over
    ASSERT_EQ(second.size(), 3U);
    EXPECT_NE(second[0], first[0]);
    if (!windows()) return;

    // On Windows the hidden attribute hides it, from its creation: a run
    // killed while writing leaves it hidden, and the document is not.
    const auto hidden = [&](const std::string& name) {  // Wine keeps the attribute as Samba does
        char value[16] = {};
        return getxattr(file(name).c_str(), "user.DOSATTRIB", value, sizeof value - 1) > 0 &&
               (std::strtoul(value, nullptr, 16) & 2) != 0;  // FILE_ATTRIBUTE_HIDDEN
    };
    EXPECT_FALSE(hidden("engine.xml"));
    if (setxattr(file("engine.dat").c_str(), "user.probe", "", 0, 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes, where Wine keeps the hidden attribute";
    RunOptions options;
    options.file_size_limit = 1000;  // the document is several times longer
    options.killed_past_limit = true;
    EXPECT_NE(run({"engine.dat"}, options).status, 0);
    std::vector<std::string> left = folder_names(scratch.path);
    std::erase_if(left, [&](const std::string& name) { return !temporary(name); });
    ASSERT_EQ(left.size(), 1U);
    EXPECT_TRUE(hidden(left[0])) << left[0];
}

TEST_F(Program, ConversionsSideBySideLeaveOneWholeDocument) {
    Bytes first = object_file(0x17, "FIRST");
    Bytes second = object_file(0x97, "SECONDLY");
    std::fill(second.begin() + 16, second.end(), 0x5A);
    write_file(file("c.dat"), first);
    write_file(file("c.bin"), second);
    const std::string documents[] = {expected_document(first), expected_document(second)};
    const int rounds = windows() ? 8 : 40;
    for (int round = 0; round < rounds; ++round) {
        RunResult results[2];
        std::thread other([&] { results[1] = run({"c.bin"}); });
        results[0] = run({"c.dat"});
        other.join();
        EXPECT_EQ(results[0].status, 0) << round << ": " << results[0].err;
        EXPECT_EQ(results[1].status, 0) << round << ": " << results[1].err;
        const std::string document = read_file(file("c.xml"));
        EXPECT_TRUE(document == documents[0] || document == documents[1]) << round << ":\n" << document;
        EXPECT_EQ(folder_names(scratch.path), (std::vector<std::string>{"c.bin", "c.dat", "c.xml"})) << round;
    }
}

TEST_F(Program, OutputPathReplacesOnlyTheLastExtension) {
    const Bytes data = object_file(0x17, "ENGINE");
    fs::create_directory(file("tools.old"));
    for (const char* input : {"engine.v2.dat", "tools.old/engine", "plain"}) write_file(file(input), data);
    for (const char* input : {"engine.v2.dat", "tools.old/engine", "plain"}) EXPECT_EQ(run({input}).status, 0);
    EXPECT_EQ(folder_names(scratch.path),
              (std::vector<std::string>{"engine.v2.dat", "engine.v2.xml", "plain", "plain.xml", "tools.old"}));
    EXPECT_EQ(folder_names(file("tools.old")), (std::vector<std::string>{"engine", "engine.xml"}));

    // Names in any script: on Windows through the UTF-8 code page the program's manifest asks for.
    for (const std::string stem : {"\u6A5F\u95A2\u8ECA", "Gr\u00F6\u00DFe", "\u041B\u041E\u041A\u041E \u043C\u043E\u0442\u0438\u0432"}) {
        write_file(file(stem + ".dat"), data);
        EXPECT_EQ(run({stem + ".dat"}).status, 0) << stem;
        EXPECT_EQ(read_file(file(stem + ".xml")), expected_document(data)) << stem;
    }

    // A document whose whole path just fits Windows' 260 characters (Wine
    // sees the folder as Z:\tmp\...): its temporary file's path fits too.
    if (windows()) {
        const std::string name(259 - (scratch.path.string().size() + 3) - 4, 'n');
        write_file(file(name + ".dat"), data);
        const RunResult result = run({name + ".dat"});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(read_file(file(name + ".xml")), expected_document(data));
        EXPECT_EQ(folder_names(scratch.path).size(), 13U);  // no temporary file left
        // A name shorter than the temporary file's six letters, as near the
        // limit, given whole (Windows counts the path as it is given).
        const std::string folder(259 - (scratch.path.string().size() + 3) - 5, 'd');
        fs::create_directory(file(folder));
        write_file(file(folder + "/.dat"), data);
        EXPECT_EQ(run({"Z:" + file(folder + "/.dat").string()}).err, "");
        EXPECT_EQ(folder_names(file(folder)), (std::vector<std::string>{".dat", ".xml"}));
        return;
    }
    // Names near the 255-byte limit still leave room for the hidden temporary file's name.
    std::string longest = "a";
    for (int i = 0; i < 123; ++i) longest += "\xC3\xA9";  // a cut must not split a UTF-8 sequence
    longest += ".dat";
    write_file(file(longest), data);
    EXPECT_EQ(run({longest}).status, 0);
    EXPECT_TRUE(fs::exists(file(longest.substr(0, longest.size() - 4) + ".xml")));
}

TEST_F(Program, DocumentNotWrittenWholeIsAFailure) {
    if (program_under_test().emulated)
        GTEST_SKIP() << "qemu's user-mode emulator ends the program on SIGXFSZ, which the test has it ignore";
    const Bytes earlier = object_file(0x17, "EARLIER");
    write_file(file("engine.dat"), earlier);
    ASSERT_EQ(run({"engine.dat"}).status, 0);
    write_file(file("engine.dat"), object_file(0x17, "LATER"));
    RunOptions options;
    options.file_size_limit = 1000;  // the document is several times longer
    const RunResult result = run({"engine.dat"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    // Wine hands the system's EFBIG to the program as EINVAL. A coverage
    // build, which cannot write its counts there, adds complaints.
    const std::string expected = failure("Can't write engine.xml: " +
                                         std::string(windows() ? "Invalid argument" : "File too large"));
    EXPECT_TRUE(result.err.starts_with(expected)) << result.err;
    EXPECT_EQ(read_file(file("engine.xml")), expected_document(earlier));
    EXPECT_EQ(folder_names(scratch.path), (std::vector<std::string>{"engine.dat", "engine.xml"}));

    // The two lines of a refused class, cut short: no part of them is left.
    write_file(file("wagon.dat"), object_file(0x18, "WAGON", 0));
    options.file_size_limit = 80;  // the lines take 96 bytes, the message fewer
    const RunResult refused = run({"wagon.dat"}, options);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.starts_with("Can't write wagon.xml: ")) << refused.err;  // Windows' error text varies
    EXPECT_FALSE(fs::exists(file("wagon.xml")));
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

    // The reader copies no text: 24 MiB of blanks fit beside the document.
    std::string document = expected_document(object_file(0x17, "BIG"));
    document.insert(document.find("\t<variable"), 24 << 20, ' ');
    write_file(file("big.xml"), to_bytes(document));
    options.address_space_limit = 40U << 20;
    options.rebuild = true;
    EXPECT_EQ(run({"big.xml"}, options).status, 0);
    EXPECT_EQ(fs::file_size(file("big.dat")), 366U);
    fs::remove(file("big.xml"));  // past what xmllint reads in one text node
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

TEST_F(Program, KeyWaitWithoutTerminalReadsNothing) {
    write_file(file("keys"), Bytes{'a', 'b', 'c'});
    RunOptions options;
    options.stdin_fd = open(file("keys").c_str(), O_RDONLY);
    RunResult result = run({}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(lseek(options.stdin_fd, 0, SEEK_CUR), 0);  // the offset is shared with the child
    close(options.stdin_fd);

    // A pipe whose writer stays idle: no waiting on it.
    int idle[2];
    ASSERT_EQ(pipe2(idle, O_CLOEXEC), 0);
    options.stdin_fd = idle[0];
    result = run({"missing.dat"}, options);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, 1);
    close(idle[0]);
    close(idle[1]);

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

    // xml2obj expands none: a pattern must not pick the object it writes.
    const std::string loco = read_file(file("loco3.dat"));
    EXPECT_EQ(rebuild({"loco1.xml", "loco3*"}).status, 1);
    EXPECT_EQ(read_file(file("loco3.dat")), loco);
}

// The sample, then objects of class 17 and 97 whose every byte is random,
// those no row describes included, and some with bytes past the payload.
std::vector<Bytes> sample_and_random_objects(int count) {
    std::vector<Bytes> objects{to_bytes(read_file(OBJ2XML_SAMPLE))};
    std::mt19937 random(7);
    for (int i = 0; i < count; ++i) {
        Bytes object(366 + random() % 3 * 20);
        for (std::uint8_t& byte : object) byte = static_cast<std::uint8_t>(random());
        object[0] = i % 2 ? 0x17 : 0x97;
        objects.push_back(object);
    }
    return objects;
}

TEST_F(Program, RebuiltObjectsAndDocumentsComeBackByteForByte) {
    const std::string other_line_end = windows() ? "\n" : "\r\n";  // as the other system writes them
    for (const Bytes& object : sample_and_random_objects(windows() ? 3 : 12)) {
        write_file(file("f.dat"), object);
        ASSERT_EQ(run({"f.dat"}).status, 0);
        EXPECT_EQ(rebuild({"f.xml", "f.dat"}).status, 0);  // obj2xml F, then xml2obj F.xml F
        EXPECT_EQ(read_file(file("f.dat")), to_string(object));
        const std::string document = read_file(file("f.xml"));  // xml2obj D NEW, then obj2xml NEW
        fs::remove(file("f.dat"));
        EXPECT_EQ(rebuild({"f.xml"}).status, 0);
        EXPECT_EQ(run({"f.dat"}).status, 0);
        EXPECT_EQ(read_file(file("f.xml")), document);
        std::string other;
        for (const char c : document)
            if (c != '\r') other += c == '\n' ? other_line_end : std::string(1, c);
        write_file(file("other.xml"), to_bytes(other));
        write_file(file("f.dat"), object);
        EXPECT_EQ(rebuild({"other.xml", "f.dat"}).status, 0);
        EXPECT_EQ(read_file(file("f.dat")), to_string(object));
    }
    EXPECT_EQ(folder_names(scratch.path), (std::vector<std::string>{"f.dat", "f.xml", "other.xml"}));
}

// A class 0x17 object whose payload is zero; its header's name "ZERO" has
// bytes after its end, and bytes 12-15 are set.
Bytes zero_object() {
    Bytes object(366, 0);
    const std::string header("\x17\x01\x02\x03ZERO\0abc\xC1\xC2\xC3\xC4", 16);
    std::copy(header.begin(), header.end(), object.begin());
    return object;
}

// The zero object's document with the first `from` after `after` replaced by `to`.
std::string edited(const std::string& from, const std::string& to, const std::string& after = "") {
    std::string document = expected_document(zero_object());
    return document.replace(document.find(from, document.find(after)), from.size(), to);
}

TEST_F(Program, OneChangedValueChangesOnlyItsBytes) {
    struct Case {
        const char* from;
        const char* to;
        std::size_t offset;  // in the file
        Bytes bytes;
    };
    // clang-format off
    const Case cases[] = {
        {"\"speed\" size=\"2\">0<", "\"speed\" size=\"2\">-2<", 16 + 0xDA, {0xFE, 0xFF}},
        {"\"numdir\" size=\"1\">0<", "\"numdir\" size=\"1\">\t255 <", 16 + 0x3C, {0xFF}},
        {"\"rackrail\">0<", "\"rackrail\">1<", 16 + 0xE0, {0x40}},
        {"<variable name=\"power\"", "<unknown size='1' name='field_B4[35]'>7</unknown><variable name=\"power\"", 16 + 0xD7, {7}},
        {"name=\"ZERO\"", "name=\"ZER&#x4F;S\"", 8, {'S', 0, 0, 0}},
        {"name=\"ZERO\"", "name=\"LOCO\"", 4, {'L', 'O', 'C', 'O', 0, 0, 0, 0}},  // a new name as long as the old
        {"subclass=\"030201\"", "subclass=\"0A0201\"", 3, {0x0A}},
    };
    // clang-format on
    for (const Case& c : cases) {
        write_file(file("z.dat"), zero_object());
        write_file(file("z.xml"), to_bytes(edited(c.from, c.to)));
        EXPECT_EQ(rebuild({"z.xml"}).status, 0) << c.to;
        Bytes expected = zero_object();
        std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(c.offset));
        EXPECT_EQ(read_file(file("z.dat")), to_string(expected)) << c.to;
    }
}

// The man pages' lists of messages: each failure ends with status 1, says why
// on standard error only, and leaves every file in the folder as it was.
TEST_F(Program, FailuresAreReportedAndChangeNoFile) {
    write_file(file("engine.dat"), object_file(0x17, "ENGINE"));
    write_file(file("inplace.xml"), object_file(0x17, "INPLACE"));  // converted in place
    write_file(file("wagon.dat"), object_file(0x18, "WAGON", 0));
    write_file(file("cart.dat"), object_file(0x18, "CART", 0));  // the base of cart.xml, found by its name
    write_file(file("empty.dat"), {});
    write_file(file("header.dat"), Bytes(15, 0x17));
    write_file(file("short.dat"), object_file(0x17, "E", 4));
    write_file(file("last.dat"), object_file(0x97, "E", 349));
    write_file(file("dir.dat"), object_file(0x17, "DIR"));
    fs::create_directory(file("dir.xml"));
    fs::create_directory(file("adir.dat"));
    write_file(file("z.xml"), to_bytes(edited("", "")));
    write_file(file("z.dat"), zero_object());
    write_file(file("cart.xml"), to_bytes(edited("", "")));
    write_file(file("speed.xml"), to_bytes(edited(">0</variable>", ">70000</variable>", "speed")));
    write_file(file("doctype.xml"), to_bytes(edited("<object", "<!DOCTYPE object>\n<object")));
    struct Case {
        std::vector<std::string> operands;
        std::string message;
        bool rebuild = false;
        const char* call = "";  // made to fail by fail_calls
    };
    const std::string missing = ": No such file or directory";
    // clang-format off
    std::vector<Case> cases = {
        {{}, "Give filename as parameter"},
        {{}, "Give filename as parameter", true},
        // Redirected, a message keeps a name's bytes (U+6A5F and U+00DF end in
        // byte 9F), but control characters (C0, DEL, C1) would retitle or clear
        // the terminal: they show as "?". Windows refuses C0 in a name.
        {{"missing.dat"}, "Can't read missing.dat" + missing},
        {{"\u6A5F\u95A2\u8ECA.dat Gr\u00F6\u00DFe"}, "Can't read \u6A5F\u95A2\u8ECA.dat Gr\u00F6\u00DFe" + missing},
        {{"a\x1b]0;owned\x07\x1b[2J\x7f.dat"}, "Can't read a?]0;owned??[2J?.dat" + (windows() ? ": Invalid argument" : missing)},
        {{"\u009B2J\u009D0;x\u00A0.dat"}, "Can't read ?2J?0;x\u00A0.dat" + missing},
        {{"adir.dat"}, "Can't read adir.dat: " + folder_error()},
        {{"empty.dat"}, "Can't convert empty.dat: file has 0 bytes, needs 16"},
        {{"header.dat"}, "Can't convert header.dat: file has 15 bytes, needs 16"},
        {{"short.dat"}, "Can't convert short.dat: file has 20 bytes, needs 366"},
        {{"last.dat"}, "Can't convert last.dat: file has 365 bytes, needs 366"},
        {{"dir.dat"}, "Can't write dir.xml: " + folder_error()},
        {{"engine.dat"}, "Can't stat engine.dat: Input/output error", false, "fstat"},
        {{"engine.dat"}, "Can't read engine.dat: File ended before its reported size", false, "short_read"},
        {{"engine.dat"}, "Can't close engine.dat: Input/output error", false, "fclose_input"},
        {{"engine.dat"}, "Can't write engine.xml: Permission denied", false, "create_temporary"},
        {{"engine.dat"}, "Can't write engine.xml: Input/output error", false, "fclose_output"},
        {{"inplace.xml"}, "Can't write inplace.xml: Input/output error", false, "fsync"},
        {{"inplace.xml"}, "Can't write inplace.xml: Input/output error", false, "fchmod"},
        {{"wagon.dat"}, "Can't write wagon.xml: Permission denied", false, "create_new"},
        {{"speed.xml", "z.dat"}, "Can't rebuild from speed.xml: line 51, column 34: speed is 70000, which 2 bytes cannot hold (-32768 to 65535)", true},
        {{"doctype.xml", "z.dat"}, "Can't rebuild from doctype.xml: line 2, column 1: a DOCTYPE is not accepted", true},
        {{"cart.xml"}, "Can't rebuild cart.dat: class 18 is not one this program converts", true},
        {{"z.xml", "short.dat"}, "Can't rebuild short.dat: file has 20 bytes, needs 366", true},
        {{"z.xml", "header.dat"}, "Can't rebuild header.dat: file has 15 bytes, needs 16", true},
        {{"z.xml", "z.xml"}, "Can't rebuild z.xml from itself", true},
        {{"z.xml", windows() ? "NUL" : "/dev/null"},  // a device: not the document, and no base
         windows() ? "Can't stat NUL: Input/output error" : "Can't read /dev/null: Not a regular file", true},
    };
    // clang-format on
    if (!windows()) {  // Wine hands a lone byte to a Windows program as U+FFFD
        cases.push_back({{"\x9BJ\xE9.dat"}, "Can't read ?J\xE9.dat" + missing});  // C1 shows as "?", Latin-1 stays
        // A pipe has no size to read by, and one without a writer would hold the program.
        ASSERT_EQ(mkfifo(file("pipe.dat").c_str(), 0600), 0);
        cases.push_back({{"pipe.dat"}, "Can't read pipe.dat: Not a regular file"});
    }
    // Each name in the folder, with a digest of a file's bytes.
    const auto folder = [&] {
        std::map<std::string, std::size_t> files;
        for (const auto& entry : fs::directory_iterator(scratch.path))
            files[entry.path().filename().string()] =
                entry.is_regular_file() ? std::hash<std::string>{}(read_file(entry.path())) : 0;
        return files;
    };
    const auto before = folder();
    for (const Case& c : cases) {
        if (*c.call && program_under_test().fail_calls.empty()) continue;
        RunOptions options;
        options.rebuild = c.rebuild;
        options.fail_call = c.call;
        const RunResult result = run(c.operands, options);
        EXPECT_EQ(result.status, 1) << c.message;
        EXPECT_EQ(result.out, "") << c.message;
        EXPECT_EQ(result.err, failure(c.message));
        EXPECT_EQ(folder(), before) << c.message;
    }
}
