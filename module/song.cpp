#include "module/song.h"

#include <cstdlib>

#include "audio/scheduler.h"
#include "module/file_access.h"
#include "module/module_format.h"
#include "player/sequencer.h"

Instrument emptyInstrument = {};
Sample emptySample = {};

namespace {

const char* lastLoadError = "";

// Voices keep their sample from one playback to the next; none may keep one that is released.
void forgetSampleInVoices(const Sample* smp) {
    for (Voice& voice : voiceTable) {
        if (voice.sample == smp) voice.sample = nullptr;
    }
}

}  // namespace

const char* songLoadError() { return lastLoadError; }

void copyName(char* out, size_t size, const uint8_t* bytes, int count) {
    if (!out || size == 0) return;
    size_t length = 0;
    for (int k = 0; k < count && length + 1 < size; ++k) {
        out[length++] = bytes[k] < 32 ? ' ' : static_cast<char>(bytes[k]);
    }
    while (length > 0 && out[length - 1] == ' ') --length;
    out[length] = '\0';
}

Song* loadSong(const char* path, SampleDataHook hook) {
    lastLoadError = "";
    ModuleStream* stream = streamOpen(path);
    if (!stream) {
        lastLoadError = "cannot open the file";
        return nullptr;
    }
    auto* song = static_cast<Song*>(calloc(1, sizeof(Song)));
    if (!song) {
        streamClose(stream);
        lastLoadError = "out of memory";
        return nullptr;
    }
    song->sampleDataHook = hook;
    song->tickHandler = playerTick;
    LoadError error;
    int loaded = loadModule(song, stream, &error);
    streamClose(stream);
    if (!loaded) {
        lastLoadError = error.reason;
        freeSong(song);
        return nullptr;
    }
    return song;
}

int freeSong(Song* song) {
    if (!song) return 0;
    // Never release memory under the mixing thread's feet.
    while (mixerBusy.load(std::memory_order_acquire) != 0) {
    }
    stopSong(song);
    if (song->instruments) {
        for (int i = 0; i < song->instrumentCount; ++i) {
            Instrument& ins = song->instruments[i];
            for (int j = 0; j < ins.sampleCount && j < MAX_INSTRUMENT_SAMPLES; ++j) {
                Sample* smp = ins.samples[j];
                if (!smp || smp == &emptySample) continue;
                forgetSampleInVoices(smp);
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
    free(song);
    return 1;
}
