// Loading a module for any of brom-play's modes.
#include <cstdio>

#include "audio/scheduler.h"
#include "module/file_access.h"
#include "tools/brom-play/brom_play.h"

Song* loadSongOrComplain(const char* path) {
    useStandardFiles();
    Song* song = loadSong(path, nullptr);
    if (!song) fprintf(stderr, "brom-play: %s: %s\n", path, songLoadError());
    return song;
}
