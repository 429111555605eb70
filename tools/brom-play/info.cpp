// --info: a summary of what a module holds, as the loader left it.
#include <cstdio>

#include "tools/brom-play/brom_play.h"

namespace {

const char* loopName(uint8_t loopMode) {
    switch (loopMode) {
        case LOOP_FORWARD: return "forward";
        case LOOP_PINGPONG: return "ping-pong";
        default: return "none";
    }
}

void printHeader(const Song* song) {
    printf("title           %s\n", song->title);
    printf("tracker         %s\n", song->tracker);
    printf("channels        %d\n", song->channelCount);
    printf("song length     %d\n", song->songLength);
    printf("restart         %d\n", song->restartPosition);
    printf("patterns        %d (%d used)\n", song->patternCount, song->usedPatternCount);
    printf("instruments     %d\n", song->instrumentCount);
    printf("frequency table %s\n", (song->songFlags & 1) ? "linear" : "amiga");
    printf("speed           %d\n", song->defaultSpeed);
    printf("bpm             %d\n", song->defaultBpm);
    printf("orders         ");
    for (int i = 0; i < song->songLength; ++i) printf(" %d", song->orderTable[i]);
    printf("\n");
}

void printPatterns(const Song* song) {
    for (int p = 0; p < song->patternCount; ++p) {
        const Pattern& pattern = song->patterns[p];
        int notes = 0, effects = 0;
        int cellCount = pattern.rowCount * song->channelCount;
        for (int k = 0; k < cellCount; ++k) {
            const NoteCell& cell = pattern.cells[k];
            if (cell.note) ++notes;
            if (cell.effect || cell.param) ++effects;
        }
        printf("pattern %3d  rows %3d  notes %4d  effects %4d\n", p, pattern.rowCount, notes,
               effects);
    }
}

void printInstruments(const Song* song) {
    for (int i = 0; i < song->instrumentCount; ++i) {
        const Instrument& ins = song->instruments[i];
        printf(
            "instrument %3d  samples %2d  volume envelope %2d points%s  panning envelope %2d "
            "points%s  fadeout %d  vibrato %d/%d/%d/%d\n",
            i + 1, ins.sampleCount, ins.volumePointCount,
            (ins.volumeEnvelopeFlags & ENVELOPE_ON) ? " (on)" : "", ins.panningPointCount,
            (ins.panningEnvelopeFlags & ENVELOPE_ON) ? " (on)" : "", ins.fadeout, ins.vibratoType,
            ins.vibratoSweep, ins.vibratoDepth, ins.vibratoRate);
        for (int j = 0; j < ins.sampleCount; ++j) {
            const Sample* s = ins.samples[j];
            char panning[8] = "channel";  // SAMPLE_PANNING_NONE: the channel's stays
            if (s->panning != SAMPLE_PANNING_NONE)
                snprintf(panning, sizeof panning, "%3d", s->panning);
            printf(
                "  sample %2d  length %7u  loop %s %u+%u  volume %2d  finetune %4d  panning %s  "
                "relative note %4d  %s\n",
                j, s->length, loopName(s->loopMode), s->loopStart, s->loopLength, s->volume,
                s->finetune, panning, s->relativeNote, s->name);
        }
    }
}

}  // namespace

int runInfo(const char* path) {
    Song* song = loadSongOrComplain(path);
    if (!song) return 1;
    printf("file            %s\n", path);
    printHeader(song);
    printPatterns(song);
    printInstruments(song);
    freeSong(song);
    return 0;
}
