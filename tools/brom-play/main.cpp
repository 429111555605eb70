// brom-play: shows, traces, plays or renders an XM module.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/brom-play/brom_play.h"

namespace {

const char USAGE[] =
    "usage: brom-play FILE.xm                                  play through the sound device\n"
    "       brom-play --info FILE.xm                           show what the file holds\n"
    "       brom-play --trace FILE.xm [--ticks N]              print the player's state per tick\n"
    "       brom-play --render OUT.wav FILE.xm [--seconds N]   write the song as a WAV file\n";

int usage() {
    fputs(USAGE, stderr);
    return 2;
}

// Parses a non-negative number; false when `text` is not one.
bool parseNumber(const char* text, double* value) {
    char* end = nullptr;
    *value = strtod(text, &end);
    return end != text && *end == '\0' && *value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1][0] != '-') return runPlay(argv[1]);
    if (argc == 3 && strcmp(argv[1], "--info") == 0) return runInfo(argv[2]);
    if ((argc == 3 || argc == 5) && strcmp(argv[1], "--trace") == 0) {
        double ticks = -1;
        if (argc == 5 && (strcmp(argv[3], "--ticks") != 0 || !parseNumber(argv[4], &ticks))) {
            return usage();
        }
        return runTrace(argv[2], static_cast<int64_t>(ticks));
    }
    if ((argc == 4 || argc == 6) && strcmp(argv[1], "--render") == 0) {
        double seconds = -1;
        if (argc == 6 && (strcmp(argv[4], "--seconds") != 0 || !parseNumber(argv[5], &seconds))) {
            return usage();
        }
        return runRender(argv[2], argv[3], seconds);
    }
    return usage();
}
