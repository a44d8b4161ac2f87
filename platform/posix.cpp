// The platform layer on POSIX systems.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <limits>

#include "platform/platform.hpp"

// The console.

namespace {

termios saved_settings{};

// Every signal that can be caught and whose default action ends the process.
constexpr int ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,  SIGIO,
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
#if defined(SIGPWR)
    SIGPWR,
#endif
};
struct sigaction previous_actions[NSIG];

// Gives the terminal its settings back, then lets the signal end the
// process as it would have: its default action is back, and the signal,
// blocked while the handler runs, is delivered as it returns.
extern "C" void restore_terminal_and_end(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(signal, &default_action, nullptr);
    raise(signal);
}

// Calls `visit` with every ending signal, the real-time ones included.
template <typename Visit>
void for_each_ending_signal(Visit visit) {
    for (const int signal : ending_signals) visit(signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) visit(signal);
}

void catch_ending_signals() {
    struct sigaction restore {};
    restore.sa_handler = restore_terminal_and_end;
    sigemptyset(&restore.sa_mask);
    for_each_ending_signal([&](int signal) {
        sigaction(signal, nullptr, &previous_actions[signal]);
        if (previous_actions[signal].sa_handler != SIG_IGN) sigaction(signal, &restore, nullptr);
    });
}

void release_ending_signals() {
    for_each_ending_signal([](int signal) { sigaction(signal, &previous_actions[signal], nullptr); });
}

// Only a person at the terminal that shows the prompt can answer it, so
// standard input and standard error must be the same terminal; and only a
// job in the foreground of its controlling terminal may take its input (a
// background job would be stopped). tcgetpgrp fails on a terminal that is
// not the process's controlling one.
bool person_can_answer() {
    struct stat input {};
    struct stat error {};
    (void)fstat(STDIN_FILENO, &input);  // cannot fail on a terminal, and anything else is refused below
    (void)fstat(STDERR_FILENO, &error);
    return isatty(STDIN_FILENO) && isatty(STDERR_FILENO) && input.st_rdev == error.st_rdev &&
           tcgetpgrp(STDIN_FILENO) == getpgrp();
}

}  // namespace

void prepare_process() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);  // closed: the lowest free descriptor is fd
    // A write past a file size limit then fails with EFBIG and is reported,
    // and its file removed, instead of SIGXFSZ ending the process there.
    signal(SIGXFSZ, SIG_IGN);
}

void write_error_text(const char* text) { std::fputs(text, stderr); }

void wait_for_key() {
    if (!person_can_answer()) return;
    tcgetattr(STDIN_FILENO, &saved_settings);  // a terminal's settings can be read
    termios raw = saved_settings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);  // one byte, no echo, Ctrl-C is a key
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    catch_ending_signals();
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key = 0;
    (void)read(STDIN_FILENO, &key, 1);  // no handler returns here, so no signal interrupts it
    // The rest of the key (an arrow's escape sequence) is discarded, not left for the shell.
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_settings);
    release_ending_signals();
}

// Files.

namespace {

FileIdentity identity_of(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace

bool file_facts(std::FILE* file, std::size_t& size, FileIdentity& identity) {
    struct stat status {};
    if (fstat(fileno(file), &status) != 0) return false;
    static_assert(std::numeric_limits<off_t>::max() <= std::numeric_limits<std::size_t>::max());
    identity = identity_of(status);
    size = static_cast<std::size_t>(status.st_size);
    return true;
}

void prefer_large_pages(void* block, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    constexpr std::size_t large_page = std::size_t{2} << 20;
    if (size < large_page) return;
    // madvise takes a page-aligned start; the bytes before it keep small pages.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::size_t skip = (page - reinterpret_cast<std::uintptr_t>(block) % page) % page;
    (void)madvise(static_cast<char*>(block) + skip, size - skip, MADV_HUGEPAGE);  // only a hint
#else
    (void)block;
    (void)size;
#endif
}

bool names_file(const char* path, const FileIdentity& identity) {
    struct stat status {};
    if (stat(path, &status) != 0) return false;
    return identity_of(status) == identity;
}

bool is_special_file(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

// Paths.

const char* const path_separators = "/";

// Replacing a file.

namespace {

// The temporary file is ".NAME." and six random letters: hidden, and no
// match for "*.xml". NAME is kept short enough that the whole stays within
// the 255 bytes a file name may have.
constexpr std::size_t longest_name_kept = 200;
constexpr std::size_t random_letters = 6;

// How much of `name` to keep: at most longest_name_kept bytes, never ending
// inside a UTF-8 sequence (which has at most three continuation bytes).
std::size_t kept_name_length(const char* name) {
    std::size_t length = std::strlen(name);
    if (length <= longest_name_kept) return length;
    length = longest_name_kept;
    while (length > longest_name_kept - 3 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    return length;
}

// Writes ".NAME." after the folder of `path`; returns where the letters go.
char* write_template(const char* path, char* temporary_path) {
    const char* name = last_component(path);
    const auto folder = static_cast<std::size_t>(name - path);
    const std::size_t kept = kept_name_length(name);
    std::memcpy(temporary_path, path, folder);
    temporary_path[folder] = '.';
    std::memcpy(temporary_path + folder + 1, name, kept);
    temporary_path[folder + 1 + kept] = '.';
    temporary_path[folder + 2 + kept + random_letters] = '\0';
    return temporary_path + folder + 2 + kept;
}

#if defined(__linux__)
// The access ACL, as the kernel keeps it; its bytes are copied whole.
constexpr char access_acl[] = "system.posix_acl_access";
char acl[64 << 10];  // the largest value an extended attribute may have

// Gives the new file the access ACL of the file at `path` (through a link
// where `follow`) or, where that has none, none: not the one the folder's
// default ACL gave it.
bool carry_acl_over(int fd, const char* path, bool follow) {
    const ssize_t size =
        follow ? getxattr(path, access_acl, acl, sizeof acl) : lgetxattr(path, access_acl, acl, sizeof acl);
    if (size >= 0) return fsetxattr(fd, access_acl, acl, static_cast<std::size_t>(size), 0) == 0;
    if (errno == ENOTSUP) return true;  // a file system without ACLs
    return errno == ENODATA && (fremovexattr(fd, access_acl) == 0 || errno == ENODATA);
}
#else
bool carry_acl_over(int, const char*, bool) { return true; }
#endif

// The new file's facts: its group, and the bits it was created with.
struct stat facts_of(int fd) {
    struct stat now {};
    (void)fstat(fd, &now);  // cannot fail on a file of our own; zeros would only narrow
    return now;
}

// Gives the new file what the file at `path` had, so that no one gains
// access. A regular file lends its owner and group where the process may
// set them (root may; others may give it a group they are in), its access
// ACL and its permission bits. A link is replaced, but what it leads to
// may have lent the new file bytes (a base object, the input): no more
// access than that file (its ACL too) or a new one gives. A new file gets
// what any new file there gets. The ACL goes first: setting it sets the
// permission bits from its entries.
bool carry_over(int fd, const char* path) {
    struct stat existing {};
    struct stat target {};
    const bool link = lstat(path, &existing) == 0 && S_ISLNK(existing.st_mode);
    if (link ? stat(path, &target) != 0 : !S_ISREG(existing.st_mode)) return true;  // none, or none to lend
    if (!link && fchown(fd, existing.st_uid, existing.st_gid) != 0)
        (void)fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
    const struct stat& lender = link ? target : existing;
    const struct stat created = facts_of(fd);
    mode_t bits = lender.st_mode & (link ? created.st_mode : 0777) & 0777;
    if (created.st_gid != lender.st_gid) bits &= ~static_cast<mode_t>(070);  // they were meant for that group
    return carry_acl_over(fd, path, link) && fchmod(fd, bits) == 0;
}

}  // namespace

std::size_t temporary_path_size(const char* path) { return std::strlen(path) + 3 + random_letters; }

// The six letters are drawn afresh until the name is free. Created 0666,
// the file gets from the kernel what any new file in the folder gets: the
// umask, or the folder's default ACL.
int create_temporary(const char* path, char* temporary_path) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    char* letters = write_template(path, temporary_path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[random_letters];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
        for (std::size_t i = 0; i < random_letters; ++i) letters[i] = alphabet[random[i] % (sizeof alphabet - 1)];
        const int fd = open(temporary_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;  // errno is EEXIST
}

bool prepare_descriptor(int fd, const char* lender, bool /*text: POSIX has one mode*/) {
    return !lender || carry_over(fd, lender);
}

bool sync_to_disk(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool replace_file(const char* temporary_path, const char* path) { return std::rename(temporary_path, path) == 0; }

void remove_file(const char* path) { unlink(path); }
