// The platform layer on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

// Only a person at the terminal that shows the prompt can answer it, and
// only a job in the terminal's foreground may take its input (a background
// job would be stopped).
bool person_can_answer() {
    return isatty(STDIN_FILENO) && isatty(STDERR_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp();
}

}  // namespace

void open_missing_standard_descriptors() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);  // closed: the lowest free descriptor is fd
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

bool names_file(const char* path, const FileIdentity& identity) {
    struct stat status {};
    if (stat(path, &status) != 0) return false;
    const FileIdentity named = identity_of(status);
    return named.volume == identity.volume && named.index == identity.index;
}

bool is_special_file(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

// Paths.

const char* const path_separators = "/";

// Replacing a file.

namespace {

// The temporary file is ".NAME.XXXXXX": hidden, and no match for "*.xml".
// NAME is kept short enough that the whole stays within the 255 bytes a
// file name may have.
constexpr std::size_t longest_name_kept = 200;
constexpr char random_part[] = ".XXXXXX";

// How much of `name` to keep: at most longest_name_kept bytes, never ending
// inside a UTF-8 sequence (which has at most three continuation bytes).
std::size_t kept_name_length(const char* name) {
    std::size_t length = std::strlen(name);
    if (length <= longest_name_kept) return length;
    length = longest_name_kept;
    while (length > longest_name_kept - 3 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    return length;
}

void write_template(const char* path, char* temporary_path) {
    const char* name = last_component(path);
    const auto folder = static_cast<std::size_t>(name - path);
    const std::size_t kept = kept_name_length(name);
    std::memcpy(temporary_path, path, folder);
    temporary_path[folder] = '.';
    std::memcpy(temporary_path + folder + 1, name, kept);
    std::memcpy(temporary_path + folder + 1 + kept, random_part, sizeof random_part);
}

#if defined(__linux__)
// The access ACL and the default ACL, as the kernel keeps them: a 4-byte
// version, then 8-byte entries (tag, permissions, id), all little-endian.
constexpr char access_acl[] = "system.posix_acl_access";
constexpr char default_acl[] = "system.posix_acl_default";
char acl[64 << 10];  // the largest value an extended attribute may have

// What the folder's default ACL lets a file created with 0666 have, as the
// kernel works it out (the umask does not count then), or -1 without one.
int bits_from_default_acl(const char* path) {
    char folder[PATH_MAX] = ".";
    // The folder is shorter than the temporary file's path, which the system took.
    const std::size_t length = std::min(static_cast<std::size_t>(last_component(path) - path), sizeof folder - 1);
    if (length) {
        std::memcpy(folder, path, length);
        folder[length] = '\0';
    }
    const ssize_t size = getxattr(folder, default_acl, acl, sizeof acl);
    if (size < 0) return -1;
    int owner = 0;
    int group_class = 0;  // the mask, or the group's entry where there is none
    int other = 0;
    // Entries are kept in tag order: owner 0x01, group 0x04, mask 0x10, other 0x20.
    for (ssize_t at = 4; at + 8 <= size; at += 8) {
        const int tag = static_cast<unsigned char>(acl[at]) | static_cast<unsigned char>(acl[at + 1]) << 8;
        const int permissions = acl[at + 2] & 7;
        if (tag == 0x01) owner = permissions;
        if (tag == 0x04 || tag == 0x10) group_class = permissions;
        if (tag == 0x20) other = permissions;
    }
    return 0666 & (owner << 6 | group_class << 3 | other);
}

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
int bits_from_default_acl(const char*) { return -1; }
bool carry_acl_over(int, const char*, bool) { return true; }
#endif

// The permission bits of a new file at `path`: what the folder's default
// ACL gives or, without one, 0666 less the umask.
mode_t new_file_permissions(const char* path) {
    const int from_acl = bits_from_default_acl(path);
    if (from_acl >= 0) return static_cast<mode_t>(from_acl);
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The permission bits `wanted`, less the group's where the new file's
// group is not `group`: they were meant for that one.
mode_t for_group(int fd, mode_t wanted, gid_t group) {
    struct stat now {};
    (void)fstat(fd, &now);  // cannot fail on a file of our own; a zero group would only narrow
    return now.st_gid == group ? wanted : wanted & ~static_cast<mode_t>(070);
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
    if (link ? stat(path, &target) != 0 : !S_ISREG(existing.st_mode))  // none, or none to lend
        return fchmod(fd, new_file_permissions(path)) == 0;
    if (!link && fchown(fd, existing.st_uid, existing.st_gid) != 0)
        (void)fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
    const struct stat& lender = link ? target : existing;
    const mode_t bits = lender.st_mode & (link ? new_file_permissions(path) : 0777);
    return carry_acl_over(fd, path, link) && fchmod(fd, for_group(fd, bits, lender.st_gid)) == 0;
}

// A stream on the new file `fd` at `path` when it is `usable`; otherwise, or
// without memory for a stream, the file is closed and removed, keeping errno.
std::FILE* stream_on_new_file(int fd, const char* path, bool usable) {
    std::FILE* file = usable ? fdopen(fd, "w") : nullptr;
    if (!file) {
        const int error = errno;
        close(fd);
        remove_file(path);
        errno = error;
    }
    return file;
}

// A write past a file size limit then fails with EFBIG and is reported,
// and the file removed, instead of SIGXFSZ ending the process there.
void let_writes_fail_past_size_limit() { signal(SIGXFSZ, SIG_IGN); }

}  // namespace

std::size_t temporary_path_size(const char* path) { return std::strlen(path) + 1 + sizeof random_part; }

std::FILE* open_temporary_beside(const char* path, char* temporary_path, bool /*text: POSIX has one mode*/) {
    let_writes_fail_past_size_limit();
    write_template(path, temporary_path);
    const int fd = mkstemp(temporary_path);
    return fd < 0 ? nullptr : stream_on_new_file(fd, temporary_path, carry_over(fd, path));
}

std::FILE* create_new_file(const char* path) {
    let_writes_fail_past_size_limit();
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd < 0 ? nullptr : stream_on_new_file(fd, path, true);
}

bool sync_to_disk(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool replace_file(const char* temporary_path, const char* path) { return std::rename(temporary_path, path) == 0; }

void remove_file(const char* path) { unlink(path); }
