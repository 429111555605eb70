#include "audio/mixer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/mixer_kernels.h"

// How one voice is mixed. A run of frames is cut into pieces: a piece ends where the voice reaches
// its loop boundary (the loop rule then moves it), where a volume ramp ends, or where the run ends.
// Within a piece every frame is rendered alike. Positions and steps are unsigned 32.32 numbers of
// sample frames kept in one 64-bit integer; the arithmetic on them wraps like the hardware's.
//
// The frames to the boundary are counted in units of 2^-24 frame, so a piece can stop a hair
// short of the boundary or run a hair past it. Past the loop end that is harmless (the frame at
// the loop end and the guard frames behind it are there to be read); before frame 0 it is not, so
// the few places where a position could fall before the data are held at frame 0.

namespace {

constexpr int64_t BEYOND = -1;  // the boundary lies beyond this piece

uint64_t fixed(uint32_t whole, uint32_t fraction) { return (uint64_t{whole} << 32) | fraction; }
uint32_t wholePart(uint64_t x) { return static_cast<uint32_t>(x >> 32); }
uint64_t divideRoundingUp(uint64_t a, uint64_t b) { return a / b + (a % b != 0); }

// Where the voice may go in its sample. The loader keeps loops inside the sample; clamping here
// as well keeps any sample handed to the mixer inside its data.
struct Loop {
    uint32_t start;  // the backward boundary
    uint32_t end;  // the forward boundary: the loop end, or the sample's end without a loop
    uint8_t mode;  // LOOP_FORWARD, LOOP_PINGPONG or LOOP_NONE
};

// The loop a voice plays in: the sample's sustain loop while the key is held and it has one,
// else its loop.
Loop loopOf(const Voice* voice) {
    const Sample* sample = voice->sample;
    const bool sustain =
        voice->sustainHeld && (sample->sustainMode & (LOOP_FORWARD | LOOP_PINGPONG));
    const uint32_t start = sustain ? sample->sustainStart : sample->loopStart;
    const uint32_t length = sustain ? sample->sustainLength : sample->loopLength;
    const uint8_t mode = sustain ? sample->sustainMode : sample->loopMode;
    Loop loop;
    uint64_t end = uint64_t{start} + length;
    loop.end = static_cast<uint32_t>(end < sample->length ? end : sample->length);
    loop.start = start < loop.end ? start : 0;
    if (mode & LOOP_FORWARD) {
        loop.mode = LOOP_FORWARD;
    } else if (mode & LOOP_PINGPONG) {
        loop.mode = LOOP_PINGPONG;
    } else {
        loop.mode = LOOP_NONE;
    }
    if (loop.mode != LOOP_NONE && loop.end <= loop.start) loop.mode = LOOP_NONE;
    return loop;
}

void endVoice(Voice* voice) {
    voice->sample = nullptr;
    voice->position = 0;
    voice->positionFraction = 0;
}

// Frames until the voice reaches its boundary, at most `frames` of them mattering; BEYOND when the
// boundary is not reached within them. 0 when the voice stands on or past it already.
int64_t framesToBoundary(uint64_t position, uint64_t step, bool backward, const Loop& loop,
                         int32_t frames) {
    uint64_t distance;
    if (backward) {
        uint64_t start = fixed(loop.start, 0);
        if (position <= start) return 0;
        distance = position - start;
    } else {
        uint64_t end = fixed(loop.end, 0);
        if (position >= end) return 0;
        distance = end - position;
    }
    if (step == 0) return BEYOND;

    int64_t count;
    if ((distance >> 32) >= (uint64_t{1} << 24)) {
        // Far away: out of reach for any step a note can have. Only a step of thousands of frames
        // per output frame could get there, and then it is counted exactly.
        uint64_t reach = uint64_t(frames) * (uint64_t{wholePart(step)} + 1);
        if (reach <= (distance >> 32)) return BEYOND;
        count = static_cast<int64_t>(divideRoundingUp(distance, step));
    } else {
        uint64_t distance24 = distance >> 8;
        // For steps below 256 frames this is the 32-bit step in units of 2^-24 frame; larger steps
        // keep their top bits instead of losing them.
        uint64_t step24 = step >> 8;
        if (step24 == 0) {
            // Too slow to count in units of 2^-24 frame: counted exactly.
            count = static_cast<int64_t>(divideRoundingUp(distance, step));
        } else if (!(backward && loop.start == 0) && step24 <= UINT32_MAX &&
                   distance24 > uint64_t(frames) * step24) {
            return BEYOND;  // more than `frames` frames away: no need to divide
        } else {
            uint64_t quotient = divideRoundingUp(distance24, step24);
            if (quotient > UINT32_MAX) return BEYOND;
            count = static_cast<int64_t>(quotient);
        }
    }
    if (backward && loop.start == 0) {
        // The count may run a hair past frame 0, which is no longer inside the data: stop after
        // the last frame that is not before it. The first frame moves the position back by the
        // step (and its bit 0); every later one by the step with bit 0 rounded up to even.
        uint64_t safe = 1;
        uint64_t second = position & ~uint64_t{1};
        if (second >= step) safe = 2 + (second - step) / ((step + 1) & ~uint64_t{1});
        if (static_cast<uint64_t>(count) > safe) count = static_cast<int64_t>(safe);
    }
    return count;
}

// The value of the sample at `position`, interpolated between the two frames around it.
inline double sampleAt(const int16_t* data, uint64_t position) {
    uint32_t i = wholePart(position);
    uint32_t weight = static_cast<uint32_t>(position) >> 1;
    double t = static_cast<double>(weight) * static_cast<double>(INTERPOLATION_SCALE);
    int32_t s0 = data[i];
    int32_t s1 = data[i + 1];
    return s0 + t * (s1 - s0);
}

// Each frame drops bit 0 of the old fraction before the step is added or taken away.
inline uint64_t advance(uint64_t position, uint64_t step, bool backward) {
    position &= ~uint64_t{1};
    return backward ? position - step : position + step;
}

inline void addFrame(float* frame, double value, double gainLeft, double gainRight) {
    frame[0] = static_cast<float>(static_cast<double>(frame[0]) + value * gainLeft);
    frame[1] = static_cast<float>(static_cast<double>(frame[1]) + value * gainRight);
}

// Where `frames` frames take the position, without rendering them (a voice at gain 0 adds nothing,
// but its position must move exactly as if it did).
uint64_t skipFrames(uint64_t position, uint64_t step, bool backward, int32_t frames) {
    if (frames <= 0) return position;
    position = advance(position, step, backward);
    // From here on bit 0 follows the step: an even step leaves it clear, an odd one sets it after
    // every frame, so each later frame moves one unit less forward or one unit more backward.
    uint64_t perFrame = step;
    if (step & 1) perFrame = backward ? step + 1 : step - 1;
    uint64_t rest = uint64_t(frames - 1) * perFrame;
    return backward ? position - rest : position + rest;
}

double gainOfLevel(int32_t level) {
    return static_cast<float>(static_cast<double>(level) * (1.0 / 256.0) *
                              static_cast<double>(GAIN_SCALE));
}

// Continues the running ramp, or starts a new one when the target volumes have changed since; the
// frames the ramp has left, 0 for none.
int32_t decideRamp(Voice* voice, const MixSettings& settings) {
    if (voice->rampRemaining > 0 && voice->volumeLeft == voice->rampTargetLeft &&
        voice->volumeRight == voice->rampTargetRight) {
        return voice->rampRemaining;
    }
    voice->rampTargetLeft = voice->volumeLeft;
    voice->rampTargetRight = voice->volumeRight;
    // Only the integer part of the level counts, so a ramp from a level with a fraction ends a
    // fraction away from its target; the level is set exactly when the ramp ends.
    int32_t deltaLeft = voice->volumeLeft - static_cast<int32_t>(uint32_t(voice->levelLeft) >> 8);
    int32_t deltaRight =
        voice->volumeRight - static_cast<int32_t>(uint32_t(voice->levelRight) >> 8);
    double perFrame = static_cast<double>(GAIN_SCALE);
    voice->rampDeltaLeft = deltaLeft
                               ? static_cast<float>(deltaLeft * perFrame *
                                                    static_cast<double>(settings.inverseRampFrames))
                               : 0.0f;
    voice->rampDeltaRight =
        deltaRight ? static_cast<float>(deltaRight * perFrame *
                                        static_cast<double>(settings.inverseRampFrames))
                   : 0.0f;
    voice->rampRemaining = (deltaLeft || deltaRight) ? settings.rampFrames : 0;
    if (voice->rampRemaining < 0) voice->rampRemaining = 0;
    return voice->rampRemaining;
}

// What a piece reads: the sample's frames and loop, and how to interpolate between the frames.
struct Source {
    const int16_t* data;
    Loop loop;
    uint32_t length;
    Interpolation mode;
};

// Frame k of the sample as a voice standing in frame `at` hears it. Past the loop's end the loop
// goes on (forward again, or mirrored); a voice inside the loop hears the loop's end before its
// start. Frames outside the sample, before a loop is reached or where none is, are silent.
int32_t frameAt(const Source& source, int64_t k, int64_t at) {
    const Loop& loop = source.loop;
    const bool inLoop = loop.mode != LOOP_NONE && at >= loop.start;
    if (loop.mode == LOOP_NONE || (!inLoop && k < loop.start)) {
        return k >= 0 && k < source.length ? source.data[k] : 0;
    }
    if (k >= loop.start && k < loop.end) return source.data[k];
    const int64_t length = loop.end - loop.start;
    const int64_t period = loop.mode == LOOP_PINGPONG ? 2 * length : length;
    int64_t m = (k - loop.start) % period;
    if (m < 0) m += period;
    return source.data[m < length ? loop.start + m : loop.end - 1 - (m - length)];
}

// The first frame and the end of the frames a voice standing in frame `at` reads straight from
// the data (frameAt gives them as they are).
int64_t plainStart(const Source& source, int64_t at) {
    return source.loop.mode != LOOP_NONE && at >= source.loop.start ? source.loop.start : 0;
}
int64_t plainEnd(const Source& source) {
    return source.loop.mode != LOOP_NONE ? source.loop.end : source.length;
}

// Reads the weighted sum of the frames around a position with a row of a tap table.
struct TapSampler {
    const Source* source;
    const TapTable* table;
    int32_t (*tapSum)(const int16_t* row, const int16_t* frames, int32_t taps);  // or null
    double at(uint64_t position) const {
        const TapTable& t = *table;
        const int16_t* row = rowOf(t, position);
        const int64_t i = wholePart(position);
        const int64_t first = i - t.before;
        int32_t sum = 0;
        if (first >= plainStart(*source, i) && first + t.taps <= plainEnd(*source)) {
            const int16_t* frames = source->data + first;
            if (tapSum && t.taps >= 8 && t.taps % 4 == 0) {
                sum = tapSum(row, frames, t.taps);
            } else {
                for (int32_t j = 0; j < t.taps; ++j) sum += row[j] * frames[j];
            }
        } else {
            for (int32_t j = 0; j < t.taps; ++j) sum += row[j] * frameAt(*source, first + j, i);
        }
        return sum * (1.0 / TAP_UNIT);
    }
};

// Reads the held frames around a position, their steps band-limited: frame k sounds from sample
// time k to k + 1, which is (t - k) / step to (t - k - 1) / step output frames before time t, and
// weighs the band-limited step's rise between those moments.
struct AmigaSampler {
    const Source* source;
    const int32_t* steps;  // bandLimitedStep()
    double framesPerStep;  // output frames per sample frame
    int64_t reach;  // sample frames the step reaches on either side (STEP_SPAN / 2 x step), + 2
    static_assert(STEP_SPAN / 2 == 1 << 3, "the reach is the step shifted by 32 - 3");

    AmigaSampler(const Source* from, uint64_t step)
        : source(from),
          steps(bandLimitedStep()),
          // A voice standing still holds its frame: its steps lie infinitely far.
          framesPerStep(step ? 4294967296.0 / static_cast<double>(step) : 4294967296.0),
          reach(static_cast<int64_t>(std::min<uint64_t>(step >> (32 - 3), 512)) + 2) {}

    int32_t stepAt(int64_t framesBefore, uint32_t fraction) const {
        const double u =
            (static_cast<double>(framesBefore) + fraction * (1.0 / 4294967296.0)) * framesPerStep;
        const double index = std::floor((u + STEP_SPAN / 2) * STEP_RESOLUTION + 0.5);
        if (index <= 0.0) return 0;
        if (index >= STEP_SPAN * STEP_RESOLUTION) return STEP_UNIT;
        return steps[static_cast<int32_t>(index)];
    }

    double at(uint64_t position) const {
        const int64_t i = wholePart(position);
        const uint32_t fraction = static_cast<uint32_t>(position) & ~uint32_t{1};
        int64_t sum = 0;
        int32_t rise = stepAt(reach, fraction);
        for (int64_t k = i - reach; k <= i + reach; ++k) {
            const int32_t next = stepAt(i - k - 1, fraction);
            if (rise != next) sum += int64_t{frameAt(*source, k, i)} * (rise - next);
            rise = next;
        }
        return static_cast<double>(sum) * (1.0 / STEP_UNIT);
    }
};

// Reads the linear interpolation between the two frames around a position.
struct LinearSampler {
    const int16_t* data;
    double at(uint64_t position) const { return sampleAt(data, position); }
};

// One frame at the gains of the levels: the odd last frame of a steady piece.
template <typename Sampler>
uint64_t renderLevelFrame(const Voice* voice, const Sampler& data, uint64_t position, uint64_t step,
                          bool backward, float* out) {
    addFrame(out, data.at(position), gainOfLevel(voice->levelLeft), gainOfLevel(voice->levelRight));
    return advance(position, step, backward);
}

// Frames at steady gains. Two frames to an iteration: an odd last frame is rendered with the
// gains of the levels instead, which are the same gains whenever the levels are the volumes.
template <typename Sampler>
uint64_t renderSteady(const Voice* voice, const Sampler& data, uint64_t position, uint64_t step,
                      bool backward, float* out, int32_t frames) {
    double gainLeft = static_cast<float>(voice->volumeLeft) * GAIN_SCALE;
    double gainRight = static_cast<float>(voice->volumeRight) * GAIN_SCALE;
    int32_t paired = frames & ~1;
    if (gainLeft == 0.0 && gainRight == 0.0) {
        position = skipFrames(position, step, backward, paired);
    } else {
        for (int32_t k = 0; k < paired; k += 2) {
            addFrame(out + 2 * k, data.at(position), gainLeft, gainRight);
            position = advance(position, step, backward);
            addFrame(out + 2 * k + 2, data.at(position), gainLeft, gainRight);
            position = advance(position, step, backward);
        }
    }
    if (frames & 1) {
        position = renderLevelFrame(voice, data, position, step, backward, out + 2 * paired);
    }
    return position;
}

// After `frames` frames of a ramp that had `ramp` left: the levels follow the running gains, and
// are set exactly to the targets when the ramp is over.
void finishRamp(Voice* voice, double gainLeft, double gainRight, int32_t frames, int32_t ramp) {
    voice->levelLeft = static_cast<int32_t>(std::nearbyint(gainLeft * 255.0 * 256.0));
    voice->levelRight = static_cast<int32_t>(std::nearbyint(gainRight * 255.0 * 256.0));
    voice->rampRemaining = ramp - frames;
    if (voice->rampRemaining == 0) {
        voice->rampDeltaLeft = 0.0f;
        voice->rampDeltaRight = 0.0f;
        voice->levelLeft = voice->volumeLeft * 256;
        voice->levelRight = voice->volumeRight * 256;
    }
}

// Frames along a ramp of `ramp` frames left: the gains move by the ramp's deltas after every frame,
// unrounded in between, and the levels follow them.
template <typename Sampler>
uint64_t renderRamp(Voice* voice, const Sampler& data, uint64_t position, uint64_t step,
                    bool backward, float* out, int32_t frames, int32_t ramp) {
    double gainLeft = gainOfLevel(voice->levelLeft);
    double gainRight = gainOfLevel(voice->levelRight);
    double deltaLeft = voice->rampDeltaLeft;
    double deltaRight = voice->rampDeltaRight;
    for (int32_t k = 0; k < frames; ++k) {
        addFrame(out + 2 * k, data.at(position), gainLeft, gainRight);
        gainLeft += deltaLeft;
        gainRight += deltaRight;
        position = advance(position, step, backward);
    }
    finishRamp(voice, gainLeft, gainRight, frames, ramp);
    return position;
}

// The vector paths render the same pieces with the kernels of mixer_kernels.h.

struct Stride {
    uint64_t base;
    uint64_t increment;
};

// Frame k of a run from `position` lies at base + k x increment, give or take bit 0, which no frame
// reads. The first frame drops the position's bit 0; every later one drops the bit 0 that the step
// left, so forward a step with bit 0 set moves one unit less and backward one unit more.
Stride strideOf(uint64_t position, uint64_t step, bool backward) {
    Stride stride;
    stride.base = (position & ~uint64_t{1}) | (step & 1);
    stride.increment = backward ? uint64_t{0} - ((step + 1) & ~uint64_t{1}) : step & ~uint64_t{1};
    return stride;
}

// Exponent of the lowest bit a single-precision value can have set.
int lowestBitExponent(double value) {
    uint32_t bits = std::bit_cast<uint32_t>(static_cast<float>(value));
    int exponent = static_cast<int>(bits >> 23 & 0xFF);
    return exponent == 0 ? -149 : exponent - 150;
}

// Whether gain + k x delta is exact in double precision for every k up to `frames`. Then it equals
// the ramp's running sum, which never rounds either, and the frames of a ramp are independent.
// Gain and delta are single-precision values, so every such sum is a multiple of the lower of
// their lowest bits and exact while below 2^53 of those; below 2^52 leaves room for the rounding
// of the estimate. For the ramps notes make this always holds.
bool rampSumsExact(double gain, double delta, int32_t frames) {
    if (delta == 0.0) return true;
    int unit = lowestBitExponent(delta);
    if (gain != 0.0) unit = std::min(unit, lowestBitExponent(gain));
    double largest = std::fabs(gain) + frames * std::fabs(delta);  // a normal number, not 0
    int exponent = static_cast<int>(std::bit_cast<uint64_t>(largest) >> 52) - 1023;  // its ilogb
    return std::isfinite(largest) && exponent < 52 + unit;
}

// A piece without sound: the position moves as rendering would move it, and a ramp runs its
// gains on to the same levels as rendering would. Frame by frame the gains add the deltas up as
// renderRamp does; where every partial sum is exact (rampSumsExact) the sum after the last frame
// is the one product away, as renderRampWith takes it (`exact`: rampExact).
uint64_t skipPiece(Voice* voice, uint64_t position, uint64_t step, bool backward, int32_t frames,
                   int32_t ramp, bool exact) {
    if (ramp > 0) {
        double gainLeft = gainOfLevel(voice->levelLeft);
        double gainRight = gainOfLevel(voice->levelRight);
        const double deltaLeft = voice->rampDeltaLeft;
        const double deltaRight = voice->rampDeltaRight;
        if (exact) {
            gainLeft += frames * deltaLeft;
            gainRight += frames * deltaRight;
        } else {
            for (int32_t k = 0; k < frames; ++k) {
                gainLeft += deltaLeft;
                gainRight += deltaRight;
            }
        }
        finishRamp(voice, gainLeft, gainRight, frames, ramp);
    }
    return skipFrames(position, step, backward, frames);
}

// Whether the voice's ramp sums stay exact on both sides over `frames` frames.
bool rampExact(const Voice* voice, int32_t frames) {
    return rampSumsExact(gainOfLevel(voice->levelLeft), voice->rampDeltaLeft, frames) &&
           rampSumsExact(gainOfLevel(voice->levelRight), voice->rampDeltaRight, frames);
}

uint64_t renderSteadyWith(const MixerKernels* kernels, const Voice* voice, const int16_t* data,
                          uint64_t position, uint64_t step, bool backward, float* out,
                          int32_t frames) {
    double gainLeft = static_cast<float>(voice->volumeLeft) * GAIN_SCALE;
    double gainRight = static_cast<float>(voice->volumeRight) * GAIN_SCALE;
    int32_t paired = frames & ~1;
    if (gainLeft == 0.0 && gainRight == 0.0) {
        position = skipFrames(position, step, backward, paired);
    } else if (paired > 0) {
        Stride stride = strideOf(position, step, backward);
        kernels->steady(
            {data, out, stride.base, stride.increment, paired, gainLeft, gainRight, 0.0, 0.0});
        position = stride.base + uint64_t(paired) * stride.increment;
    }
    if (frames & 1) {
        position = renderLevelFrame(voice, LinearSampler{data}, position, step, backward,
                                    out + 2 * paired);
    }
    return position;
}

// Frames along a ramp whose running sums are all exact (rampExact), by the kernels, the voice
// left as it was; the position after them.
uint64_t kernelRamp(const MixerKernels* kernels, const Voice* voice, const int16_t* data,
                    uint64_t position, uint64_t step, bool backward, float* out, int32_t frames) {
    if (frames <= 0) return position;
    Stride stride = strideOf(position, step, backward);
    kernels->ramp({data, out, stride.base, stride.increment, frames, gainOfLevel(voice->levelLeft),
                   gainOfLevel(voice->levelRight), voice->rampDeltaLeft, voice->rampDeltaRight});
    return stride.base + uint64_t(frames) * stride.increment;
}

uint64_t renderRampWith(const MixerKernels* kernels, Voice* voice, const int16_t* data,
                        uint64_t position, uint64_t step, bool backward, float* out, int32_t frames,
                        int32_t ramp) {
    if (!rampExact(voice, frames)) {
        return renderRamp(voice, LinearSampler{data}, position, step, backward, out, frames, ramp);
    }
    const double gainLeft = gainOfLevel(voice->levelLeft);
    const double gainRight = gainOfLevel(voice->levelRight);
    const double deltaLeft = voice->rampDeltaLeft;
    const double deltaRight = voice->rampDeltaRight;
    position = kernelRamp(kernels, voice, data, position, step, backward, out, frames);
    finishRamp(voice, gainLeft + frames * deltaLeft, gainRight + frames * deltaRight, frames, ramp);
    return position;
}

struct PathChoice {
    MixerPath path;
    const MixerKernels* kernels;  // null for the scalar reference
};

const PathChoice* choiceOf(MixerPath path) {
    static const PathChoice choices[] = {
        {MixerPath::SCALAR, nullptr},
        {MixerPath::SSE2, sse2MixerKernels()},
        {MixerPath::AVX2, processorHasAvx2() ? avx2MixerKernels() : nullptr},
        {MixerPath::AVX512, processorHasAvx512() ? avx512MixerKernels() : nullptr},
    };
    return &choices[static_cast<int>(path)];
}

std::atomic<const PathChoice*> activeChoice{nullptr};

const PathChoice* currentChoice() {
    const PathChoice* choice = activeChoice.load(std::memory_order_acquire);
    if (!choice) {
        // Two threads may get here at once; both store the same choice.
        choice = choiceOf(fastestMixerPath());
        activeChoice.store(choice, std::memory_order_release);
    }
    return choice;
}

// A forward loop: back by the loop length until inside the loop again.
void wrapForward(Voice* voice, uint64_t& position, const Loop& loop) {
    uint32_t whole = wholePart(position);
    uint32_t length = loop.end - loop.start;
    if (whole >= loop.end) {
        whole = loop.start + (whole - loop.start) % length;
    } else if (whole >= length) {
        // The piece stopped a hair short of the loop end; it wraps all the same.
        whole -= length;
    } else {
        // That wrap would land before frame 0 (a loop from frame 0): start the loop over.
        position = fixed(loop.start, 0);
        voice->direction = DIRECTION_FORWARD;
        return;
    }
    position = fixed(whole, static_cast<uint32_t>(position));
}

// A ping-pong loop: mirror the position at the end it has passed, one unit of 2^-32 frame inside,
// and turn round; again at the other end while the image still lies outside.
void reflect(Voice* voice, uint64_t& position, const Loop& loop) {
    const uint64_t start = fixed(loop.start, 0);
    const uint64_t end = fixed(loop.end, 0);
    const uint64_t twoLoops = uint64_t(loop.end - loop.start) << 33;
    bool atEnd = voice->direction != DIRECTION_BACKWARD;
    // Two reflections, one at each end, shift the position by twice the loop. A step many loops
    // long takes all but the last of those pairs at once instead of one by one.
    if (atEnd && position >= end) {
        uint64_t pairs = (position - end) / twoLoops;
        if (pairs >= 2) position -= (pairs - 1) * twoLoops;
    } else if (!atEnd) {
        int64_t past = static_cast<int64_t>(start) - static_cast<int64_t>(position);
        uint64_t pairs = past > 0 ? uint64_t(past) / twoLoops : 0;
        if (pairs >= 2) position += (pairs - 1) * twoLoops;
    }
    for (int reflections = 0;; ++reflections) {
        if (reflections == 8) {  // cannot happen for any position inside a sample
            position = start;
            voice->direction = DIRECTION_FORWARD;
            break;
        }
        if (atEnd) {
            position = (end << 1) - position - 1;
            voice->direction = DIRECTION_BACKWARD;
            if (static_cast<int32_t>(wholePart(position)) >= static_cast<int32_t>(loop.start))
                break;
        } else {
            position = (start << 1) - position - 1;
            voice->direction = DIRECTION_FORWARD;
            if (static_cast<int32_t>(wholePart(position)) < static_cast<int32_t>(loop.end)) break;
        }
        atEnd = !atEnd;
    }
    // A piece that stopped a hair short of frame 0 mirrors to a hair before it.
    if (static_cast<int32_t>(wholePart(position)) < 0) position = start;
}

// A piece read by another interpolation than the linear one.
uint64_t renderInterpolated(const MixerKernels* kernels, Voice* voice, const Source& source,
                            uint64_t position, uint64_t step, bool backward, float* out,
                            int32_t piece, int32_t ramp) {
    if (source.mode == Interpolation::AMIGA) {
        const AmigaSampler sampler(&source, step);
        if (ramp > 0) return renderRamp(voice, sampler, position, step, backward, out, piece, ramp);
        return renderSteady(voice, sampler, position, step, backward, out, piece);
    }
    const TapTable* table = source.mode == Interpolation::NEAREST ? nearestTable()
                            : source.mode == Interpolation::CUBIC ? cubicTable()
                                                                  : sincTable(step);
    const TapSampler sampler{&source, table, kernels ? kernels->tapSum : nullptr};
    if (ramp > 0) return renderRamp(voice, sampler, position, step, backward, out, piece, ramp);
    return renderSteady(voice, sampler, position, step, backward, out, piece);
}

// A piece as the voice stands at its start: rendered into `out`, the voice's ramp moved on.
uint64_t renderPiece(const MixerKernels* kernels, Voice* voice, const Source& source,
                     uint64_t position, uint64_t step, bool backward, float* out, int32_t piece,
                     int32_t ramp) {
    if (source.mode != Interpolation::LINEAR) {
        return renderInterpolated(kernels, voice, source, position, step, backward, out, piece,
                                  ramp);
    }
    const int16_t* data = source.data;
    if (ramp > 0 && kernels) {
        return renderRampWith(kernels, voice, data, position, step, backward, out, piece, ramp);
    }
    if (ramp > 0) {
        return renderRamp(voice, LinearSampler{data}, position, step, backward, out, piece, ramp);
    }
    if (kernels)
        return renderSteadyWith(kernels, voice, data, position, step, backward, out, piece);
    return renderSteady(voice, LinearSampler{data}, position, step, backward, out, piece);
}

// Whether rendering the piece could add anything but zeros: a ramp, a gain, or the odd last frame
// of a steady piece, which takes the gains of the levels.
bool pieceAudible(const Voice* voice, int32_t piece, int32_t ramp) {
    if (piece <= 0) return false;
    if (ramp > 0 || voice->volumeLeft != 0 || voice->volumeRight != 0) return true;
    return (piece & 1) && (voice->levelLeft != 0 || voice->levelRight != 0);
}

void planRun(MixPlan* plan, const Voice* voice, const int16_t* data, uint64_t position,
             uint64_t step, bool backward, int32_t offset, int32_t piece, int32_t ramp,
             bool exact) {
    if (plan->failed) return;
    if (plan->count == plan->capacity) {
        const int32_t capacity = plan->capacity ? plan->capacity * 2 : 64;
        auto* grown = static_cast<PlannedRun*>(realloc(plan->runs, sizeof(PlannedRun) * capacity));
        if (!grown) {
            plan->failed = true;
            return;
        }
        plan->runs = grown;
        plan->capacity = capacity;
    }
    PlannedRun& run = plan->runs[plan->count++];
    run.data = data;
    run.sample = voice->sample;
    run.position = position;
    run.step = step;
    run.offset = offset;
    run.frames = piece;
    run.ramp = ramp;
    run.exactRamp = exact;
    run.backward = backward;
    run.channel = voice->channel;
    run.volumeLeft = voice->volumeLeft;
    run.volumeRight = voice->volumeRight;
    run.levelLeft = voice->levelLeft;
    run.levelRight = voice->levelRight;
    run.rampDeltaLeft = voice->rampDeltaLeft;
    run.rampDeltaRight = voice->rampDeltaRight;
    run.renderedAt = -1;
}

// ---- filtered voices ----
// A voice with its resonant filter on (Impulse Tracker's) is rendered alone into scratch frames,
// passed through the filter, and then added: renderFilteredPiece when mixing, planFilteredRun when
// planning (which renders at once, since the filter carries its last outputs from piece to piece,
// and keeps the frames in the plan). Both filter alike, so a plan adds the same bits as mixing.

// Scratch frames for one piece, per thread; null when memory is short.
float* filterScratch(int32_t piece) {
    thread_local float* frames = nullptr;
    thread_local int32_t capacity = 0;
    if (piece > capacity) {
        auto* grown = static_cast<float*>(realloc(frames, sizeof(float) * 2 * piece));
        if (!grown) return nullptr;
        frames = grown;
        capacity = piece;
    }
    return frames;
}

// Far beyond any mix (the frames count in 16-bit units).
constexpr float FILTER_LIMIT = 1.0e9f;

// y = a x + b y1 + c y2 on each side, in place; the outputs stay within a sane range so that a
// filter driven beyond stability cannot fill the mix with infinities.
void filterFrames(Voice* voice, float* frames, int32_t count) {
    const float a = voice->filterA;
    const float b = voice->filterB;
    const float c = voice->filterC;
    for (int side = 0; side < 2; ++side) {
        float y1 = voice->filterHistory[side][0];
        float y2 = voice->filterHistory[side][1];
        for (int32_t k = 0; k < count; ++k) {
            float y = a * frames[2 * k + side] + b * y1 + c * y2;
            if (!(y > -FILTER_LIMIT && y < FILTER_LIMIT))
                y = y > 0.0f ? FILTER_LIMIT : y < 0.0f ? -FILTER_LIMIT : 0.0f;
            frames[2 * k + side] = y;
            y2 = y1;
            y1 = y;
        }
        voice->filterHistory[side][0] = y1;
        voice->filterHistory[side][1] = y2;
    }
}

// The piece rendered through the filter into `scratch` (2 x piece floats); the position after it.
uint64_t renderThroughFilter(const MixerKernels* kernels, Voice* voice, const Source& source,
                             uint64_t position, uint64_t step, bool backward, float* scratch,
                             int32_t piece, int32_t ramp) {
    memset(scratch, 0, sizeof(float) * 2 * static_cast<size_t>(piece));
    position = renderPiece(kernels, voice, source, position, step, backward, scratch, piece, ramp);
    filterFrames(voice, scratch, piece);
    return position;
}

uint64_t renderFilteredPiece(const MixerKernels* kernels, Voice* voice, const Source& source,
                             uint64_t position, uint64_t step, bool backward, float* out,
                             int32_t piece, int32_t ramp) {
    float* scratch = filterScratch(piece);
    if (!scratch)
        return renderPiece(kernels, voice, source, position, step, backward, out, piece, ramp);
    position =
        renderThroughFilter(kernels, voice, source, position, step, backward, scratch, piece, ramp);
    for (int32_t k = 0; k < 2 * piece; ++k) out[k] += scratch[k];
    return position;
}

uint64_t planFilteredRun(MixPlan* plan, const MixerKernels* kernels, Voice* voice,
                         const Source& source, uint64_t position, uint64_t step, bool backward,
                         int32_t offset, int32_t piece, int32_t ramp) {
    const int32_t need = plan->frameCount + 2 * piece;
    if (need > plan->frameCapacity) {
        const int32_t capacity = need > 2 * plan->frameCapacity ? need : 2 * plan->frameCapacity;
        auto* grown = static_cast<float*>(realloc(plan->frames, sizeof(float) * capacity));
        if (!grown) {
            plan->failed = true;
            return position;
        }
        plan->frames = grown;
        plan->frameCapacity = capacity;
    }
    const int32_t at = plan->frameCount;
    position = renderThroughFilter(kernels, voice, source, position, step, backward,
                                   plan->frames + at, piece, ramp);
    plan->frameCount = need;
    planRun(plan, voice, source.data, position, step, backward, offset, piece, 0, false);
    if (!plan->failed) plan->runs[plan->count - 1].renderedAt = at;
    return position;
}

// mixVoice, planVoice: the voice's frames piece by piece, rendered into `out`, or (with `out`
// null) moved on without sound, the pieces that would sound recorded in `plan` when there is one.
void runVoice(Voice* voice, const MixSettings& settings, float* out, int32_t frameCount,
              MixPlan* plan, int32_t planOffset, Interpolation mode) {
    if (!voice || !voice->sample || frameCount <= 0) return;
    const Sample* sample = voice->sample;
    if (!sample->data || sample->length == 0) {  // nothing to play, ever
        endVoice(voice);
        return;
    }
    const MixerKernels* kernels = currentChoice()->kernels;
    const Loop loop = loopOf(voice);
    const int16_t* data = sample->data;
    const Source source = {data, loop, sample->length, mode};
    const uint64_t step = fixed(static_cast<uint32_t>(voice->step), voice->stepFraction);
    uint64_t position = fixed(voice->position, voice->positionFraction);
    int32_t left = frameCount;
    int emptyPieces = 0;

    while (left > 0) {
        bool backward = voice->direction == DIRECTION_BACKWARD;
        // Moving backward the voice never stands past the loop end; a voice handed a shorter
        // sample could, and is brought back inside.
        if (backward && wholePart(position) > loop.end) position = fixed(loop.end, 0);

        int32_t piece = left;
        bool endsOnBoundary = false;
        int64_t toBoundary = framesToBoundary(position, step, backward, loop, piece);
        if (toBoundary != BEYOND && toBoundary <= piece) {
            piece = static_cast<int32_t>(toBoundary);
            endsOnBoundary = true;
        }
        int32_t ramp = decideRamp(voice, settings);
        if (ramp > 0 && piece > ramp) {
            piece = ramp;
            endsOnBoundary = false;
        }
        if (out) {
            position = voice->filterOn ? renderFilteredPiece(kernels, voice, source, position, step,
                                                             backward, out, piece, ramp)
                                       : renderPiece(kernels, voice, source, position, step,
                                                     backward, out, piece, ramp);
            out += 2 * piece;
        } else if (plan && voice->filterOn) {
            position = planFilteredRun(plan, kernels, voice, source, position, step, backward,
                                       planOffset + frameCount - left, piece, ramp);
        } else {
            const bool exact = ramp > 0 && rampExact(voice, piece);
            if (plan && pieceAudible(voice, piece, ramp)) {
                planRun(plan, voice, data, position, step, backward, planOffset + frameCount - left,
                        piece, ramp, exact);
            }
            position = skipPiece(voice, position, step, backward, piece, ramp, exact);
        }
        left -= piece;

        if (endsOnBoundary && voice->nextSample) {
            // The sample waiting for this boundary goes on from its loop's start, or ends at
            // once without a loop.
            const Sample* next = voice->nextSample;
            voice->nextSample = nullptr;
            voice->sample = next;
            voice->direction = DIRECTION_FORWARD;
            voice->position = next->loopMode != LOOP_NONE ? next->loopStart : next->length;
            voice->positionFraction = 0;
            runVoice(voice, settings, out, left, plan, planOffset + frameCount - left, mode);
            return;
        }
        if (endsOnBoundary) {
            if (loop.mode == LOOP_FORWARD) {
                wrapForward(voice, position, loop);
            } else if (loop.mode == LOOP_PINGPONG) {
                reflect(voice, position, loop);
            } else {
                endVoice(voice);
                return;
            }
        }
        // A voice that keeps meeting its boundary without moving would never finish the run.
        if (piece == 0 && ++emptyPieces > 8) {
            endVoice(voice);
            return;
        }
        if (piece > 0) emptyPieces = 0;
    }
    voice->position = wholePart(position);
    voice->positionFraction = static_cast<uint32_t>(position);
}

}  // namespace

bool mixerPathAvailable(MixerPath path) {
    int number = static_cast<int>(path);
    if (number < 0 || number > static_cast<int>(MixerPath::AVX512)) return false;
    return path == MixerPath::SCALAR || choiceOf(path)->kernels != nullptr;
}

MixerPath fastestMixerPath() {
    if (mixerPathAvailable(MixerPath::AVX512)) return MixerPath::AVX512;
    if (mixerPathAvailable(MixerPath::AVX2)) return MixerPath::AVX2;
    if (mixerPathAvailable(MixerPath::SSE2)) return MixerPath::SSE2;
    return MixerPath::SCALAR;
}

bool setMixerPath(MixerPath path) {
    if (!mixerPathAvailable(path)) return false;
    activeChoice.store(choiceOf(path), std::memory_order_release);
    return true;
}

MixerPath mixerPath() { return currentChoice()->path; }

const char* mixerPathName(MixerPath path) {
    switch (path) {
        case MixerPath::SCALAR: return "scalar";
        case MixerPath::SSE2: return "sse2";
        case MixerPath::AVX2: return "avx2";
        case MixerPath::AVX512: return "avx512";
    }
    return "unknown";
}

MixSettings mixSettingsFor(int32_t rate) {
    MixSettings settings;
    settings.sampleRate = rate;
    settings.blockFrames = (rate / 50 + 3) & ~3;
    settings.bufferFrames = settings.blockFrames * (BUFFER_MILLISECONDS / 20) * 2;
    settings.blockCount = settings.blockFrames ? settings.bufferFrames / settings.blockFrames : 0;
    settings.rampFrames = rate * 128 / 44100;
    settings.inverseRate = rate ? 1.0f / static_cast<float>(rate) : 0.0f;
    settings.inverseRampFrames =
        settings.rampFrames ? 1.0f / static_cast<float>(settings.rampFrames) : 0.0f;
    return settings;
}

void mixVoices(Voice* voices, const MixSettings& settings, float* frames, int32_t frameCount,
               Interpolation mode) {
    if (frameCount <= 0) return;
    for (int v = 0; v < MIXED_VOICE_COUNT; ++v) {
        if (voices[v].sample) mixVoice(&voices[v], settings, frames, frameCount, mode);
    }
}

void mixVoice(Voice* voice, const MixSettings& settings, float* frames, int32_t frameCount,
              Interpolation mode) {
    runVoice(voice, settings, frames, frameCount, nullptr, 0, mode);
}

void planVoice(Voice* voice, const MixSettings& settings, int32_t offset, int32_t frameCount,
               MixPlan* plan) {
    runVoice(voice, settings, nullptr, frameCount, plan, offset, Interpolation::LINEAR);
}

void releaseMixPlan(MixPlan* plan) {
    free(plan->runs);
    free(plan->frames);
    *plan = MixPlan{};
}

void renderPlannedRun(const PlannedRun& run, const MixPlan& plan, float* block,
                      Interpolation mode) {
    if (run.renderedAt >= 0) {
        const float* frames = plan.frames + run.renderedAt;
        float* out = block + 2 * run.offset;
        for (int32_t k = 0; k < 2 * run.frames; ++k) out[k] += frames[k];
        return;
    }
    Voice voice = {};
    voice.volumeLeft = run.volumeLeft;
    voice.volumeRight = run.volumeRight;
    voice.levelLeft = run.levelLeft;
    voice.levelRight = run.levelRight;
    voice.rampDeltaLeft = run.rampDeltaLeft;
    voice.rampDeltaRight = run.rampDeltaRight;
    const MixerKernels* kernels = currentChoice()->kernels;
    float* out = block + 2 * run.offset;
    // An exact ramp needs no second look, and its levels after it are not wanted.
    Voice looped = {};
    looped.sample = run.sample;
    const Source source = {run.data, loopOf(&looped), run.sample->length, mode};
    if (mode == Interpolation::LINEAR && run.ramp > 0 && run.exactRamp && kernels) {
        kernelRamp(kernels, &voice, run.data, run.position, run.step, run.backward, out,
                   run.frames);
        return;
    }
    renderPiece(kernels, &voice, source, run.position, run.step, run.backward, out, run.frames,
                run.ramp);
}
