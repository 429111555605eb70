// The start-up figure: brom-play --info of the benchmark's module, run as a process of its own,
// timed by the CPU time (user and system) the system counts for it: mapping the program and its
// libraries, reading the module, printing the summary. A run that opens no device should cost
// little more than a process that does nothing.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bench/bench.h"

extern char** environ;

namespace {

double secondsOf(const timeval& time) { return time.tv_sec + time.tv_usec * 1e-6; }

// CPU seconds of one `brom-play --info path` with its output discarded; negative when it could not
// run or failed.
double infoProcessSeconds(const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = BROM_PLAY_PATH;
    char mode[] = "--info";
    std::string module = path;
    char* arguments[] = {program, mode, module.data(), nullptr};
    pid_t child = 0;
    int spawned = posix_spawn(&child, program, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    rusage usage = {};
    if (wait4(child, &status, 0, &usage) != child) return -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
}

}  // namespace

void benchStartup(const std::vector<uint8_t>& module, int runs) {
    std::string path = writeTempModule(module);
    double best = -1;
    for (int r = 0; r < runs; ++r) {
        double seconds = infoProcessSeconds(path);
        if (seconds < 0) {
            fprintf(stderr, "brom-bench: %s --info %s failed\n", BROM_PLAY_PATH, path.c_str());
            exit(1);
        }
        if (best < 0 || seconds < best) best = seconds;
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    printf(
        "startup: brom-play --info of the module (%zu KB) as a process: %.2f ms of CPU "
        "(best of %d)\n",
        module.size() / 1024, best * 1e3, runs);
}
