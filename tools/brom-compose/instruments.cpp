#include "tools/brom-compose/instruments.h"

#include <cmath>

#include "tools/brom-compose/synth.h"

// Pitch: a tonal sample holds a fundamental of `period` frames. The player plays note C-4 at
// 8363 Hz x 2^(relativeNote / 12) frames per second, so a period of 32 x 2^n frames with a relative
// note of 12 n sounds C-4 at 261 Hz. Drums are played at C-4 and sampled at 16726 Hz (relative
// note 12) or 33452 Hz (relative note 24).
//
// Loops: the tones change their colour only during an attack of whole periods and then hold still,
// so from the end of the attack the wave repeats exactly and a loop of one period is seamless.

namespace {

constexpr int PEAK_16 = 30000;
constexpr int PEAK_8 = 120;
constexpr double DRUM_RATE_LOW = 16726;
constexpr double DRUM_RATE_HIGH = 33452;

struct Harmonic {
    int number;  // 1 is the fundamental
    double amplitude;
    double phase;  // turns
    double decayFrames;  // 1/e time during the attack; 0 holds the level
};

// Whole harmonics of a `period`-frame fundamental. Their levels fall during the first `attack`
// frames and hold from then on, so everything after the attack repeats every period.
std::vector<double> harmonicTone(int period, int attack, int length,
                                 const std::vector<Harmonic>& harmonics) {
    std::vector<double> wave(static_cast<size_t>(length), 0.0);
    for (const Harmonic& h : harmonics) {
        double level = h.amplitude;
        double fall = h.decayFrames > 0 ? decayPerFrame(h.decayFrames) : 1.0;
        for (int t = 0; t < length; ++t) {
            int cycle = (h.number * (t % period)) % period;
            wave[t] += level * sineTurns(static_cast<double>(cycle) / period + h.phase);
            if (t < attack) level *= fall;
        }
    }
    return wave;
}

// Adds a burst of filtered noise that dies away with `decayFrames`: a hammer, a key click, breath.
void addNoiseBurst(std::vector<double>& wave, uint32_t seed, double level, double decayFrames,
                   double cutoff, int frames) {
    Random random{seed};
    StateVariableFilter filter = makeFilter(cutoff, 1.0);
    double fall = decayPerFrame(decayFrames);
    for (int t = 0; t < frames && t < static_cast<int>(wave.size()); ++t) {
        wave[t] += level * runFilter(filter, randomSigned(random)).band;
        level *= fall;
    }
}

XmSample makeTonalSample(std::vector<int16_t> frames, bool sixteenBit, uint8_t volume,
                         uint8_t panning, int8_t relativeNote) {
    XmSample s = makeSample(std::move(frames), sixteenBit);
    s.volume = volume;
    s.panning = panning;
    s.relativeNote = relativeNote;
    return s;
}

void loopForward(XmSample& s, uint32_t start, uint32_t length) {
    s.loopType = 1;
    s.loopStart = start;
    s.loopLength = length;
}

void setVolumeEnvelope(XmInstrument& ins, std::vector<XmEnvelopePoint> points, int sustain,
                       uint16_t fadeout) {
    ins.volumeEnvelope = std::move(points);
    ins.volumeFlags = 1;
    if (sustain >= 0) {
        ins.volumeFlags |= 2;
        ins.volumeSustain = static_cast<uint8_t>(sustain);
    }
    ins.fadeout = fadeout;
}

// The piano's harmonics: a gently falling spectrum shaped by the hammer striking near one
// seventh of the string (its multiples are weak), the upper harmonics dying fast. Phases are spread
// so the wave has no tall peaks.
std::vector<Harmonic> pianoHarmonics(int count, double fundamentalDecay) {
    std::vector<Harmonic> harmonics;
    for (int k = 1; k <= count; ++k) {
        double hammer = 0.25 + std::fabs(sineTurns(k / 14.6));
        double amplitude = hammer / (k * (1 + k / 12.0));
        double decay = fundamentalDecay / (1 + 0.15 * (k - 1) * (k - 1));
        double phase = static_cast<double>((k - 1) * (k - 1)) / (2.0 * count);
        harmonics.push_back({k, amplitude, phase, decay});
    }
    return harmonics;
}

XmSample pianoSample(int period, int attack, int harmonicCount, double fundamentalDecay,
                     uint32_t seed, uint8_t panning, int8_t relativeNote) {
    int length = attack + period;
    std::vector<double> wave =
        harmonicTone(period, attack, length, pianoHarmonics(harmonicCount, fundamentalDecay));
    addNoiseBurst(wave, seed, 0.5, period * 1.5, 0.05, attack);
    XmSample s = makeTonalSample(toFrames(wave, PEAK_16), true, 64, panning, relativeNote);
    loopForward(s, static_cast<uint32_t>(attack), static_cast<uint32_t>(period));
    return s;
}

// Piano: two 16-bit samples, the lower one richer, split at C-4. The envelope dies away like a
// struck string; a key-off lets the damper fall with a short fade.
XmInstrument piano() {
    XmInstrument ins;
    ins.name = "piano";
    XmSample low = pianoSample(256, 8192, 32, 60000, 0x51A0u, 112, 36);
    low.name = "piano low";
    XmSample high = pianoSample(128, 6144, 14, 50000, 0x7E11u, 144, 24);
    high.name = "piano high";
    ins.samples = {low, high};
    for (int n = 48; n < 96; ++n) ins.noteSampleMap[n] = 1;
    setVolumeEnvelope(ins, {{0, 64}, {3, 54}, {12, 42}, {40, 30}, {100, 18}, {200, 8}, {320, 0}},
                      -1, 2400);
    return ins;
}

// Bass piano: the left hand's dark register, 8-bit with a ping-pong loop. The harmonics are in
// cosine phase with signs chosen to keep the peaks low, so the held wave is symmetric about the
// loop start and half a period later, and playing it back and forth repeats it exactly.
XmInstrument bassPiano() {
    const int period = 128;
    const int attack = 32 * period;
    const int signs[] = {1, 1, -1, 1, -1, -1, 1, 1, 1, -1, 1, -1, -1, -1, 1, 1};
    std::vector<Harmonic> harmonics;
    for (int k = 1; k <= 24; ++k) {
        double hammer = 0.3 + std::fabs(sineTurns(k / 16.0));
        double amplitude = signs[(k - 1) % 16] * hammer / (k * (1 + k / 8.0));
        if (k == 2) amplitude *= 1.4;
        double decay = 30000 / (1 + 0.25 * (k - 1) * (k - 1));
        harmonics.push_back({k, amplitude, 0.25, decay});
    }
    std::vector<double> wave = harmonicTone(period, attack, attack + period / 2, harmonics);
    addNoiseBurst(wave, 0xBA55u, 0.3, 200, 0.04, attack);
    XmSample s = makeTonalSample(toFrames(wave, PEAK_8), false, 34, 128, 24);
    s.name = "bass piano";
    s.loopType = 2;
    s.loopStart = attack;
    s.loopLength = period / 2;
    XmInstrument ins = makeInstrument(s);
    ins.name = "bass piano";
    setVolumeEnvelope(ins, {{0, 64}, {4, 58}, {16, 46}, {48, 33}, {120, 22}, {240, 10}, {360, 0}},
                      -1, 2000);
    return ins;
}

// Organ: drawbar harmonics with a key click and a third-harmonic percussion that dies away. It
// sways between the speakers with a looping panning envelope.
XmInstrument organ() {
    const int period = 64;
    const int attack = 64 * period;
    // The last harmonic is the percussion, gone by the end of the attack.
    std::vector<Harmonic> harmonics = {
        {1, 1.0, 0.0, 0}, {2, 0.75, 0.1, 0}, {3, 0.5, 0.3, 0},   {4, 0.4, 0.55, 0},
        {6, 0.2, 0.8, 0}, {8, 0.15, 0.2, 0}, {3, 0.9, 0.3, 900},
    };
    std::vector<double> wave = harmonicTone(period, attack, attack + period, harmonics);
    addNoiseBurst(wave, 0x0C1Cu, 0.6, 40, 0.12, 400);
    XmSample s = makeTonalSample(toFrames(wave, PEAK_16), true, 28, 128, 12);
    s.name = "organ";
    loopForward(s, attack, period);
    XmInstrument ins = makeInstrument(s);
    ins.name = "organ";
    setVolumeEnvelope(ins, {{0, 58}, {2, 64}, {8, 54}, {40, 46}}, 2, 1200);
    ins.panningEnvelope = {{0, 32}, {12, 48}, {36, 16}, {48, 32}};
    ins.panningFlags = 1 | 4;
    ins.panningLoopStart = 0;
    ins.panningLoopEnd = 3;
    return ins;
}

// Saxophone: two-operator FM whose brightness grows during the attack, with breath noise; the
// instrument's auto-vibrato fades in on long notes.
XmInstrument saxophone() {
    const int period = 64;
    const int attack = 32 * period;
    const int length = attack + period;
    std::vector<double> wave(length);
    double rise = 1.0;
    double riseFall = decayPerFrame(350);
    for (int t = 0; t < length; ++t) {
        double phase = static_cast<double>(t % period) / period;
        double index = 2.4 - 1.1 * rise;  // radians
        double modulator = index * sineTurns(phase) + 0.5 * sineTurns(2 * phase);
        wave[t] = sineTurns(phase + modulator / (2 * 3.14159265358979323846));
        if (t < attack) rise *= riseFall;
    }
    addNoiseBurst(wave, 0x5A85u, 1.2, 300, 0.09, attack);
    XmSample s = makeTonalSample(toFrames(wave, PEAK_16), true, 58, 150, 12);
    s.name = "saxophone";
    loopForward(s, attack, period);
    XmInstrument ins = makeInstrument(s);
    ins.name = "saxophone";
    setVolumeEnvelope(ins, {{0, 20}, {3, 52}, {6, 64}, {12, 56}, {60, 50}, {200, 42}}, 3, 1500);
    ins.vibratoType = 0;
    ins.vibratoSweep = 40;
    ins.vibratoDepth = 6;
    ins.vibratoRate = 24;
    return ins;
}

// Soft saturation: loud parts are squeezed and quiet ones kept, so a drum sounds denser at the
// same peak.
void saturate(std::vector<double>& wave, double drive) {
    for (double& v : wave) {
        double x = v * drive;
        v = x / (1 + std::fabs(x));
    }
}

XmInstrument drum(const char* name, std::vector<double> wave, bool sixteenBit, uint8_t volume,
                  uint8_t panning, int8_t relativeNote) {
    XmSample s = makeTonalSample(toFrames(wave, sixteenBit ? PEAK_16 : PEAK_8), sixteenBit, volume,
                                 panning, relativeNote);
    s.name = name;
    XmInstrument ins = makeInstrument(s);
    ins.name = name;
    return ins;
}

// Kick: a sine that falls from about 165 Hz to 45 Hz, with a soft click.
XmInstrument kick() {
    const double rate = DRUM_RATE_LOW;
    int length = static_cast<int>(0.45 * rate);
    std::vector<double> wave(length);
    double phase = 0;
    double sweep = 1, sweepFall = decayPerFrame(0.035 * rate);
    double level = 1, levelFall = decayPerFrame(0.16 * rate);
    for (int t = 0; t < length; ++t) {
        double fadeEnd = t > length - 400 ? (length - t) / 400.0 : 1.0;
        wave[t] = level * fadeEnd * sineTurns(phase);
        phase += (45 + 120 * sweep) / rate;
        phase -= std::floor(phase);
        sweep *= sweepFall;
        level *= levelFall;
    }
    addNoiseBurst(wave, 0xC1C4u, 0.5, 30, 0.15, 400);
    return drum("kick", wave, true, 64, 128, 12);
}

// Snare: two drum-head tones under a burst of band-limited noise.
XmInstrument snare() {
    const double rate = DRUM_RATE_HIGH;
    int length = static_cast<int>(0.3 * rate);
    std::vector<double> wave(length);
    Random random{0x5A4Eu};
    StateVariableFilter highPass = makeFilter(0.03, 1.2);
    StateVariableFilter lowPass = makeFilter(0.16, 1.2);
    double body = 1, bodyFall = decayPerFrame(0.045 * rate);
    double ring = 1, ringFall = decayPerFrame(0.025 * rate);
    double noise = 1, noiseFall = decayPerFrame(0.1 * rate);
    for (int t = 0; t < length; ++t) {
        double n = runFilter(highPass, randomSigned(random)).high;
        n = runFilter(lowPass, n).low;
        wave[t] = 0.5 * body * sineTurns(185 * t / rate) + 0.3 * ring * sineTurns(330 * t / rate) +
                  0.9 * noise * n;
        body *= bodyFall;
        ring *= ringFall;
        noise *= noiseFall;
    }
    saturate(wave, 1.2);
    return drum("snare", wave, false, 64, 128, 24);
}

// The metal of the cymbals: six square waves at unrelated pitches, high-passed noise on top.
std::vector<double> metal(int length, uint32_t seed, double brightness, double squareLevel) {
    const double rate = DRUM_RATE_HIGH;
    const double pitches[] = {800, 1157.7, 1293.6, 1541.2, 2002.2, 2130.9};
    std::vector<double> wave(length);
    Random random{seed};
    StateVariableFilter highPass = makeFilter(brightness, 1.0);
    StateVariableFilter tone = makeFilter(brightness, 1.4);
    for (int t = 0; t < length; ++t) {
        double squares = 0;
        for (double p : pitches) squares += sineTurns(p * t / rate) >= 0 ? 1 : -1;
        double metalTone = runFilter(tone, squares * squareLevel / 6).high;
        wave[t] = metalTone + runFilter(highPass, randomSigned(random)).high;
    }
    return wave;
}

void applyDecay(std::vector<double>& wave, double decayFrames, int holdFrom) {
    double level = 1, fall = decayPerFrame(decayFrames);
    for (size_t t = 0; t < wave.size(); ++t) {
        wave[t] *= level;
        if (static_cast<int>(t) < holdFrom) level *= fall;
    }
}

XmInstrument closedHat() {
    int length = static_cast<int>(0.1 * DRUM_RATE_HIGH);
    std::vector<double> wave = metal(length, 0x4A7Cu, 0.16, 0.8);
    applyDecay(wave, 0.03 * DRUM_RATE_HIGH, length);
    saturate(wave, 0.8);
    return drum("hat", wave, false, 34, 170, 24);
}

// Open hat and crash: a short struck attack, then a loop of steady noise that the volume envelope
// lets ring and die.
XmInstrument openHat() {
    const int attack = 3000, loop = 4096;
    std::vector<double> wave = metal(attack + loop, 0x0BE4u, 0.15, 0.8);
    applyDecay(wave, 0.08 * DRUM_RATE_HIGH, attack);
    XmInstrument ins = drum("open hat", wave, false, 40, 170, 24);
    loopForward(ins.samples[0], attack, loop);
    setVolumeEnvelope(ins, {{0, 64}, {8, 32}, {30, 10}, {60, 0}}, -1, 3000);
    return ins;
}

XmInstrument crash() {
    const int attack = 4000, loop = 8192;
    std::vector<double> wave = metal(attack + loop, 0xC2A5u, 0.11, 0.5);
    applyDecay(wave, 0.12 * DRUM_RATE_HIGH, attack);
    XmInstrument ins = drum("crash", wave, false, 44, 90, 24);
    loopForward(ins.samples[0], attack, loop);
    setVolumeEnvelope(ins, {{0, 64}, {20, 40}, {80, 18}, {200, 6}, {300, 0}}, -1, 800);
    return ins;
}

struct Maker {
    const char* name;
    XmInstrument (*make)();
};

const Maker MAKERS[] = {
    {"piano", piano}, {"bass", bassPiano}, {"organ", organ},     {"sax", saxophone}, {"kick", kick},
    {"snare", snare}, {"hat", closedHat},  {"openhat", openHat}, {"crash", crash},
};

}  // namespace

bool makeSongInstrument(const std::string& name, XmInstrument* instrument) {
    for (const Maker& m : MAKERS) {
        if (name == m.name) {
            *instrument = m.make();
            return true;
        }
    }
    return false;
}

std::vector<std::string> songInstrumentNames() {
    std::vector<std::string> names;
    for (const Maker& m : MAKERS) names.push_back(m.name);
    return names;
}
