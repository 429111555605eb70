#include "tests/support/profile_cases.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "module/xm_writer.h"
#include "tests/support/mod_writer.h"

namespace {

constexpr int C4 = 49;  // XM's C-4, 8363 Hz at finetune 0 in linear mode
constexpr int KEY_OFF = 97;
constexpr int BPM = 125;
constexpr int SINE_PERIOD = 64;
constexpr int SINE_LENGTH = 2048;
constexpr int AMPLITUDE = 12000;
// XM's linear period of C-4, and its units per semitone.
constexpr int C4_PERIOD = 4608;
constexpr int SEMITONE = 64;
constexpr int HELD = -1;

// Instruments every XM case has: a looped sine, hard left and hard right.
constexpr uint8_t LEFT = 1;
constexpr uint8_t RIGHT = 2;

// What the right side should sound like on one tick: the linear period and the volume.
struct TickSound {
    int period;  // HELD: the sample stands still, holding its value
    int volume;
    bool restart = false;  // the note starts again, from its first frame, on this tick
};

struct XmCase {
    XmSong song;
    XmCell& cell(int row, int channel) {
        return cellAt(song.patterns[0], song.channels, row, channel);
    }
    XmCell& left(int row) { return cell(row, 0); }
    XmCell& right(int row) { return cell(row, 1); }
};

XmSample sineSample(uint8_t panning, int finetune, uint8_t volume) {
    XmSample sample = makeSample(sineFrames(SINE_LENGTH, SINE_PERIOD, AMPLITUDE), true);
    sample.loopType = 1;
    sample.loopLength = SINE_LENGTH;
    sample.panning = panning;
    sample.finetune = static_cast<int8_t>(finetune);
    sample.volume = volume;
    return sample;
}

// Adds an instrument and gives its number.
uint8_t addInstrument(XmCase* c, XmInstrument instrument) {
    c->song.instruments.push_back(std::move(instrument));
    return static_cast<uint8_t>(c->song.instruments.size());
}

uint8_t addSine(XmCase* c, uint8_t panning, int finetune = 0, uint8_t volume = 64) {
    return addInstrument(c, makeInstrument(sineSample(panning, finetune, volume)));
}

XmCase xmCase(int rows, int speed, int channels = 2) {
    XmCase c;
    c.song = makeXmSong(channels, 1);
    c.song.patterns[0] = makePattern(rows, channels);
    c.song.speed = speed;
    c.song.bpm = BPM;
    addSine(&c, 0);
    addSine(&c, 255);
    return c;
}

// A right-hand instrument whose sample, played at `played` (C-4 unless said), is the left sine (of
// `sinePeriod` frames) as it should sound: one TickSound per tick from the note on.
uint8_t addExpected(XmCase* c, const std::vector<TickSound>& ticks, int played = C4,
                    int sinePeriod = SINE_PERIOD) {
    const int playedPeriod = C4_PERIOD - (played - C4) * SEMITONE;
    const double framesPerTick =
        8363.0 * 2.5 / BPM * std::pow(2.0, (C4_PERIOD - playedPeriod) / 768.0);
    const auto count = static_cast<size_t>(framesPerTick * static_cast<double>(ticks.size()));
    std::vector<int16_t> frames(count);
    double phase = 0;
    size_t last = 0;
    for (size_t n = 0; n < count; ++n) {
        const auto index = static_cast<size_t>(static_cast<double>(n) / framesPerTick);
        const TickSound& tick = ticks[index];
        if (index != last && tick.restart) phase = 0;
        last = index;
        frames[n] =
            static_cast<int16_t>(std::lround(AMPLITUDE * tick.volume / 64.0 * std::sin(phase)));
        const double ratio =
            tick.period == HELD ? 0.0 : std::pow(2.0, (playedPeriod - tick.period) / 768.0);
        phase += 2 * M_PI * ratio / sinePeriod;
    }
    XmSample sample = makeSample(std::move(frames), true);
    sample.panning = 255;
    return addInstrument(c, makeInstrument(std::move(sample)));
}

ProfileCase xmFile(const char* name, const XmCase& c) { return {name, "xm", writeXm(c.song)}; }

// FastTracker 2 plays an arpeggio's intervals by the ticks left in the row: the last tick of a row
// has the first interval, the one before it the second, the one before that the note.
ProfileCase arpeggioOrder() {
    XmCase c = xmCase(4, 6);
    c.left(0) = {C4, LEFT, 0, 0x0, 0x47};
    c.left(1) = {0, 0, 0, 0x0, 0x47};
    c.left(2) = {0, 0, 0, 0x0, 0x37};
    std::vector<TickSound> ticks;
    for (int row = 0; row < 4; ++row) {
        const int x = row == 2 ? 3 : 4;
        for (int tick = 0; tick < 6; ++tick) {
            const int phase = (6 - tick) % 3;
            const int interval = row == 3 || tick == 0 ? 0 : phase == 1 ? x : phase == 2 ? 7 : 0;
            ticks.push_back({C4_PERIOD - interval * SEMITONE, 64});
        }
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("arpeggio-order", c);
}

// FastTracker 2 tunes in sixteenths of a semitone: a sample finetune of -3 plays as -8 (and +5
// as 0).
ProfileCase finetunePrecision() {
    XmCase c = xmCase(8, 6);
    const uint8_t left = addSine(&c, 0, -3);
    const uint8_t right = addSine(&c, 255, -8);
    const uint8_t leftUp = addSine(&c, 0, 5);
    c.left(0) = {C4, left, 0, 0, 0};
    c.right(0) = {C4, right, 0, 0, 0};
    c.left(4) = {C4, leftUp, 0, 0, 0};
    c.right(4) = {C4, RIGHT, 0, 0, 0};
    return xmFile("finetune-precision", c);
}

// E5x sets the finetune of the note on its row to x * 16 - 128.
ProfileCase setFinetune() {
    XmCase c = xmCase(8, 6);
    const uint8_t right = addSine(&c, 255, -64);
    c.left(0) = {C4, LEFT, 0, 0xE, 0x54};
    c.right(0) = {C4, right, 0, 0, 0};
    return xmFile("set-finetune", c);
}

// Every channel hears a new global volume at once, not at its next volume change.
ProfileCase globalVolumeAtOnce() {
    XmCase c = xmCase(8, 6);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.right(0) = {C4, RIGHT, 0, 0, 0};
    c.right(3) = {0, 0, 0, 0x10, 0x10};
    return xmFile("global-volume-at-once", c);
}

// Kxx releases the note on tick xx; without a volume envelope that silences it.
ProfileCase keyOffTick() {
    XmCase c = xmCase(6, 6);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.right(0) = {C4, RIGHT, 0, 0, 0};
    c.left(2) = {0, 0, 0, 0x14, 0x03};
    c.right(2) = {0, 0, 0, 0xE, 0xC3};
    return xmFile("key-off-tick", c);
}

// A key-off delayed by EDx releases the note on tick x.
ProfileCase noteDelayKeyOff() {
    XmCase c = xmCase(6, 6);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.right(0) = {C4, RIGHT, 0, 0, 0};
    c.left(2) = {KEY_OFF, 0, 0, 0xE, 0xD3};
    c.right(2) = {0, 0, 0, 0xE, 0xC3};
    return xmFile("note-delay-key-off", c);
}

// 9xx beyond the sample's end stops the voice of a note it starts; without a note it only keeps
// its parameter.
ProfileCase offsetPastEnd() {
    XmCase c = xmCase(8, 6);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.right(0) = {C4, RIGHT, 0, 0, 0};
    c.left(2) = {0, 0, 0, 0x9, 0x10};  // without a note: nothing but the parameter kept
    c.left(4) = {C4, LEFT, 0, 0x9, 0};
    c.right(4) = {0, 0, 0x10, 0, 0};
    return xmFile("offset-past-end", c);
}

// An instrument number without a note sets the volume of the sample playing, not of the
// instrument named.
ProfileCase instrumentWithoutNote() {
    XmCase c = xmCase(8, 6);
    const uint8_t quiet = addSine(&c, 0, 0, 16);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.right(0) = {C4, RIGHT, 0, 0, 0};
    c.left(1) = {0, 0, 0x20, 0, 0};
    c.right(1) = {0, 0, 0x20, 0, 0};
    c.left(3) = {0, quiet, 0, 0, 0};
    c.right(3) = {0, RIGHT, 0, 0, 0};
    return xmFile("instrument-without-note", c);
}

// Tremor counts on the ticks after the first, from on, across rows; tick 0 keeps the volume of
// the tick before.
ProfileCase tremor() {
    XmCase c = xmCase(5, 6);
    c.left(0) = {C4, LEFT, 0, 0x1D, 0x12};
    c.left(1) = {0, 0, 0, 0x1D, 0x00};
    c.left(2) = {0, 0, 0, 0x1D, 0x00};
    std::vector<TickSound> ticks;
    int position = 0;
    bool on = false;
    int volume = 64;
    for (int row = 0; row < 5; ++row) {
        for (int tick = 0; tick < 6; ++tick) {
            if (row < 3 && tick > 0) {
                if (--position < 0) {
                    on = !on;
                    position = on ? 1 : 2;
                }
                volume = on ? 64 : 0;
            }
            ticks.push_back({C4_PERIOD, volume});
        }
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("tremor", c);
}

// EC0 cuts the note on the row's first tick.
ProfileCase noteCutTickZero() {
    XmCase c = xmCase(8, 6);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.right(0) = {C4, RIGHT, 0, 0, 0};
    c.left(4) = {0, 0, 0, 0xE, 0xC0};
    c.right(4) = {0, 0, 0x10, 0, 0};
    return xmFile("note-cut-tick-zero", c);
}

// E90 on a row without a note starts the note again on the row's first tick.
ProfileCase retriggerTickZero() {
    XmCase c = xmCase(8, 3);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.right(0) = {C4, RIGHT, 0, 0, 0};
    c.left(3) = {0, 0, 0, 0xE, 0x90};
    c.right(3) = {C4, 0, 0, 0, 0};
    return xmFile("retrigger-tick-zero", c);
}

// A key-off with an instrument number: the instrument sets the volume again after the release,
// so that an instrument without a volume envelope goes on sounding.
ProfileCase keyOffWithInstrument() {
    XmCase c = xmCase(6, 6);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.right(0) = {C4, RIGHT, 0, 0, 0};
    c.left(2) = {KEY_OFF, LEFT, 0, 0, 0};
    return xmFile("key-off-with-instrument", c);
}

// A new note without an instrument number brings the vibrato back to the start of its waveform.
ProfileCase noteRestartsVibrato() {
    XmCase c = xmCase(6, 6);
    for (int row = 0; row < 6; ++row) {
        const bool note = row == 0 || row == 2;
        const uint8_t param = row == 0 ? 0x8F : 0;
        c.left(row) = {note ? uint8_t{C4} : uint8_t{0}, row == 0 ? LEFT : uint8_t{0}, 0, 0x4,
                       param};
        c.right(row) = {note ? uint8_t{C4} : uint8_t{0}, note ? RIGHT : uint8_t{0}, 0, 0x4, param};
    }
    return xmFile("note-restarts-vibrato", c);
}

// With the glissando on, a tone portamento sounds in semitones: the nearest to the sliding pitch,
// the lower one halfway between two.
ProfileCase glissando() {
    XmCase c = xmCase(6, 6);
    c.left(0) = {C4, LEFT, 0, 0xE, 0x31};
    c.left(1) = {C4 + 7, 0, 0, 0x3, 0x09};
    for (int row = 2; row < 5; ++row) c.left(row) = {0, 0, 0, 0x3, 0x00};
    std::vector<TickSound> ticks;
    int period = C4_PERIOD;
    int heard = C4_PERIOD;
    const int target = C4_PERIOD - 7 * SEMITONE;
    for (int row = 0; row < 6; ++row) {
        for (int tick = 0; tick < 6; ++tick) {
            if (row >= 1 && row <= 4 && tick > 0) {
                period = std::max(period - 4 * 9, target);
                heard = C4_PERIOD - (C4_PERIOD - period + SEMITONE / 2 - 1) / SEMITONE * SEMITONE;
            }
            ticks.push_back({heard, 64});
        }
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("glissando", c);
}

// Arpeggio intervals beyond the top of the range play its top note.
ProfileCase arpeggioClamp() {
    XmCase c = xmCase(4, 6);
    constexpr int A7 = 94;
    constexpr int TOP = 97;
    c.left(0) = {A7, LEFT, 0, 0x0, 0x3C};
    c.left(1) = {0, 0, 0, 0x0, 0x3C};
    std::vector<TickSound> ticks;
    const int a7 = C4_PERIOD - (A7 - C4) * SEMITONE;
    for (int row = 0; row < 4; ++row) {
        for (int tick = 0; tick < 6; ++tick) {
            const int phase = (6 - tick) % 3;
            int interval = row >= 2 || tick == 0 ? 0 : phase == 1 ? 3 : phase == 2 ? 12 : 0;
            interval = std::min(interval, TOP - A7);
            ticks.push_back({a7 - interval * SEMITONE, 64});
        }
    }
    c.right(0) = {A7, addExpected(&c, ticks, A7), 0, 0, 0};
    return xmFile("arpeggio-clamp", c);
}

// A pattern delay repeats a row's note delay: the note starts again on the delay's tick of every
// repetition.
ProfileCase patternDelayNoteDelay() {
    XmCase c = xmCase(4, 6, 3);
    c.left(0) = {C4, LEFT, 0, 0, 0};
    c.left(2) = {C4 + 7, LEFT, 0, 0xE, 0xD3};
    c.cell(2, 2) = {0, 0, 0, 0xE, 0xE1};
    std::vector<TickSound> ticks;
    for (int tick = 0; tick < 5 * 6; ++tick) {
        const bool fifth = tick >= 15;
        ticks.push_back(
            {fifth ? C4_PERIOD - 7 * SEMITONE : C4_PERIOD, 64, tick == 15 || tick == 21});
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("pattern-delay-note-delay", c);
}

// Rxy counts its ticks across rows, the first tick of a row without a note too, and a volume in
// the volume column is the volume of every note it starts.
ProfileCase retriggerVolumeColumn() {
    XmCase c = xmCase(6, 6);
    c.left(0) = {C4, LEFT, 0x10 + 48, 0x1B, 0x72};
    c.left(1) = {0, 0, 0, 0x1B, 0x00};
    c.left(2) = {0, 0, 0x10 + 40, 0x1B, 0x00};
    c.left(3) = {C4, 0, 0, 0x1B, 0x82};
    c.left(4) = {0, 0, 0, 0x1B, 0x00};
    std::vector<TickSound> ticks;
    for (int tick = 0; tick < 8 * 6; ++tick) {
        bool retrigger = tick < 12 ? tick > 0 && tick % 2 == 0 : tick % 2 == 1;
        if (tick >= 30) retrigger = false;
        if (tick == 18) retrigger = true;
        const int volume = tick < 6 ? 48 : tick < 12 ? 48 >> (tick / 2 - 2) : 40;
        ticks.push_back({C4_PERIOD, volume, retrigger});
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("retrigger-volume-column", c);
}

// Vibrato swings by the waveform's value times the depth over 32, in whole period units.
ProfileCase vibratoDepth() {
    XmCase c = xmCase(8, 6);
    c.left(0) = {C4, LEFT, 0, 0xE, 0x42};
    for (int row = 1; row < 7; ++row) c.left(row) = {0, 0, 0, 0x4, 0x1F};
    std::vector<TickSound> ticks;
    for (int tick = 0; tick < 10 * 6; ++tick) {
        const bool vibrato = tick >= 6 && tick < 42;
        ticks.push_back({C4_PERIOD + (vibrato ? 255 * 15 / 32 : 0), 64});
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("vibrato-depth", c);
}

// The tremolo's ramp turns over with the vibrato's phase, not its own (here the vibrato stays at
// its start, so the ramp never turns); a row's first tick plays the phase without moving it, and
// the volume comes back when the tremolo ends.
ProfileCase tremoloRamp() {
    XmCase c = xmCase(10, 6);
    c.left(0) = {C4, LEFT, 0, 0xE, 0x71};
    for (int row = 1; row < 9; ++row) c.left(row) = {0, 0, 0, 0x7, 0x8F};
    std::vector<TickSound> ticks;
    int position = 0;
    for (int tick = 0; tick < 12 * 6; ++tick) {
        int volume = 64;
        if (tick >= 6 && tick < 54) {
            const int delta = (position & 31) * 8 * 15 >> 6;
            volume = position >= 0 ? 64 : std::max(0, 64 - delta);
            if (tick % 6 != 0) {
                position += 8;
                if (position > 31) position -= 64;
            }
        }
        ticks.push_back({C4_PERIOD, volume});
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("tremolo-ramp", c);
}

// Notes beyond the range: one below C-0 (with the sample's relative note) plays C-0, and one at
// B-9 or above is no note (the note before goes on).
ProfileCase noteRange() {
    XmCase c = xmCase(16, 6);
    // A sine sixteen times as high, for notes in octave 0.
    XmSample high = makeSample(sineFrames(SINE_LENGTH, SINE_PERIOD / 16, AMPLITUDE), true);
    high.loopType = 1;
    high.loopLength = SINE_LENGTH;
    high.panning = 255;
    const uint8_t right = addInstrument(&c, makeInstrument(high));
    high.panning = 0;
    high.relativeNote = -2;
    const uint8_t below = addInstrument(&c, makeInstrument(high));
    XmSample above = sineSample(0, 0, 64);
    above.relativeNote = 24;
    const uint8_t top = addInstrument(&c, makeInstrument(above));
    constexpr int A7 = 94;
    constexpr int B7 = 96;
    c.left(0) = {2, below, 0, 0, 0};
    c.right(0) = {1, right, 0, 0, 0};
    c.left(8) = {A7, LEFT, 0, 0, 0};
    c.right(8) = {A7, RIGHT, 0, 0, 0};
    c.left(12) = {B7, top, 0, 0, 0};
    return xmFile("note-range", c);
}

// A portamento up stops at period 1.
ProfileCase portamentoUpLimit() {
    XmCase c = xmCase(4, 6);
    constexpr int C6 = C4 + 24;
    // A slow sine, so that the highest pitches stay well below the output's rate.
    constexpr int SLOW = 1024;
    XmSample slow = makeSample(sineFrames(SINE_LENGTH, SLOW, AMPLITUDE), true);
    slow.loopType = 1;
    slow.loopLength = SINE_LENGTH;
    slow.panning = 0;
    const uint8_t left = addInstrument(&c, makeInstrument(std::move(slow)));
    c.left(0) = {C6, left, 0, 0x1, 0xF0};
    for (int row = 1; row < 3; ++row) c.left(row) = {0, 0, 0, 0x1, 0xF0};
    std::vector<TickSound> ticks;
    int period = C4_PERIOD - 24 * SEMITONE;
    for (int tick = 0; tick < 6 * 6; ++tick) {
        if (tick < 18 && tick % 6 != 0) period = std::max(1, period - 4 * 0xF0);
        ticks.push_back({period, 64});
    }
    c.right(0) = {C6, addExpected(&c, ticks, C6, SLOW), 0, 0, 0};
    return xmFile("portamento-up-limit", c);
}

// Panning cases cancel out when played right: the behaviour on the first channel, a negated
// copy of its sound with the panning written plainly on the second, and a steady tone in the
// centre on the third, against which the difference is measured.
struct PanningCase {
    XmCase c;
    uint8_t negated;  // the sine negated, in the centre
};

PanningCase panningCase(int rows, int speed) {
    PanningCase p{xmCase(rows, speed, 3), 0};
    XmSample negated = sineSample(128, 0, 64);
    for (int16_t& frame : negated.frames) frame = static_cast<int16_t>(-frame);
    p.negated = addInstrument(&p.c, makeInstrument(std::move(negated)));
    const uint8_t centre = addSine(&p.c, 128);
    p.c.cell(0, 2) = {C4 + 12, centre, 0, 0x8, 0x80};
    return p;
}

// Lxx sets the panning envelope's position as well as the volume envelope's, where the volume
// envelope has a sustain point; the panning moves on the next tick (here one a row).
ProfileCase envelopePositionPanning() {
    PanningCase p = panningCase(40, 1);
    XmInstrument instrument = makeInstrument(sineSample(128, 0, 64));
    instrument.volumeEnvelope = {{0, 64}, {100, 64}};
    instrument.volumeFlags = 1 | 2;
    instrument.panningEnvelope = {{0, 8}, {60, 8}, {61, 56}, {200, 56}};
    instrument.panningFlags = 1;
    const uint8_t enveloped = addInstrument(&p.c, std::move(instrument));
    p.c.left(0) = {C4, enveloped, 0, 0, 0};
    p.c.right(0) = {C4, p.negated, 0, 0x8, 32};
    p.c.left(12) = {0, 0, 0, 0x15, 80};
    p.c.right(12) = {0, 0, 0, 0x8, 224};
    return xmFile("envelope-position-panning", p.c);
}

// The volume column's panning slides act on the ticks after the first only, and one to the left
// by 0 sends the panning hard left.
ProfileCase panningSlideZero() {
    PanningCase p = panningCase(24, 2);
    p.c.left(0) = {C4, addSine(&p.c, 128), 0x10 + 32, 0, 0};
    p.c.right(0) = {C4, p.negated, 0x10 + 32, 0x8, 0x80};
    p.c.left(2) = {0, 0, 0xD0, 0, 0};
    p.c.right(3) = {0, 0, 0, 0x8, 0x00};
    p.c.left(6) = {0, 0, 0xE0 + 12, 0, 0};
    p.c.right(7) = {0, 0, 0, 0x8, 12};
    return xmFile("panning-slide-zero", p.c);
}

// A key-off does not release a panning envelope holding at its sustain point: it holds on.
ProfileCase panningSustainHolds() {
    PanningCase p = panningCase(12, 6);
    XmInstrument instrument = makeInstrument(sineSample(128, 0, 64));
    instrument.volumeEnvelope = {{0, 64}, {100, 64}};
    instrument.volumeFlags = 1;
    instrument.panningEnvelope = {{0, 8}, {20, 8}, {21, 56}, {200, 56}};
    instrument.panningSustain = 1;
    instrument.panningFlags = 1 | 2;
    const uint8_t enveloped = addInstrument(&p.c, std::move(instrument));
    p.c.left(0) = {C4, enveloped, 0, 0, 0};
    p.c.right(0) = {C4, p.negated, 0, 0x8, 32};
    p.c.left(4) = {KEY_OFF, 0, 0, 0, 0};
    return xmFile("panning-sustain-holds", p.c);
}

// The trackers' sine for the oscillators, a half period of 32 steps.
constexpr int TRACKER_SINE[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212,
                                  224, 235, 244, 250, 253, 255, 253, 250, 244, 235, 224,
                                  212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

// An oscillator's phase, -32..31, after a step of `speed`.
int nextPhase(int phase, int speed) {
    return phase + speed > 31 ? phase + speed - 64 : phase + speed;
}

// The vibrato's sine is the trackers' table (at depth 8 it differs from the sine times 256 at
// steps 12 and 20); a high note makes the difference heard.
ProfileCase vibratoSine() {
    XmCase c = xmCase(6, 6);
    constexpr int C7 = C4 + 36;
    constexpr int FAST = SINE_PERIOD / 4;
    XmSample fast = makeSample(sineFrames(SINE_LENGTH, FAST, AMPLITUDE), true);
    fast.loopType = 1;
    fast.loopLength = SINE_LENGTH;
    fast.panning = 0;
    c.left(0) = {C7, addInstrument(&c, makeInstrument(std::move(fast))), 0, 0, 0};
    for (int row = 1; row < 5; ++row) c.left(row) = {0, 0, 0, 0x4, 0x48};
    std::vector<TickSound> ticks;
    int position = 0;
    for (int tick = 0; tick < 8 * 6; ++tick) {
        int period = C4_PERIOD - 36 * SEMITONE;
        if (tick >= 6 && tick < 5 * 6) {
            period += (position >= 0 ? 1 : -1) * (TRACKER_SINE[position & 31] * 8 >> 5);
            if (tick % 6 != 0) position = nextPhase(position, 4);
        }
        ticks.push_back({period, 64});
    }
    c.right(0) = {C7, addExpected(&c, ticks, C7, FAST), 0, 0, 0};
    return xmFile("vibrato-sine", c);
}

// The tremolo's waveform 3 is a square, as the vibrato's is.
ProfileCase tremoloSquare() {
    XmCase c = xmCase(10, 6);
    c.left(0) = {C4, LEFT, 0x10 + 32, 0xE, 0x73};
    for (int row = 1; row < 9; ++row) c.left(row) = {0, 0, 0, 0x7, 0xB8};
    std::vector<TickSound> ticks;
    int position = 0;
    for (int tick = 0; tick < 12 * 6; ++tick) {
        int volume = 32;
        if (tick >= 6 && tick < 54) {
            volume = position >= 0 ? 32 + 31 : 32 - 31;
            if (tick % 6 != 0) position = nextPhase(position, 0xB);
        }
        ticks.push_back({C4_PERIOD, volume});
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("tremolo-square", c);
}

// A left instrument whose volume envelope dips from 64 to `low` and back over 32 ticks, and its
// value `ticks` after it starts.
uint8_t addDippingEnvelope(XmCase* c, int low) {
    XmInstrument instrument = makeInstrument(sineSample(0, 0, 64));
    instrument.volumeEnvelope = {{0, 64}, {16, static_cast<uint16_t>(low)}, {32, 64}};
    instrument.volumeFlags = 1;
    return addInstrument(c, std::move(instrument));
}
int dippingEnvelopeAt(int ticks, int low) {
    const int reached = ticks <= 16 ? ticks : ticks <= 32 ? 32 - ticks : 0;
    return 64 - (64 - low) * reached / 16;
}

// A key-off with an instrument number, and K00 with a note and one, set the volume again but
// leave the volume envelope running where it was; K00's note does not play.
ProfileCase keyOffKeepsEnvelope() {
    XmCase c = xmCase(7, 6);
    const uint8_t enveloped = addDippingEnvelope(&c, 32);
    c.left(0) = {C4, enveloped, 0, 0, 0};
    c.left(1) = {KEY_OFF, enveloped, 0, 0, 0};
    c.left(3) = {C4 + 12, enveloped, 0, 0x14, 0};
    std::vector<TickSound> ticks;
    for (int tick = 0; tick < 7 * 6; ++tick)
        ticks.push_back({C4_PERIOD, dippingEnvelopeAt(tick, 32)});
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("key-off-keeps-envelope", c);
}

// An instrument number on a row with a note delay starts its envelope on the delay's tick: one
// beyond the row's ticks starts nothing, and the envelope runs on.
ProfileCase noteDelayInstrument() {
    XmCase c = xmCase(6, 6);
    const uint8_t enveloped = addDippingEnvelope(&c, 0);
    c.left(0) = {C4, enveloped, 0, 0, 0};
    c.left(2) = {C4 + 12, enveloped, 0, 0xE, 0xDF};
    c.left(4) = {C4, enveloped, 0, 0xE, 0xD5};
    constexpr int RESTART = 4 * 6 + 5;
    std::vector<TickSound> ticks;
    for (int tick = 0; tick < 6 * 6; ++tick) {
        const int age = tick < RESTART ? tick : tick - RESTART;
        ticks.push_back({C4_PERIOD, dippingEnvelopeAt(age, 0), tick == RESTART});
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("note-delay-instrument", c);
}

// A portamento down past period 9983 takes the frequency round in 16 bits, here to nothing: the
// sample stands still. On the way it plays below 100 Hz.
ProfileCase frequencyWrap() {
    XmCase c = xmCase(4, 6);
    constexpr int C0 = C4 - 48;
    c.left(0) = {C0, LEFT, 0, 0x2, 0x60};
    c.left(1) = {0, 0, 0, 0x2, 0x60};
    std::vector<TickSound> ticks;
    int period = C4_PERIOD + 48 * SEMITONE;
    for (int tick = 0; tick < 4 * 6; ++tick) {
        if (tick < 12 && tick % 6 != 0) period += 4 * 0x60;
        ticks.push_back({period > 9983 ? HELD : period, 64});
    }
    c.right(0) = {C4, addExpected(&c, ticks), 0, 0, 0};
    return xmFile("frequency-wrap", c);
}

// MOD cases: channel 1 plays hard left, channel 2 hard right; sample 1 is a looped sine.
std::vector<int8_t> modSine(int length) {
    std::vector<int8_t> sine(length);
    for (int k = 0; k < length; ++k)
        sine[k] = static_cast<int8_t>(std::lround(100 * std::sin(2 * M_PI * k / SINE_PERIOD)));
    return sine;
}

ModSong modCase() {
    ModSong mod = makeModSong(4, 1);
    mod.samples[0] = makeModSample(modSine(SINE_LENGTH), 0, SINE_LENGTH / 2);
    return mod;
}

ModCell& modLeft(ModSong& mod, int row) { return modCellAt(mod, 0, row, 0); }
ModCell& modRight(ModSong& mod, int row) { return modCellAt(mod, 0, row, 1); }

ProfileCase modFile(const char* name, const ModSong& mod) { return {name, "mod", writeMod(mod)}; }

// What the right side should sound like for a stretch of time: the volume, and whether the note
// starts again at its start.
struct ModStretch {
    double seconds;
    int volume;
    bool restart = false;
    uint16_t period = 428;  // the pitch, as a period; 0 stands still
};

constexpr double MOD_TICK = 2.5 / BPM;  // seconds, at the default tempo

// Puts in sample `index` (from 0) the sine of sample 1 as it should sound played at C-2.
void setModExpected(ModSong* mod, int index, const std::vector<ModStretch>& stretches) {
    const double rate = 3546895.0 / modPeriod(2, 0);
    std::vector<int8_t> data;
    double phase = 0;
    double end = 0;
    for (const ModStretch& stretch : stretches) {
        if (stretch.restart) phase = 0;
        end += stretch.seconds * rate;
        while (static_cast<double>(data.size()) < end) {
            data.push_back(
                static_cast<int8_t>(std::lround(100 * stretch.volume / 64.0 * std::sin(phase))));
            if (stretch.period) phase += 2 * M_PI * modPeriod(2, 0) / stretch.period / SINE_PERIOD;
        }
    }
    data.resize(data.size() & ~size_t{1});
    mod->samples[index] = makeModSample(std::move(data), 0, 0);
}

// A note delay on a row with a sample number: the sample's volume at once, the note on the
// delay's tick; a delay beyond the row's ticks starts no note, but the volume still changes.
ProfileCase modNoteDelaySample() {
    ModSong mod = modCase();
    mod.samples[1] = mod.samples[0];
    mod.samples[1].volume = 16;
    const uint16_t c2 = modPeriod(2, 0);
    modLeft(mod, 0) = {c2, 1, 0, 0};
    modLeft(mod, 2) = {c2, 2, 0xE, 0xD3};
    modLeft(mod, 4) = {c2, 1, 0xE, 0xD7};
    setModExpected(&mod, 2,
                   {{12 * MOD_TICK, 64},
                    {3 * MOD_TICK, 16},
                    {9 * MOD_TICK, 16, true},
                    {60 * 6 * MOD_TICK, 64}});
    modRight(mod, 0) = {c2, 3, 0, 0};
    return modFile("mod-note-delay-sample", mod);
}

// E9x counts the row's ticks again in every repetition of a pattern delay, and on a row without
// a note starts the note again on the first tick too.
ProfileCase modRetriggerDelay() {
    ModSong mod = modCase();
    const uint16_t c2 = modPeriod(2, 0);
    modLeft(mod, 0) = {c2, 1, 0, 0};
    modLeft(mod, 2) = {0, 0, 0xE, 0x94};
    modCellAt(mod, 0, 2, 2) = {0, 0, 0xE, 0xE1};
    modLeft(mod, 4) = {0, 0, 0xE, 0x93};
    modLeft(mod, 6) = {0, 0, 0xC, 0};
    // Restarts on ticks 16, 18 and 22 (row 2 and its repetition), 30 and 33 (row 4).
    setModExpected(&mod, 1,
                   {{16 * MOD_TICK, 64},
                    {2 * MOD_TICK, 64, true},
                    {4 * MOD_TICK, 64, true},
                    {8 * MOD_TICK, 64, true},
                    {3 * MOD_TICK, 64, true},
                    {9 * MOD_TICK, 64, true}});
    modRight(mod, 0) = {c2, 2, 0, 0};
    return modFile("mod-retrigger-delay", mod);
}

// Fxx (a tempo of 32 or more) on a row: the row's ticks take the new length from its first.
ProfileCase modTempoInRow() {
    ModSong mod = modCase();
    const uint16_t c2 = modPeriod(2, 0);
    modLeft(mod, 0) = {c2, 1, 0, 0};
    modLeft(mod, 2) = {0, 0, 0xF, 80};
    modLeft(mod, 3) = {0, 0, 0xC, 0};
    modLeft(mod, 4) = {0, 0, 0xF, 125};
    setModExpected(&mod, 1, {{12 * MOD_TICK, 64}, {6 * 2.5 / 80, 64}, {6 * 2.5 / 80, 0}});
    modRight(mod, 0) = {c2, 2, 0, 0};
    return modFile("mod-tempo-in-row", mod);
}

// 9xx beyond the end of the sample: a note without a loop stays silent, one with a loop plays it
// from its start.
ProfileCase modOffsetPastEnd() {
    ModSong mod = modCase();
    mod.samples[1] = makeModSample(modSine(SINE_LENGTH), 0, 0);
    // A sine of 48 frames, so that the loop's start (1024) is not where the sine starts.
    std::vector<int8_t> sine(SINE_LENGTH);
    for (int k = 0; k < SINE_LENGTH; ++k)
        sine[k] = static_cast<int8_t>(std::lround(100 * std::sin(2 * M_PI * k / 48)));
    mod.samples[2] = makeModSample(sine, SINE_LENGTH / 4, SINE_LENGTH / 4);
    const uint16_t c2 = modPeriod(2, 0);
    modLeft(mod, 0) = {c2, 1, 0, 0};
    modRight(mod, 0) = {c2, 1, 0, 0};
    modLeft(mod, 4) = {c2, 2, 0x9, 0x10};
    modRight(mod, 4) = {0, 0, 0xC, 0};
    modLeft(mod, 8) = {c2, 3, 0x9, 0x10};
    modRight(mod, 8) = {c2, 3, 0x9, 0x04};
    return modFile("mod-offset-past-end", mod);
}

// A sample number without a note plays the new sample once the one playing reaches the end of
// its loop (here a silent one); where the sample playing has stopped, nothing.
ProfileCase modSampleSwap() {
    ModSong mod = modCase();
    mod.samples[0] = makeModSample(modSine(SINE_PERIOD), 0, SINE_PERIOD / 2);
    mod.samples[1] = makeModSample(std::vector<int8_t>(SINE_PERIOD), 0, SINE_PERIOD / 2);
    mod.samples[2] = makeModSample(modSine(4 * SINE_PERIOD), 0, 0);
    const uint16_t c2 = modPeriod(2, 0);
    modLeft(mod, 0) = {c2, 1, 0, 0};
    modRight(mod, 0) = {c2, 1, 0, 0};
    modLeft(mod, 4) = {0, 2, 0, 0};
    modRight(mod, 4) = {0, 0, 0xC, 0};
    modLeft(mod, 8) = {c2, 3, 0, 0};
    modRight(mod, 8) = {c2, 3, 0, 0};
    modLeft(mod, 12) = {0, 1, 0, 0};
    return modFile("mod-sample-swap", mod);
}

// A new note brings the vibrato back to the start of its waveform, with or without a sample
// number.
ProfileCase modNoteRestartsVibrato() {
    ModSong mod = modCase();
    const uint16_t c2 = modPeriod(2, 0);
    for (int row = 0; row < 6; ++row) {
        const bool note = row == 0 || row == 2;
        modCellAt(mod, 0, row, 0) = {note ? c2 : uint16_t{0}, row == 0 ? uint8_t{1} : uint8_t{0},
                                     0x4, row == 0 ? uint8_t{0x8F} : uint8_t{0}};
        modCellAt(mod, 0, row, 1) = {note ? c2 : uint16_t{0}, note ? uint8_t{1} : uint8_t{0}, 0x4,
                                     row == 0 ? uint8_t{0x8F} : uint8_t{0}};
    }
    return {"mod-note-restarts-vibrato", "mod", writeMod(mod)};
}

// A sample number without a note, or with a tone portamento's, leaves the vibrato where it is.
ProfileCase modVibratoKeepsPhase() {
    ModSong mod = modCase();
    const uint16_t c2 = modPeriod(2, 0);
    for (int row = 0; row < 6; ++row) {
        modLeft(mod, row) = {0, 0, 0x4, 0};
        modRight(mod, row) = {0, 0, 0x4, 0};
    }
    modLeft(mod, 0) = {c2, 1, 0x4, 0x8F};
    modRight(mod, 0) = {c2, 1, 0x4, 0x8F};
    modLeft(mod, 2) = {0, 1, 0x4, 0};
    modLeft(mod, 4) = {c2, 1, 0x3, 0};
    modRight(mod, 4) = {c2, 0, 0x3, 0};
    modLeft(mod, 6) = {0, 0, 0xC, 0};
    modRight(mod, 6) = {0, 0, 0xC, 0};
    return modFile("mod-vibrato-keeps-phase", mod);
}

// A tone portamento slides to the last note it was given, past plain notes, until it gets there,
// and then no more; the target takes the finetune of the sample number on its row. Its notes sit
// where equal-tempered periods and ProTracker's table differ by half a unit, so it needs the table.
ProfileCase modTonePortaTarget() {
    ModSong mod = modCase();
    mod.samples[1] = mod.samples[0];
    mod.samples[1].finetune = 6;
    const uint16_t c2 = modPeriod(2, 0), f2 = modPeriod(2, 5), g2 = modPeriod(2, 7);
    for (int channel = 0; channel < 2; ++channel) {
        modCellAt(mod, 0, 0, channel) = {c2, 1, 0, 0};
        modCellAt(mod, 0, 1, channel) = {g2, 0, 0x3, 0x07};
        modCellAt(mod, 0, 2, channel) = {f2, 0, 0, 0};
        modCellAt(mod, 0, 4, channel) = {0, 0, 0x1, 0x04};  // to period 265
        modCellAt(mod, 0, 7, channel) = {0, 0, 0xC, 0};
    }
    modLeft(mod, 3) = {0, 0, 0x3, 0};
    modRight(mod, 3) = {0, 0, 0x1, 0x07};  // 320 to 285, G-2
    modLeft(mod, 5) = {0, 0, 0x3, 0};
    modLeft(mod, 6) = {f2, 2, 0x3, 0xFF};
    modRight(mod, 6) = {0, 2, 0x2, 0x2A};  // 265 to 307 on tick 1, F-2 at finetune 6
    modCellAt(mod, 0, 6, 2) = {0, 0, 0xF, 2};
    return modFile("mod-tone-porta-target", mod);
}

// An arpeggio beyond B-3 reads on past the end of the finetune's table, where a 0 stops the
// sample, and then from the table's start again.
ProfileCase modArpeggioPastTable() {
    ModSong mod = modCase();
    const uint16_t aSharp3 = modPeriod(3, 10), b3 = modPeriod(3, 11);
    for (int row = 0; row < 4; ++row)
        modLeft(mod, row) = {row ? uint16_t{0} : aSharp3, 1, 0x0, 0x37};
    for (int row = 4; row < 6; ++row)
        modLeft(mod, row) = {row == 4 ? b3 : uint16_t{0}, 1, 0x0, 0x1F};
    modLeft(mod, 6) = {0, 0, 0xC, 0};
    modRight(mod, 6) = {0, 0, 0xC, 0};
    // A#-3 then C-1 (856) and E-1 (678); B-3 then standing still and C#-2 (404).
    std::vector<ModStretch> expected;
    for (int tick = 0; tick < 36; ++tick) {
        const uint16_t arpeggio[2][3] = {{aSharp3, 856, 678}, {b3, 0, 404}};
        expected.push_back({MOD_TICK, 64, tick == 24, arpeggio[tick >= 24][tick % 3]});
    }
    setModExpected(&mod, 1, expected);
    modRight(mod, 0) = {modPeriod(2, 0), 2, 0, 0};
    return modFile("mod-arpeggio-past-table", mod);
}

// A pattern delay on the row of a pattern break: the row plays twice, and then the row after the
// break's.
ProfileCase modPatternDelayBreak() {
    ModSong mod = makeModSong(4, 2);
    mod.samples[0] = makeModSample(modSine(SINE_LENGTH), 0, SINE_LENGTH / 2);
    mod.orders = {0, 1};
    const uint16_t c2 = modPeriod(2, 0);
    modLeft(mod, 0) = {c2, 1, 0, 0};
    modRight(mod, 0) = {c2, 1, 0, 0};
    modCellAt(mod, 0, 2, 2) = {0, 0, 0xD, 0};
    modCellAt(mod, 0, 2, 3) = {0, 0, 0xE, 0xE1};
    modCellAt(mod, 1, 0, 0) = {0, 0, 0xC, 0};
    modCellAt(mod, 1, 4, 0) = {0, 0, 0xC, 0};
    modCellAt(mod, 1, 4, 1) = {0, 0, 0xC, 0};
    return modFile("mod-pattern-delay-break", mod);
}

}  // namespace

std::vector<ProfileCase> ft2Cases() {
    return {arpeggioOrder(),
            finetunePrecision(),
            setFinetune(),
            globalVolumeAtOnce(),
            keyOffTick(),
            noteDelayKeyOff(),
            offsetPastEnd(),
            instrumentWithoutNote(),
            retriggerTickZero(),
            tremor(),
            noteCutTickZero(),
            keyOffWithInstrument(),
            noteRestartsVibrato(),
            glissando(),
            arpeggioClamp(),
            patternDelayNoteDelay(),
            retriggerVolumeColumn(),
            vibratoDepth(),
            tremoloRamp(),
            noteRange(),
            portamentoUpLimit(),
            envelopePositionPanning(),
            panningSlideZero(),
            panningSustainHolds(),
            vibratoSine(),
            tremoloSquare(),
            frequencyWrap(),
            keyOffKeepsEnvelope(),
            noteDelayInstrument()};
}

std::vector<ProfileCase> protrackerCases() {
    return {modNoteRestartsVibrato(), modOffsetPastEnd(),     modSampleSwap(),
            modNoteDelaySample(),     modTempoInRow(),        modRetriggerDelay(),
            modVibratoKeepsPhase(),   modPatternDelayBreak(), modTonePortaTarget(),
            modArpeggioPastTable()};
}

double sideDifference(const float* stereo, size_t frames) {
    double difference = 0;
    double total = 0;
    for (size_t k = 0; k < frames; ++k) {
        const double left = stereo[2 * k];
        const double right = stereo[2 * k + 1];
        difference += (left - right) * (left - right);
        total += left * left + right * right;
    }
    return total > 0 ? difference / total : 0;
}
