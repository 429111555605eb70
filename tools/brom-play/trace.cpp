#include "tools/brom-play/brom_play.h"

#include <cstdio>

int runTrace(const char* path, int64_t) {
    fprintf(stderr, "brom-play: %s: tracing is not available in this build\n", path);
    return 1;
}
