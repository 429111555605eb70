// Generated modules shaped like real ones for the whole-process figures: drums, bass and pads on
// short looping samples, long one-shot samples (a spoken phrase, a drum loop), melodies with rests,
// key-offs and fades, and channels that sit out whole sections of the song.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "module/xm_writer.h"

namespace {

// Reproducible pseudo-random numbers.
struct Dice {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

std::vector<int16_t> noiseFrames(int count, double decay, int amplitude, Dice& dice) {
    std::vector<int16_t> frames(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
        const double envelope = std::exp(-decay * k / count);
        frames[k] = static_cast<int16_t>((dice.below(2 * amplitude + 1) - amplitude) * envelope);
    }
    return frames;
}

// A falling sine: a kick drum.
std::vector<int16_t> kickFrames(int count) {
    std::vector<int16_t> frames(static_cast<size_t>(count));
    double phase = 0;
    for (int k = 0; k < count; ++k) {
        phase += 0.002 + 0.02 * std::exp(-8.0 * k / count);
        frames[k] =
            static_cast<int16_t>(24000 * std::sin(phase * 6.2832) * std::exp(-4.0 * k / count));
    }
    return frames;
}

// A long one-shot: a tone whose pitch and loudness wander, like a sung or spoken phrase.
std::vector<int16_t> phraseFrames(int count) {
    std::vector<int16_t> frames(static_cast<size_t>(count));
    double phase = 0;
    for (int k = 0; k < count; ++k) {
        const double t = static_cast<double>(k) / count;
        phase += 0.01 + 0.004 * std::sin(t * 40);
        const double loudness = 0.5 + 0.5 * std::sin(t * 23);
        frames[k] =
            static_cast<int16_t>(12000 * loudness * std::sin(phase * 6.2832 + std::sin(phase * 3)));
    }
    return frames;
}

XmInstrument looped(XmSample sample, uint8_t loopType, uint32_t start, uint32_t length) {
    sample.loopType = loopType;
    sample.loopStart = start;
    sample.loopLength = length;
    return makeInstrument(sample);
}

// Instruments 1 to 7: kick, snare, hat (one-shots), bass and pad (short forward loops), lead
// (a ping-pong loop, 8-bit) and the long phrase (one-shot).
std::vector<XmInstrument> instruments(Dice& dice) {
    std::vector<XmInstrument> list;
    list.push_back(makeInstrument(makeSample(kickFrames(7000), true)));
    list.push_back(makeInstrument(makeSample(noiseFrames(6000, 5, 14000, dice), true)));
    list.push_back(makeInstrument(makeSample(noiseFrames(1500, 7, 60, dice), false)));
    XmInstrument bass = looped(makeSample(sineFrames(400, 100, 20000), true), 1, 0, 400);
    bass.volumeEnvelope = {{0, 64}, {30, 40}, {200, 30}};
    bass.volumeFlags = 3;  // on, sustained at point 1 until the key-off
    bass.volumeSustain = 1;
    bass.fadeout = 800;
    list.push_back(bass);
    XmInstrument pad = looped(makeSample(sineFrames(2000, 250, 9000), true), 1, 0, 2000);
    pad.volumeEnvelope = {{0, 0}, {40, 50}, {120, 40}};
    pad.volumeFlags = 3;
    pad.volumeSustain = 2;
    pad.fadeout = 200;
    list.push_back(pad);
    XmInstrument lead = looped(makeSample(sineFrames(900, 60, 90), false), 2, 300, 600);
    lead.vibratoType = 0;
    lead.vibratoDepth = 4;
    lead.vibratoRate = 10;
    lead.volumeEnvelope = {{0, 64}, {60, 20}, {100, 0}};
    lead.volumeFlags = 1;
    list.push_back(lead);
    list.push_back(makeInstrument(makeSample(phraseFrames(150000), true)));
    return list;
}

// The cell a channel of role `role` plays at `row` of a pattern, perhaps none.
XmCell cellFor(int role, int row, int pattern, Dice& dice) {
    XmCell cell = {};
    switch (role) {
        case 0:  // kick and snare
            if (row % 8 == 0) cell = {37, 1, 0, 0, 0};
            if (row % 8 == 4) cell = {49, 2, 0x30, 0, 0};
            break;
        case 1:  // hats, softer off the beat
            if (row % 2 == 0) cell = {61, 3, static_cast<uint8_t>(row % 4 ? 0x28 : 0x40), 0, 0};
            break;
        case 2:  // bass: notes on the beats, a key-off before the next
            if (row % 4 == 0)
                cell = {static_cast<uint8_t>(25 + (pattern * 5 + row / 16 * 7) % 12), 4, 0, 0, 0};
            if (row % 4 == 3) cell = {97, 0, 0, 0, 0};
            break;
        case 3:  // pad: a chord note every bar, held
            if (row % 16 == 0)
                cell = {static_cast<uint8_t>(49 + (pattern * 3 + row / 16 * 4) % 12), 5, 0, 0, 0};
            if (row % 16 == 14) cell = {97, 0, 0, 0, 0};
            break;
        case 4:  // lead: a melody with rests, slides and vibrato
            if (dice.below(3) == 0) {
                cell = {static_cast<uint8_t>(61 + dice.below(24)), 6, 0, 0, 0};
                if (dice.below(4) == 0) cell.effect = 4, cell.param = 0x36;
            } else if (dice.below(4) == 0) {
                cell.effect = 0xA, cell.param = 0x04;
            }
            break;
        default:  // the long phrase, once in a while
            if (row == 0 || (row == 32 && pattern % 2)) cell = {49, 7, 0, 0, 0};
            break;
    }
    return cell;
}

}  // namespace

std::vector<uint8_t> shapedModule(int channels, int orders, uint32_t seed) {
    Dice dice = {seed};
    constexpr int PATTERNS = 8;
    XmSong xm = makeXmSong(channels, PATTERNS);
    xm.name = "shaped";
    xm.speed = 6;
    xm.bpm = 125 + dice.below(20);
    xm.instruments = instruments(dice);
    xm.orders.clear();
    for (int o = 0; o < orders; ++o) xm.orders.push_back(static_cast<uint8_t>(o % PATTERNS));
    for (int p = 0; p < PATTERNS; ++p) {
        for (int c = 0; c < channels; ++c) {
            const int role = c % 6;
            // Every channel but the drums sits out some patterns: a third of them, or more the more
            // channels there are.
            if (role != 0 && dice.below(channels + 12) < channels / 2 + 4) continue;
            for (int row = 0; row < 64; ++row)
                cellAt(xm.patterns[p], channels, row, c) = cellFor(role, row, p, dice);
        }
    }
    return writeXm(xm);
}

std::vector<std::string> writeShapedSet(const std::string& folder) {
    std::vector<std::string> paths;
    for (int channels : {4, 8, 16, 32}) {
        paths.push_back(folder + "/shaped-" + std::to_string(channels) + ".xm");
        writeFile(paths.back(), shapedModule(channels, 16, 1000u + channels));
    }
    return paths;
}
