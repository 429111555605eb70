#include "module/song.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module/file_access.h"
#include "module/module_format.h"

const Instrument emptyInstrument = {};
const Sample emptySample = {};

namespace {

MidiMacros makeDefaultMidiMacros() {
    MidiMacros macros = {};
    const char* global[9] = {"FF", "FC", "", "9c n v", "9c n 0", "", "", "", "Cc p"};
    for (int k = 0; k < 9; ++k) snprintf(macros.global[k], MIDI_MACRO_SIZE, "%s", global[k]);
    snprintf(macros.parametered[0], MIDI_MACRO_SIZE, "F0F000z");
    for (int k = 0; k < 16; ++k) snprintf(macros.fixed[k], MIDI_MACRO_SIZE, "F0F001%02X", k * 8);
    return macros;
}

}  // namespace

const MidiMacros* defaultMidiMacros() {
    static const MidiMacros macros = makeDefaultMidiMacros();
    return &macros;
}

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

int32_t addSamples(Song* song, int32_t count) {
    if (count < 0 || song->sampleCount + count > MAX_SONG_SAMPLES) return -1;
    const int32_t first = song->sampleCount;
    const size_t total = static_cast<size_t>(first) + static_cast<size_t>(count);
    auto* pool = static_cast<Sample*>(realloc(song->samples, (total ? total : 1) * sizeof(Sample)));
    if (!pool) return -1;
    memset(pool + first, 0, static_cast<size_t>(count) * sizeof(Sample));
    song->samples = pool;
    song->sampleCount = static_cast<int32_t>(total);
    return first;
}

const Sample* instrumentSample(const Song* song, int instrument, int slot) {
    if (!song->instruments || instrument < 0 || instrument >= song->instrumentCount) return nullptr;
    const Instrument& ins = song->instruments[instrument];
    if (slot < 0 || slot >= ins.sampleCount) return nullptr;
    const int32_t index = ins.firstSample + slot;
    if (index < 0 || index >= song->sampleCount) return nullptr;
    return &song->samples[index];
}

const Pattern* patternAtOrder(const Song* song, int32_t order) {
    if (!song->patterns || order < 0 || order >= MAX_ORDERS) return nullptr;
    const int index = song->orderTable[order];
    if (index >= song->patternCount) return nullptr;
    return &song->patterns[index];
}

void releaseSong(Song* song) {
    if (!song) return;
    for (int32_t i = 0; song->samples && i < song->sampleCount; ++i) free(song->samples[i].data);
    free(song->samples);
    free(song->instruments);
    free(song->message);
    free(song->midiMacros);
    if (song->patterns) {
        for (int p = 0; p < song->patternCount; ++p) free(song->patterns[p].cells);
        free(song->patterns);
    }
    free(song);
}
