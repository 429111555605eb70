#include "tests/fuzz/it_seeds.h"

#include <cmath>

namespace {

constexpr int CHANNELS = 4;
constexpr int16_t C5 = 60;

std::vector<int16_t> sine(int count, int period, int amplitude) {
    std::vector<int16_t> frames(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        frames[k] =
            static_cast<int16_t>(std::lround(amplitude * std::sin(6.283185307 * k / period)));
    return frames;
}

std::vector<int16_t> saw(int count, int period, int amplitude) {
    std::vector<int16_t> frames(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        frames[k] = static_cast<int16_t>(amplitude * (2 * (k % period) - period) / period);
    return frames;
}

// A looped 8-bit sine of 64 frames a period at C-5 = 16726 Hz (two periods in the loop).
ItSample loopedSine() {
    ItSample s = makeItSample(sine(128, 64, 100), true);
    s.middleCRate = 16726;
    return s;
}

// Four channels, one 32-row pattern, one instrument on a looped sine.
ItSong baseSong() {
    ItSong song = makeItSong(CHANNELS, 1);
    song.patterns[0].rows = 32;
    song.patterns[0].cells.resize(32 * CHANNELS);
    song.speed = 4;
    song.samples.push_back(loopedSine());
    song.instruments.push_back(makeItInstrument(1));
    return song;
}

ItCell& at(ItSong& song, int row, int channel) { return itCellAt(song, 0, row, channel); }

ItEnvelope envelope(uint8_t flags, std::vector<ItEnvelopePoint> points, uint8_t loopStart,
                    uint8_t loopEnd, uint8_t sustainStart, uint8_t sustainEnd) {
    ItEnvelope e;
    e.flags = flags;
    e.points = std::move(points);
    e.loopStart = loopStart;
    e.loopEnd = loopEnd;
    e.sustainStart = sustainStart;
    e.sustainEnd = sustainEnd;
    return e;
}

// Notes one after another on channel 0, a release and a cut later.
void noteRun(ItSong& song) {
    const int16_t notes[4] = {C5, C5 + 4, C5 + 7, C5 + 12};
    for (int k = 0; k < 4; ++k) at(song, 4 * k, 0) = {notes[k], 1, -1, 0, 0};
    at(song, 20, 0) = {255, 0, -1, 0, 0};
    at(song, 28, 0) = {254, 0, -1, 0, 0};
}

}  // namespace

std::vector<ItSeed> itSeeds() {
    std::vector<ItSeed> seeds;
    auto add = [&](const char* name, const ItSong& song) {
        seeds.push_back({name, writeIt(song)});
    };

    // Each new-note action, with a volume envelope holding a sustain loop and a fadeout.
    const char* actions[4] = {"it-nna-cut", "it-nna-continue", "it-nna-off", "it-nna-fade"};
    for (uint8_t nna = 0; nna < 4; ++nna) {
        ItSong song = baseSong();
        ItInstrument& ins = song.instruments[0];
        ins.newNoteAction = nna;
        ins.fadeout = 64;
        ins.volumeEnvelope = envelope(1 | 4, {{64, 0}, {48, 4}, {40, 8}, {0, 30}}, 0, 0, 1, 2);
        noteRun(song);
        add(actions[nna], song);
    }

    // Duplicate checks of each type and action, on notes that repeat.
    for (uint8_t check = 1; check <= 3; ++check) {
        ItSong song = baseSong();
        song.samples.push_back(makeItSample(saw(64, 32, 90), true));
        ItInstrument& ins = song.instruments[0];
        ins.newNoteAction = 1;
        ins.duplicateCheck = check;
        ins.duplicateAction = static_cast<uint8_t>(check - 1);
        ins.fadeout = 128;
        for (int n = 72; n < 120; ++n) ins.keyboard[n][1] = 2;
        for (int r = 0; r < 32; r += 4)
            at(song, r, 0) = {int16_t(r % 8 ? C5 : C5 + 12), 1, -1, 0, 0};
        add(check == 1   ? "it-duplicate-note"
            : check == 2 ? "it-duplicate-sample"
                         : "it-duplicate-instrument",
            song);
    }

    // The past-note commands and the NNA overrides.
    {
        ItSong song = baseSong();
        song.instruments[0].newNoteAction = 1;
        song.instruments[0].fadeout = 32;
        for (int r = 0; r < 32; r += 2) at(song, r, 0) = {int16_t(C5 + r % 12), 1, -1, 0, 0};
        const uint8_t s7[8] = {0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x74};
        for (int k = 0; k < 8; ++k) at(song, 4 * k + 1, 1) = {-1, 0, -1, 19, s7[k]};
        add("it-past-notes", song);
    }

    // Every envelope: volume with loop, panning with a sustain loop, pitch, carry, S77..S7C.
    {
        ItSong song = baseSong();
        ItInstrument& ins = song.instruments[0];
        ins.volumeEnvelope = envelope(1 | 2 | 8, {{64, 0}, {16, 6}, {64, 12}}, 0, 2, 0, 0);
        ins.panningEnvelope = envelope(1 | 4, {{-32, 0}, {32, 8}, {0, 16}}, 0, 0, 0, 1);
        ins.pitchEnvelope = envelope(1 | 2, {{0, 0}, {12, 4}, {-12, 8}}, 1, 2, 0, 0);
        noteRun(song);
        const uint8_t switches[6] = {0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C};
        for (int k = 0; k < 6; ++k) at(song, 4 * k + 2, 0) = {-1, 0, -1, 19, switches[k]};
        add("it-envelopes", song);
    }

    // The filter: instrument cutoff and resonance, a filter envelope, Z commands through the
    // default macros and through embedded ones.
    for (bool embedded : {false, true}) {
        ItSong song = baseSong();
        song.samples[0] = makeItSample(saw(128, 64, 100), true);
        ItInstrument& ins = song.instruments[0];
        ins.filterCutoff = 60;
        ins.filterResonance = 40;
        ins.pitchEnvelope = envelope(1 | 128, {{32, 0}, {-32, 20}, {0, 28}}, 0, 0, 0, 0);
        noteRun(song);
        const uint8_t z[6] = {0x10, 0x40, 0x7F, 0x80, 0x85, 0x8F};
        for (int k = 0; k < 6; ++k) at(song, 4 * k + 1, 0) = {-1, 0, -1, 26, z[k]};
        at(song, 0, 1) = {C5, 1, -1, 19, 0xF0};
        if (embedded) {
            song.midiConfig.assign(4896, 0);
            const char* sf0 = "F0F000z";
            for (int k = 0; sf0[k]; ++k) song.midiConfig[9 * 32 + k] = static_cast<uint8_t>(sf0[k]);
            const char* z80 = "F0F00160";
            for (int k = 0; z80[k]; ++k)
                song.midiConfig[25 * 32 + k] = static_cast<uint8_t>(z80[k]);
        }
        add(embedded ? "it-filter-macros" : "it-filter", song);
    }

    // Samples: compressed 8 and 16 bits (2.14 and 2.15), stereo, unsigned, sustain loops.
    {
        ItSong song = baseSong();
        song.flags = 1 | 8;  // sample mode
        const struct {
            bool sixteen, compressed, doubleDelta, stereo, signedData;
        } kinds[5] = {{false, true, false, false, true},
                      {true, true, true, false, true},
                      {true, false, false, true, true},
                      {false, false, false, false, false},
                      {true, true, false, true, true}};
        song.samples.clear();
        for (const auto& k : kinds) {
            ItSample s = makeItSample(sine(300, 50, k.sixteen ? 20000 : 100), true);
            s.loopStart = 100;
            s.loopEnd = 300;
            s.sixteenBit = k.sixteen;
            s.compressed = k.compressed;
            s.doubleDelta = k.doubleDelta;
            s.signedData = k.signedData;
            if (k.stereo) s.right = sine(300, 30, k.sixteen ? 15000 : 80);
            s.sustain = true;
            s.sustainStart = 20;
            s.sustainEnd = 70;
            s.sustainPingPong = true;
            song.samples.push_back(s);
        }
        for (int r = 0; r < 30; r += 6)
            at(song, r, r / 6 % CHANNELS) = {C5, uint8_t(1 + r / 6), -1, 0, 0};
        at(song, 3, 0) = {255, 0, -1, 0, 0};
        add("it-samples", song);
    }

    // The effect column, in sample mode, each effect twice (the second with 0: the memory).
    {
        ItSong song = baseSong();
        song.flags = 1 | 8;
        const uint8_t effects[][2] = {
            {4, 0x0F},  {4, 0xF2},  {4, 0x2F},  {5, 0x10},  {5, 0xF3},  {6, 0xE4},  {7, 0x08},
            {8, 0x44},  {9, 0x21},  {10, 0x47}, {11, 0x03}, {12, 0x30}, {13, 0x20}, {14, 0x0F},
            {14, 0x01}, {15, 0x01}, {16, 0x40}, {17, 0x32}, {18, 0x44}, {19, 0x31}, {19, 0x52},
            {19, 0x63}, {19, 0x83}, {19, 0x91}, {19, 0xA1}, {19, 0xC2}, {19, 0xD1}, {19, 0xB0},
            {19, 0xB1}, {20, 0x12}, {20, 0x05}, {20, 0x90}, {21, 0x48}, {22, 0x60}, {23, 0x0F},
            {23, 0x20}, {24, 0x30}, {25, 0x48}, {19, 0xE1}};
        song.patterns[0].rows = 64;
        song.patterns[0].cells.resize(64 * CHANNELS);
        int row = 0;
        for (const auto& e : effects) {
            if (row >= 64) break;
            at(song, row, 0) = {int16_t(row % 3 ? -1 : C5 + row % 7),
                                row % 3 ? uint8_t(0) : uint8_t(1), -1, e[0], e[1]};
            at(song, row, 1) = {-1, 0, int16_t(row * 3 % 213), e[0], 0};
            ++row;
        }
        add("it-effects", song);
    }

    // The old instrument layout with old effects, linked Gxx memory and Amiga slides.
    {
        ItSong song = baseSong();
        song.compatibleWith = 0x0100;
        song.flags = 1 | 4 | 16 | 32;
        ItInstrument& ins = song.instruments[0];
        ins.newNoteAction = 2;
        ins.duplicateCheck = 1;
        ins.fadeout = 16;
        ins.volumeEnvelope = envelope(1 | 4, {{64, 0}, {32, 10}, {0, 20}}, 0, 0, 1, 1);
        noteRun(song);
        at(song, 6, 0) = {-1, 0, -1, 7, 0x10};
        at(song, 10, 0) = {-1, 0, -1, 8, 0x48};
        at(song, 14, 0) = {-1, 0, -1, 15, 0x80};
        add("it-old-layout", song);
    }

    // A message, channel settings (disabled, surround, volumes), order markers, many rows.
    {
        ItSong song = baseSong();
        song.message = "Made for the fuzzers.\nSecond line.";
        song.channelPanning[1] = 100;
        song.channelPanning[2] = 0x80 | 10;
        song.channelVolume[3] = 20;
        song.separation = 64;
        song.orders = {0, 254, 1, 0, 255, 1};
        ItPattern long_;
        long_.rows = 200;
        long_.cells.resize(200 * CHANNELS);
        song.patterns.push_back(long_);
        for (int c = 0; c < CHANNELS; ++c) at(song, c, c) = {int16_t(C5 + 2 * c), 1, 48, 0, 0};
        itCellAt(song, 1, 199, 3) = {C5, 1, -1, 3, 0x10};
        add("it-song-layout", song);
    }
    return seeds;
}
