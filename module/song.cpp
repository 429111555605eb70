#include "module/song.h"

#include <cstdlib>

#include "module/file_access.h"
#include "module/module_format.h"

Instrument emptyInstrument = {};
Sample emptySample = {};

void copyName(char* out, size_t size, const uint8_t* bytes, int count) {
    if (!out || size == 0) return;
    size_t length = 0;
    for (int k = 0; k < count && length + 1 < size; ++k) {
        out[length++] = bytes[k] < 32 ? ' ' : static_cast<char>(bytes[k]);
    }
    while (length > 0 && out[length - 1] == ' ') --length;
    out[length] = '\0';
}

Song* readSong(const char* path, SampleDataHook hook, LoadError* error) {
    return readSongWith(nullptr, path, hook, error);
}

Song* readSongWith(const FileCallbacks* files, const char* path, SampleDataHook hook,
                   LoadError* error) {
    LoadError ignored;
    if (!error) error = &ignored;
    *error = {LoadFailure::NONE, ""};
    ModuleStream* stream = streamOpenWith(files, path);
    if (!stream) {
        *error = {LoadFailure::CANNOT_OPEN, "cannot open the file"};
        return nullptr;
    }
    auto* song = static_cast<Song*>(calloc(1, sizeof(Song)));
    if (!song) {
        streamClose(stream);
        *error = {LoadFailure::OUT_OF_MEMORY, "out of memory"};
        return nullptr;
    }
    song->sampleDataHook = hook;
    int loaded = loadModule(song, stream, error);
    streamClose(stream);
    if (!loaded) {
        releaseSong(song);
        return nullptr;
    }
    return song;
}

void releaseSong(Song* song) {
    if (!song) return;
    if (song->instruments) {
        for (int i = 0; i < song->instrumentCount; ++i) {
            Instrument& ins = song->instruments[i];
            for (int j = 0; j < ins.sampleCount && j < MAX_INSTRUMENT_SAMPLES; ++j) {
                Sample* smp = ins.samples[j];
                if (!smp || smp == &emptySample) continue;
                free(smp->data);
                free(smp);
            }
        }
        free(song->instruments);
    }
    if (song->patterns) {
        for (int p = 0; p < song->patternCount; ++p) free(song->patterns[p].cells);
        free(song->patterns);
    }
    free(song->player);
    free(song);
}
