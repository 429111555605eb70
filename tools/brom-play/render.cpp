#include "tools/brom-play/brom_play.h"

#include <cstdio>

int runRender(const char*, const char* path, double) {
    fprintf(stderr, "brom-play: %s: rendering is not available in this build\n", path);
    return 1;
}
