#include "tools/brom-play/brom_play.h"

#include <cstdio>

int runPlay(const char* path) {
    fprintf(stderr, "brom-play: %s: playing is not available in this build\n", path);
    return 1;
}
