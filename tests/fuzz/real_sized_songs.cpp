#include "tests/fuzz/real_sized_songs.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int MAX_CHANNELS = 32;
constexpr int MAX_ROWS = 256;
constexpr int MAX_PATTERNS = 256;
constexpr int MAX_INSTRUMENTS = 128;
constexpr int MAX_SAMPLES = 16;
constexpr int MAX_POINTS = 12;
constexpr uint8_t KEY_OFF = 97;

// The same numbers on every machine: a 32-bit xorshift.
struct Random {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t below(uint32_t n) { return next() % n; }
    uint8_t byte() { return static_cast<uint8_t>(next() >> 24); }
};

// Every effect the player knows, 0..F, G, H, K, L, P, R, T and X, and a few numbers it does not.
constexpr uint8_t EFFECTS[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                               0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x14, 0x15,
                               0x19, 0x1B, 0x1D, 0x21, 0x12, 0x16, 0x1A, 0x23};

// An effect with a parameter a tracker would write for it, in the pattern played at `order`. Jumps
// lead forward and, like breaks, come seldom, so that the song plays through most of its rows; the
// tempo stays quick enough that a few seconds of play cross several rows.
XmCell effectCell(Random& random, int order, int orderCount) {
    XmCell cell{};
    do {
        cell.effect = EFFECTS[random.below(sizeof EFFECTS)];
    } while ((cell.effect == 0x0B || cell.effect == 0x0D) && random.below(64) != 0);
    cell.param = random.byte();
    if (cell.effect == 0x0B) {
        cell.param =
            static_cast<uint8_t>(std::min<uint32_t>(order + 1 + random.below(3), orderCount - 1));
    }
    if (cell.effect == 0x0D) cell.param = static_cast<uint8_t>(random.below(64));
    if (cell.effect == 0x0F) {
        cell.param =
            static_cast<uint8_t>(random.below(2) ? 1 + random.below(4) : 0x80 + random.below(0x80));
    }
    if (cell.effect == 0x0E && (cell.param >> 4) == 0xE) cell.param &= 0xE3;  // short delays
    return cell;
}

// A note (or key-off) with an instrument, a volume-column command and often an effect.
XmCell noteCell(Random& random, int instrumentCount, int order, int orderCount) {
    XmCell cell = random.below(4) ? effectCell(random, order, orderCount) : XmCell{};
    cell.note = random.below(16) ? static_cast<uint8_t>(1 + random.below(96)) : KEY_OFF;
    cell.instrument = static_cast<uint8_t>(1 + random.below(instrumentCount));
    cell.volumeColumn = random.below(2) ? static_cast<uint8_t>(0x10 + random.below(0xF0)) : 0;
    return cell;
}

// Fills the song's patterns, each played once in order: a note on one cell in `noteEvery` and an
// effect on as many more.
void fillPatterns(XmSong& xm, uint32_t seed, uint32_t noteEvery) {
    Random random{seed};
    const int orders = static_cast<int>(xm.orders.size());
    const int instruments = static_cast<int>(xm.instruments.size());
    for (int order = 0; order < orders; ++order) {
        for (XmCell& cell : xm.patterns[xm.orders[order]].cells) {
            uint32_t pick = random.below(noteEvery);
            if (pick == 0) cell = noteCell(random, instruments, order, orders);
            if (pick == 1) cell = effectCell(random, order, orders);
        }
    }
}

XmSample loudSample(uint32_t frames, int period, bool sixteenBit, uint8_t loopType,
                    uint32_t loopStart, uint32_t loopLength) {
    XmSample s = makeSample(loudFrames(frames, period, sixteenBit), sixteenBit);
    s.loopType = loopType;
    s.loopStart = loopStart;
    s.loopLength = loopLength;
    return s;
}

// Envelope points from position 0 to `last`, alternating between 0 and 64.
std::vector<XmEnvelopePoint> limitEnvelope(uint16_t last) {
    std::vector<XmEnvelopePoint> points;
    for (int k = 0; k < MAX_POINTS; ++k) {
        auto position = static_cast<uint16_t>(uint32_t{last} * k / (MAX_POINTS - 1));
        points.push_back({position, static_cast<uint16_t>(k % 2 ? 0 : 64)});
    }
    return points;
}

}  // namespace

std::vector<int16_t> loudFrames(uint32_t count, int period, bool sixteenBit) {
    std::vector<int16_t> frames(count);
    const double offset = sixteenBit ? 8192 : 32;
    const double amplitude = sixteenBit ? 30000 : 110;
    const double top = sixteenBit ? 32767 : 127;
    for (uint32_t k = 0; k < count; ++k) {
        double value = offset + amplitude * std::sin(2 * M_PI * (k % period) / period);
        frames[k] = static_cast<int16_t>(std::lround(std::clamp(value, -top - 1, top)));
    }
    return frames;
}

XmSong longSamplesSong() {
    constexpr int channels = 8;
    XmSong xm = makeXmSong(channels, 4);
    xm.name = "long samples";
    constexpr uint32_t million = 1u << 20;
    constexpr uint32_t more = 1200000;
    XmInstrument forward = makeInstrument(loudSample(million, 441, true, 1, 0, million));
    XmInstrument pingPong = makeInstrument(loudSample(more, 300, true, 2, more - 1, 1));
    pingPong.samples.push_back(loudSample(million, 200, false, 2, 0, million));
    for (int n = 48; n < 96; ++n) pingPong.noteSampleMap[n] = 1;
    // Two octaves up, the highest notes cross a million frames within the first seconds.
    forward.samples[0].relativeNote = 24;
    pingPong.samples[0].relativeNote = 24;
    pingPong.samples[1].relativeNote = 24;
    xm.instruments = {forward, pingPong};
    fillPatterns(xm, 0x5EED0001, 6);
    XmPattern& first = xm.patterns[0];
    const XmCell opening[channels] = {
        {96, 1, 0, 0, 0},       {96, 2, 0, 0x01, 0xFF},    {49, 1, 0, 0x09, 0xFF},
        {49, 2, 0, 0x09, 0xFF}, {72, 2, 0x50, 0, 0},       {1, 1, 0, 0x02, 0x10},
        {84, 2, 0, 0x1B, 0x81}, {60, 1, 0xC0, 0x0E, 0x93},
    };
    for (int c = 0; c < channels; ++c) cellAt(first, channels, 0, c) = opening[c];
    return xm;
}

XmSong widestLongestSong() {
    XmSong xm = makeXmSong(MAX_CHANNELS, 0);
    xm.name = "widest longest";
    xm.speed = 2;
    xm.bpm = 255;
    xm.restartPosition = MAX_PATTERNS - 1;
    constexpr int instruments = 8;
    for (int i = 0; i < instruments; ++i) {
        XmSample s = loudSample(256 + 64 * i, 32 + 8 * i, i % 2 == 0, static_cast<uint8_t>(i % 3),
                                16 * i, 64);
        XmInstrument ins = makeInstrument(s);
        ins.volumeEnvelope = limitEnvelope(static_cast<uint16_t>(24 * (i + 1)));
        ins.volumeFlags = static_cast<uint8_t>(i % 8);
        ins.volumeSustain = static_cast<uint8_t>(i % MAX_POINTS);
        ins.volumeLoopStart = 2;
        ins.volumeLoopEnd = 9;
        ins.panningEnvelope = limitEnvelope(static_cast<uint16_t>(40 * (i + 1)));
        ins.panningFlags = static_cast<uint8_t>((i + 3) % 8);
        ins.fadeout = static_cast<uint16_t>(0x400 * i);
        ins.vibratoType = static_cast<uint8_t>(i % 4);
        ins.vibratoDepth = static_cast<uint8_t>(2 * i);
        ins.vibratoRate = static_cast<uint8_t>(8 * i);
        xm.instruments.push_back(ins);
    }
    for (int p = 0; p < MAX_PATTERNS; ++p) {
        xm.patterns.push_back(makePattern(MAX_ROWS, MAX_CHANNELS));
        xm.orders.push_back(static_cast<uint8_t>(p));
    }
    fillPatterns(xm, 0x5EED0002, 12);
    return xm;
}

XmSong instrumentsAtLimitsSong() {
    XmSong xm = makeXmSong(MAX_CHANNELS, 2);
    xm.name = "instruments at limits";
    for (int i = 0; i < MAX_INSTRUMENTS; ++i) {
        XmInstrument ins;
        for (int j = 0; j < MAX_SAMPLES; ++j) {
            // Loops of one frame at the start, the middle and the end, and over the whole sample.
            uint32_t frames = 48 + 8 * static_cast<uint32_t>(j);
            uint32_t starts[] = {0, frames / 2, frames - 1, 0};
            uint32_t start = starts[j % 4];
            XmSample s = loudSample(frames, 16 + j, (i + j) % 2 == 0, static_cast<uint8_t>(j % 3),
                                    start, j % 4 == 3 ? frames : 1);
            s.finetune = static_cast<int8_t>(j % 2 ? -128 : 127);
            s.relativeNote = static_cast<int8_t>(i % 2 ? -48 + j : 48 - j);
            s.volume = static_cast<uint8_t>(j % 2 ? 64 : 0);
            s.panning = static_cast<uint8_t>(j % 2 ? 255 : 0);
            ins.samples.push_back(s);
        }
        for (int n = 0; n < 96; ++n) ins.noteSampleMap[n] = static_cast<uint8_t>(n % MAX_SAMPLES);
        // Short envelopes change every tick; long ones stretch to the last position there is.
        uint16_t last = i % 2 ? 0xFFFF : MAX_POINTS - 1;
        ins.volumeEnvelope = limitEnvelope(last);
        ins.panningEnvelope = limitEnvelope(last);
        ins.volumeFlags = ins.panningFlags = 1 | 2 | 4;
        ins.volumeSustain = ins.panningSustain = MAX_POINTS - 1;
        ins.volumeLoopStart = static_cast<uint8_t>(i % 3 ? 0 : MAX_POINTS - 1);
        ins.panningLoopStart = ins.volumeLoopStart;
        ins.volumeLoopEnd = ins.panningLoopEnd = MAX_POINTS - 1;
        ins.vibratoType = static_cast<uint8_t>(i % 4);
        ins.vibratoSweep = 255;
        ins.vibratoDepth = 15;
        ins.vibratoRate = 63;
        ins.fadeout = static_cast<uint16_t>(i % 2 ? 0xFFF : 0xFFFF);
        xm.instruments.push_back(ins);
    }
    // Every instrument on every note, key-offs among them, so fadeouts and sustains end.
    fillPatterns(xm, 0x5EED0003, 3);
    return xm;
}

ModSong largestModSong() {
    constexpr int patterns = 64;
    ModSong mod = makeModSong(MAX_CHANNELS, patterns);
    mod.title = "largest mod";
    constexpr uint16_t words = 0xFFFF;
    for (size_t k = 0; k < mod.samples.size(); ++k) {
        std::vector<int16_t> frames = loudFrames(2u * words, 50 + static_cast<int>(k), false);
        // Loops over the whole sample and from its middle to its end; then a loop of one word at
        // the end, which is how a MOD says none, and none at all.
        const uint16_t starts[] = {0, words / 2, words - 1, 0};
        const uint16_t lengths[] = {words, words - words / 2, 1, 1};
        mod.samples[k] = makeModSample(std::vector<int8_t>(frames.begin(), frames.end()),
                                       starts[k % 4], lengths[k % 4]);
        mod.samples[k].finetune = static_cast<uint8_t>(k % 16);
    }
    mod.orders.clear();
    for (int k = 0; k < 128; ++k) mod.orders.push_back(static_cast<uint8_t>(k % patterns));
    Random random{0x5EED0004};
    for (auto& pattern : mod.patterns) {
        for (ModCell& cell : pattern) {
            if (random.below(6) != 0) continue;
            cell = {static_cast<uint16_t>(113 + random.below(856 - 113 + 1)),
                    static_cast<uint8_t>(random.below(32)), static_cast<uint8_t>(random.below(16)),
                    random.byte()};
            // Jumps and breaks as seldom as a song has them.
            if ((cell.effect == 0xB || cell.effect == 0xD) && random.below(64) != 0)
                cell.effect = 0;
        }
    }
    return mod;
}

std::vector<RealSizedSong> realSizedSongs() {
    return {{"long-samples", longSamplesSong},
            {"widest-longest", widestLongestSong},
            {"instruments-at-limits", instrumentsAtLimitsSong}};
}
