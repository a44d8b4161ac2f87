// The platform layer on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <limits>

#include "platform/platform.hpp"

// The console.

namespace {

termios saved_settings{};

// The signals that end a process whose terminal sends no signals itself
// while it waits (kill, a closed terminal).
constexpr int ending_signals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
struct sigaction previous_actions[std::size(ending_signals)];

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

void catch_ending_signals() {
    struct sigaction restore {};
    restore.sa_handler = restore_terminal_and_end;
    sigemptyset(&restore.sa_mask);
    for (std::size_t i = 0; i < std::size(ending_signals); ++i) {
        sigaction(ending_signals[i], nullptr, &previous_actions[i]);
        if (previous_actions[i].sa_handler != SIG_IGN) sigaction(ending_signals[i], &restore, nullptr);
    }
}

void release_ending_signals() {
    for (std::size_t i = 0; i < std::size(ending_signals); ++i)
        sigaction(ending_signals[i], &previous_actions[i], nullptr);
}

}  // namespace

void open_missing_standard_descriptors() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);  // closed: the lowest free descriptor is fd
}

void write_error_text(const char* text) { std::fputs(text, stderr); }

void wait_for_key() {
    // A file, a pipe or /dev/null is read by no one but its owner: no wait.
    if (tcgetattr(STDIN_FILENO, &saved_settings) != 0) return;  // only a terminal has settings
    termios raw = saved_settings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);  // one byte, no echo, Ctrl-C is a key
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    catch_ending_signals();
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key = 0;
    (void)read(STDIN_FILENO, &key, 1);  // no handler returns here, so no signal interrupts it
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
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

// The permission bits the file at `path` has or, for a new file, those a
// new file gets: 0666 less the umask.
mode_t permissions_for(const char* path) {
    struct stat existing {};
    if (lstat(path, &existing) == 0 && S_ISREG(existing.st_mode)) return existing.st_mode & 0777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::size_t temporary_path_size(const char* path) { return std::strlen(path) + 1 + sizeof random_part; }

std::FILE* open_temporary_beside(const char* path, char* temporary_path) {
    write_template(path, temporary_path);
    const int fd = mkstemp(temporary_path);
    std::FILE* file = nullptr;
    if (fd >= 0 && fchmod(fd, permissions_for(path)) == 0) file = fdopen(fd, "w");
    if (!file && fd >= 0) {
        const int error = errno;
        close(fd);
        unlink(temporary_path);
        errno = error;
    }
    return file;
}

bool sync_to_disk(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool replace_file(const char* temporary_path, const char* path) { return std::rename(temporary_path, path) == 0; }
