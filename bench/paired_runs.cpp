// Times two commands in alternation, so that both see the same machine
// state: paired_runs RUNS -- COMMAND A... -- COMMAND B...
// Prints the median wall time of each in microseconds and the median of
// the per-pair ratios A/B. Output and errors of the commands go to /dev/null.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

double run_once(std::vector<char*>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        std::exit(2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(2);
    }
    return std::chrono::duration<double, std::micro>(end - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || std::strcmp(argv[2], "--") != 0) {
        std::fputs("usage: paired_runs RUNS -- COMMAND A... -- COMMAND B...\n", stderr);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::vector<char*> a;
    std::vector<char*> b;
    int i = 3;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) a.push_back(argv[i]);
    for (++i; i < argc; ++i) b.push_back(argv[i]);
    a.push_back(nullptr);
    b.push_back(nullptr);
    for (int warm = 0; warm < 3; ++warm) run_once(a), run_once(b);
    std::vector<double> times_a;
    std::vector<double> times_b;
    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        // Alternate which command goes first, so neither always follows the other.
        const double first = run % 2 ? run_once(b) : run_once(a);
        const double second = run % 2 ? run_once(a) : run_once(b);
        times_a.push_back(run % 2 ? second : first);
        times_b.push_back(run % 2 ? first : second);
        ratios.push_back(times_a.back() / times_b.back());
    }
    std::printf("%.1f %.1f %.3f\n", median(times_a), median(times_b), median(ratios));
    return 0;
}
