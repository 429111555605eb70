// The whole-process figures: brom-play --render of generated modules shaped like real ones (4, 8,
// 16 and 32 channels), one process per file as a user renders them, timed from outside: the wall
// clock from start to exit, the CPU time and the peak resident memory the system counts for the
// process. Then the same files by one brom-play that renders them all (`--render DIR FILE...`),
// where that brom-play has it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench.h"

extern char** environ;

namespace {

double secondsOf(const timeval& time) { return time.tv_sec + time.tv_usec * 1e-6; }

struct ProcessRun {
    int status;  // exit status; -1 when it did not run or exit normally
    double wall;
    double cpu;  // user and system
    long peakKilobytes;
};

// Runs brom-play with `arguments`, its output discarded.
ProcessRun runBromPlay(std::vector<std::string> arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = BROM_PLAY_PATH;
    std::vector<char*> argv = {program.data()};
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ProcessRun run = {-1, 0, 0, 0};
    const double start = wallSeconds();
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    int status = 0;
    rusage usage = {};
    if (wait4(child, &status, 0, &usage) != child) return run;
    run.wall = wallSeconds() - start;
    run.cpu = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    run.peakKilobytes = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

double wavSeconds(const std::string& path) {
    std::error_code error;
    const uintmax_t bytes = std::filesystem::file_size(path, error);
    return error || bytes < 44 ? 0 : static_cast<double>((bytes - 44) / 4) / 44100;
}

// The best (shortest) of `rounds` runs.
ProcessRun bestRun(const std::vector<std::string>& arguments, int rounds) {
    ProcessRun best = {-1, 0, 0, 0};
    for (int r = 0; r < rounds; ++r) {
        const ProcessRun run = runBromPlay(arguments);
        if (run.status != 0) return run;
        if (r == 0 || run.wall < best.wall) best = run;
    }
    return best;
}

}  // namespace

void benchFiles(int rounds) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("brom-bench-files-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::vector<std::string> modules = writeShapedSet(folder.string());
    double audioTotal = 0;
    double wallTotal = 0;
    double cpuTotal = 0;
    for (const std::string& xm : modules) {
        const std::string wav = xm.substr(0, xm.size() - 3) + ".wav";
        const ProcessRun run = bestRun({"--force", "--render", wav, xm}, rounds);
        const double audio = wavSeconds(wav);
        if (run.status != 0 || audio <= 0) {
            fprintf(stderr, "brom-bench: brom-play --render %s failed\n", xm.c_str());
            exit(1);
        }
        printf(
            "files:  %s, %.1f s of audio: %.1f ms wall, %.1f ms CPU, %ld KB at most "
            "resident (best of %d): %.0f x real time\n",
            std::filesystem::path(xm).filename().string().c_str(), audio, run.wall * 1e3,
            run.cpu * 1e3, run.peakKilobytes, rounds, audio / run.wall);
        audioTotal += audio;
        wallTotal += run.wall;
        cpuTotal += run.cpu;
    }
    printf(
        "        one process per file: %.1f s of audio in %.1f ms wall, %.1f ms CPU: %.0f x real "
        "time\n",
        audioTotal, wallTotal * 1e3, cpuTotal * 1e3, audioTotal / wallTotal);

    // All of them by one brom-play, where it renders several files into a folder.
    const std::string out = (folder / "out").string();
    std::filesystem::create_directories(out);
    std::vector<std::string> arguments = {"--force", "--render", out + "/"};
    arguments.insert(arguments.end(), modules.begin(), modules.end());
    const ProcessRun together = bestRun(arguments, rounds);
    if (together.status == 0) {
        printf(
            "        all by one brom-play --render DIR FILE...: %.1f ms wall, %.1f ms CPU: %.0f x "
            "real time\n",
            together.wall * 1e3, together.cpu * 1e3, audioTotal / together.wall);
    } else {
        printf("        (this brom-play renders one file per run: no --render DIR FILE...)\n");
    }
    std::error_code error;
    std::filesystem::remove_all(folder, error);
}
