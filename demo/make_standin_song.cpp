// brom-make-standin-song: writes a small looping XM module for the demo to play while its real
// song is not in the tree: a bass line and an arpeggio on two sine instruments.
//
//     brom-make-standin-song OUTPUT.xm
#include <cstdio>
#include <vector>

#include "module/xm_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: brom-make-standin-song OUTPUT.xm\n");
        return 2;
    }
    const int channels = 2;
    XmSong song = makeXmSong(channels, 1);
    song.name = "brom stand-in";
    song.speed = 6;
    song.bpm = 125;

    XmSample bass = makeSample(sineFrames(64, 64, 12000), true);
    bass.loopType = 1;
    bass.loopLength = 64;
    XmSample lead = makeSample(sineFrames(32, 32, 8000), true);
    lead.loopType = 1;
    lead.loopLength = 32;
    song.instruments.push_back(makeInstrument(bass));
    song.instruments.push_back(makeInstrument(lead));

    // C minor: a bass note every four rows, an arpeggio on every other row.
    const int bassNotes[] = {25, 25, 32, 30, 28, 28, 30, 32, 25, 25, 32, 30, 28, 30, 32, 37};
    const int chord[] = {49, 52, 56, 61};
    XmPattern& pattern = song.patterns[0];
    for (int row = 0; row < 64; ++row) {
        if (row % 4 == 0)
            cellAt(pattern, channels, row, 0) = {static_cast<uint8_t>(bassNotes[row / 4]), 1, 0, 0,
                                                 0};
        if (row % 2 == 0)
            cellAt(pattern, channels, row, 1) = {static_cast<uint8_t>(chord[(row / 2) % 4]), 2,
                                                 0x30, 0, 0};
    }

    std::vector<uint8_t> bytes = writeXm(song);
    FILE* file = fopen(argv[1], "wb");
    if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || fclose(file) != 0) {
        fprintf(stderr, "brom-make-standin-song: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
