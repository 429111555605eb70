#include "audio/mixer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>
#include <vector>

#include "audio/scheduler.h"

namespace {

constexpr double UNIT = 4294967296.0;  // 2^32: one frame in units of the position fraction
constexpr int FENCE = 8;
constexpr int16_t FENCE_VALUE = 30000;

// Sample data laid out as the loader leaves it: `length` frames, the loop-end partner frame, zero
// guard frames to length + 8. A fence of loud frames lies just before frame 0, so that a read
// before the data shows in the mix (and the buffer is allocated to the exact size, so a read past
// the guard frames trips the address sanitizer).
struct TestSample {
    std::unique_ptr<int16_t[]> storage;
    Sample sample{};
};

std::unique_ptr<TestSample> makeSample(const std::vector<int16_t>& frames, uint8_t loopMode,
                                       uint32_t loopStart = 0, uint32_t loopLength = 0) {
    auto t = std::make_unique<TestSample>();
    uint32_t length = static_cast<uint32_t>(frames.size());
    t->storage = std::make_unique<int16_t[]>(FENCE + length + 8);
    for (int k = 0; k < FENCE; ++k) t->storage[k] = FENCE_VALUE;
    int16_t* data = t->storage.get() + FENCE;
    for (uint32_t k = 0; k < length; ++k) data[k] = frames[k];
    if (loopMode == LOOP_NONE) {
        loopStart = 0;
        loopLength = length;
    }
    uint32_t loopEnd = loopStart + loopLength;
    if (loopMode == LOOP_FORWARD) data[loopEnd] = data[loopStart];
    if (loopMode == LOOP_PINGPONG) data[loopEnd] = data[loopEnd - 1];
    t->sample.data = data;
    t->sample.length = length;
    t->sample.loopStart = loopStart;
    t->sample.loopLength = loopLength;
    t->sample.loopMode = loopMode;
    t->sample.bits = 16;
    return t;
}

std::vector<int16_t> ramp(int count, int scale) {  // frame k holds k x scale
    std::vector<int16_t> frames(count);
    for (int k = 0; k < count; ++k) frames[k] = static_cast<int16_t>(k * scale);
    return frames;
}

void setPosition(Voice& v, double frames) {
    v.position = static_cast<uint32_t>(std::floor(frames));
    v.positionFraction = static_cast<uint32_t>((frames - std::floor(frames)) * UNIT);
}

void setStep(Voice& v, double frames) {
    v.step = static_cast<int32_t>(std::floor(frames));
    v.stepFraction = static_cast<uint32_t>((frames - std::floor(frames)) * UNIT);
}

// A voice at steady gains: the levels already equal the volumes, so no ramp starts.
Voice steadyVoice(const Sample* sample, double position, double step, int32_t volumeLeft,
                  int32_t volumeRight) {
    Voice v{};
    v.sample = sample;
    setPosition(v, position);
    setStep(v, step);
    v.direction = DIRECTION_FORWARD;
    v.volumeLeft = v.rampTargetLeft = volumeLeft;
    v.volumeRight = v.rampTargetRight = volumeRight;
    v.levelLeft = volumeLeft * 256;
    v.levelRight = volumeRight * 256;
    return v;
}

// The value of one rendered frame: linear interpolation with the 31-bit weight, in double.
double interpolated(int s0, int s1, uint32_t fraction) {
    double t = static_cast<double>(fraction >> 1) * static_cast<double>(INTERPOLATION_SCALE);
    return s0 + t * (s1 - s0);
}

float steadyGain(int32_t volume) { return static_cast<float>(volume) * GAIN_SCALE; }

float added(double value, double gain) { return static_cast<float>(0.0 + value * gain); }

class MixerTest : public ::testing::Test {
  protected:
    void SetUp() override { prepareMixSettings(44100); }
    std::vector<float> mix(Voice& v, int frames) {
        std::vector<float> out(2 * frames, 0.0f);
        mixVoice(&v, defaultAudioEngine()->settings, out.data(), frames);
        return out;
    }
};

TEST(MixerConstants, HaveTheirBitPatterns) {
    EXPECT_EQ(std::bit_cast<uint32_t>(GAIN_SCALE), 0x3B808080u);
    EXPECT_EQ(std::bit_cast<uint32_t>(INTERPOLATION_SCALE), 0x2FFFF910u);
    EXPECT_NEAR(GAIN_SCALE, 1.0 / 255, 1e-9);
    EXPECT_LT(GAIN_SCALE, 1.0f / 255.0f);
}

Voice noteStart(const Sample* sample, int32_t volumeLeft) {
    Voice v = steadyVoice(sample, 0, 1.0, volumeLeft, 0);
    v.levelLeft = v.levelRight = 0;
    v.rampTargetLeft = v.rampTargetRight = 0;
    return v;
}

TEST_F(MixerTest, ANoteFadesInFromSilenceOverTheRampFrames) {
    auto s = makeSample(std::vector<int16_t>(64, 1000), LOOP_FORWARD, 0, 64);
    Voice v = noteStart(&s->sample, 100);
    std::vector<float> out = mix(v, 200);
    double perFrame = static_cast<float>(100.0 * GAIN_SCALE * 0.0078125);
    for (int k = 0; k < 128; ++k) {
        ASSERT_EQ(out[2 * k], added(1000, k * perFrame)) << "frame " << k;
        ASSERT_EQ(out[2 * k + 1], 0.0f);
    }
    EXPECT_EQ(out[0], 0.0f);
    for (int k = 128; k < 200; ++k) ASSERT_EQ(out[2 * k], added(1000, steadyGain(100))) << k;
    EXPECT_NEAR(out[2 * 150], 392.1568, 1e-3);  // 1000 x 100/255
    EXPECT_EQ(v.levelLeft, 25600);
    EXPECT_EQ(v.levelRight, 0);
    EXPECT_EQ(v.rampRemaining, 0);
    EXPECT_EQ(v.rampDeltaLeft, 0.0f);
}

TEST_F(MixerTest, ARampGoesOnInTheNextRunFromTheStoredLevel) {
    auto s = makeSample(std::vector<int16_t>(64, 1000), LOOP_FORWARD, 0, 64);
    Voice v = noteStart(&s->sample, 100);
    mix(v, 50);
    // 50 x single(100 G / 128) x 255 x 256 = 9999.9995...: the level is 10000.
    EXPECT_EQ(v.levelLeft, 10000);
    EXPECT_EQ(v.rampRemaining, 78);
    std::vector<float> out = mix(v, 100);
    double perFrame = static_cast<float>(100.0 * GAIN_SCALE * 0.0078125);
    double resumed = static_cast<float>(10000 / 256.0 * GAIN_SCALE);
    EXPECT_EQ(out[0], added(1000, resumed));
    EXPECT_EQ(out[2 * 77], added(1000, resumed + 77 * perFrame));
    EXPECT_EQ(out[2 * 78], added(1000, steadyGain(100)));  // the ramp ended after 128 frames
    EXPECT_EQ(v.levelLeft, 25600);
}

TEST_F(MixerTest, AChangedTargetRestartsTheRampFromTheCurrentLevel) {
    auto s = makeSample(std::vector<int16_t>(64, 1000), LOOP_FORWARD, 0, 64);
    Voice v = noteStart(&s->sample, 100);
    mix(v, 64);  // half way up: the gain is 100/255 / 2, the level 12800
    EXPECT_EQ(v.levelLeft, 12800);
    EXPECT_EQ(v.rampRemaining, 64);
    v.volumeLeft = 0;
    std::vector<float> out = mix(v, 200);
    double down = static_cast<float>(-50.0 * GAIN_SCALE * 0.0078125);
    double start = static_cast<float>(12800 / 256.0 * GAIN_SCALE);
    EXPECT_EQ(out[0], added(1000, start));
    EXPECT_EQ(out[2 * 10], added(1000, start + 10 * down));
    EXPECT_EQ(out[2 * 128], 0.0f);  // a full new ramp of 128 frames down to silence
    EXPECT_EQ(v.levelLeft, 0);
}

TEST_F(MixerTest, ForwardLoopWrapsAfterTheFrameThatReachesItsEnd) {
    // Loop 100..149; frame 150 holds the copy of frame 100.
    auto s = makeSample(ramp(150, 10), LOOP_FORWARD, 100, 50);
    Voice v = steadyVoice(&s->sample, 149.75, 0.5, 255, 255);
    std::vector<float> out = mix(v, 3);
    float g = steadyGain(255);
    EXPECT_EQ(out[0], added(interpolated(1490, 1000, 0xC0000000u), g));
    EXPECT_EQ(out[1], out[0]);
    EXPECT_EQ(out[2], added(interpolated(1000, 1010, 0x40000000u), g));  // at 100.25
    EXPECT_EQ(out[4], added(interpolated(1000, 1010, 0xC0000000u), g));  // at 100.75
    EXPECT_EQ(v.position, 101u);
    EXPECT_EQ(v.positionFraction, 0x40000000u);
    EXPECT_EQ(v.direction, DIRECTION_FORWARD);
}

TEST_F(MixerTest, PingPongLoopMirrorsAtTheEndOneUnitInside) {
    auto s = makeSample(ramp(150, 10), LOOP_PINGPONG, 100, 50);
    Voice v = steadyVoice(&s->sample, 149.75, 0.5, 255, 255);
    mix(v, 1);
    // 150.25 mirrored at 150 is 149.75, less 2^-32.
    EXPECT_EQ(v.position, 149u);
    EXPECT_EQ(v.positionFraction, 0xBFFFFFFFu);
    EXPECT_EQ(v.direction, DIRECTION_BACKWARD);
}

TEST_F(MixerTest, PingPongBackwardMirrorsAtTheLoopStart) {
    auto s = makeSample(ramp(150, 10), LOOP_PINGPONG, 100, 50);
    Voice v = steadyVoice(&s->sample, 100.25, 0.5, 255, 255);
    v.direction = DIRECTION_BACKWARD;
    std::vector<float> out = mix(v, 1);
    EXPECT_EQ(out[0], added(interpolated(1000, 1010, 0x40000000u), steadyGain(255)));
    // 99.75 mirrored at 100 is 100.25, less 2^-32.
    EXPECT_EQ(v.position, 100u);
    EXPECT_EQ(v.positionFraction, 0x3FFFFFFFu);
    EXPECT_EQ(v.direction, DIRECTION_FORWARD);
}

TEST_F(MixerTest, ExactDistanceEndsThePieceOnTheLoopEnd) {
    auto s = makeSample(ramp(150, 10), LOOP_FORWARD, 100, 50);
    Voice v = steadyVoice(&s->sample, 149.0, 0.25, 255, 0);
    std::vector<float> out = mix(v, 4);
    float g = steadyGain(255);
    EXPECT_EQ(out[0], added(1490, g));
    EXPECT_EQ(out[2], added(interpolated(1490, 1000, 0x40000000u), g));
    EXPECT_EQ(out[4], added(interpolated(1490, 1000, 0x80000000u), g));
    EXPECT_EQ(out[6], added(interpolated(1490, 1000, 0xC0000000u), g));
    EXPECT_EQ(v.position, 100u);  // exactly 150.0, wrapped
    EXPECT_EQ(v.positionFraction, 0u);
}

TEST_F(MixerTest, AStepLongerThanTheLoopWrapsAsOftenAsNeeded) {
    auto forward = makeSample(ramp(110, 10), LOOP_FORWARD, 100, 10);
    Voice v = steadyVoice(&forward->sample, 105, 25, 255, 255);
    mix(v, 1);
    EXPECT_EQ(v.position, 100u);  // 130 -> 120 -> 110 -> 100
    EXPECT_EQ(v.positionFraction, 0u);

    auto pingPong = makeSample(ramp(110, 10), LOOP_PINGPONG, 100, 10);
    Voice p = steadyVoice(&pingPong->sample, 105, 25, 255, 255);
    mix(p, 1);
    // 130 mirrors at 110 to 90 - u (backward), that at 100 to 110 exactly (forward), and that at
    // 110 to 110 - u, moving backward.
    EXPECT_EQ(p.position, 109u);
    EXPECT_EQ(p.positionFraction, 0xFFFFFFFFu);
    EXPECT_EQ(p.direction, DIRECTION_BACKWARD);
}

TEST_F(MixerTest, StepsOfHundredsOfFramesStillMeetTheLoopEnd) {
    // Loop over frames 0..999, frame k holding k. Steps of 256 frames or more do not fit the
    // 32-bit step of the boundary search; they must still wrap at the loop end.
    std::vector<int16_t> frames(1000);
    for (int k = 0; k < 1000; ++k) frames[k] = static_cast<int16_t>(k);
    auto s = makeSample(frames, LOOP_FORWARD, 0, 1000);
    Voice v = steadyVoice(&s->sample, 0, 300, 255, 255);
    std::vector<float> out = mix(v, 8);
    const int expected[8] = {0, 300, 600, 900, 200, 500, 800, 100};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(out[2 * k], added(expected[k], steadyGain(255))) << k;
    EXPECT_EQ(v.position, 400u);

    auto p = makeSample(frames, LOOP_PINGPONG, 0, 1000);
    Voice w = steadyVoice(&p->sample, 0, 700, 255, 255);
    out = mix(w, 3);
    // 0, 700, then 1400 mirrors to 600 - u (backward); after that frame, 600 - u - 700 mirrors at
    // frame 0 to 100 + u, forward.
    EXPECT_EQ(out[4], added(interpolated(599, 600, 0xFFFFFFFFu), steadyGain(255)));
    EXPECT_EQ(w.direction, DIRECTION_FORWARD);
    EXPECT_EQ(w.position, 100u);
}

TEST_F(MixerTest, ASampleWithoutLoopReadsTheGuardFrameThenEnds) {
    auto s = makeSample({100, 200, 300, 400}, LOOP_NONE);
    Voice v = steadyVoice(&s->sample, 2.0, 0.5, 255, 255);
    std::vector<float> out = mix(v, 6);
    float g = steadyGain(255);
    EXPECT_EQ(out[0], added(300, g));
    EXPECT_EQ(out[2], added(interpolated(300, 400, 0x80000000u), g));
    EXPECT_EQ(out[4], added(400, g));
    EXPECT_EQ(out[6], added(interpolated(400, 0, 0x80000000u), g));  // the zero guard frame
    EXPECT_EQ(out[8], 0.0f);
    EXPECT_EQ(out[10], 0.0f);
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(v.position, 0u);
    EXPECT_EQ(v.positionFraction, 0u);
    std::vector<float> later = mix(v, 4);
    EXPECT_EQ(later, std::vector<float>(8, 0.0f));
}

TEST_F(MixerTest, ConstantModeRendersAnOddLastFrameWithTheLevelGains) {
    auto s = makeSample(std::vector<int16_t>(64, 1000), LOOP_FORWARD, 0, 64);
    Voice v = steadyVoice(&s->sample, 0, 1.0, 100, 100);
    v.levelLeft = 100 * 256 + 128;  // a fraction left over from an interrupted ramp
    std::vector<float> out = mix(v, 3);
    EXPECT_EQ(out[0], added(1000, steadyGain(100)));
    EXPECT_EQ(out[2], added(1000, steadyGain(100)));
    EXPECT_EQ(out[4], added(1000, static_cast<float>(100.5 * GAIN_SCALE)));
    EXPECT_EQ(out[5], added(1000, steadyGain(100)));
    EXPECT_EQ(v.levelLeft, 100 * 256 + 128);
    EXPECT_EQ(v.rampRemaining, 0);
}

TEST_F(MixerTest, AddsToWhatTheBufferHolds) {
    auto s = makeSample(std::vector<int16_t>(64, 1000), LOOP_FORWARD, 0, 64);
    Voice v = steadyVoice(&s->sample, 0, 1.0, 255, 0);
    std::vector<float> out{0.25f, -7.0f};
    mixVoice(&v, defaultAudioEngine()->settings, out.data(), 1);
    EXPECT_EQ(out[0], static_cast<float>(0.25 + 1000.0 * steadyGain(255)));
    EXPECT_EQ(out[1], -7.0f);
}

TEST_F(MixerTest, AVoiceAtGainZeroMovesExactlyAsAnAudibleOne) {
    // An odd step fraction makes the dropped bit 0 matter on every frame.
    auto s = makeSample(ramp(500, 1), LOOP_PINGPONG, 100, 300);
    for (int32_t direction : {DIRECTION_FORWARD, DIRECTION_BACKWARD}) {
        Voice loud = steadyVoice(&s->sample, 250.3, 1.37, 200, 100);
        loud.stepFraction |= 1;
        loud.direction = direction;
        Voice quiet = loud;
        quiet.volumeLeft = quiet.volumeRight = quiet.rampTargetLeft = quiet.rampTargetRight = 0;
        quiet.levelLeft = quiet.levelRight = 0;
        for (int run : {1, 2, 77, 883, 884}) {
            mix(loud, run);
            std::vector<float> silent = mix(quiet, run);
            EXPECT_EQ(silent, std::vector<float>(2 * run, 0.0f));
            ASSERT_EQ(quiet.position, loud.position) << run;
            ASSERT_EQ(quiet.positionFraction, loud.positionFraction) << run;
            ASSERT_EQ(quiet.direction, loud.direction) << run;
        }
    }
}

TEST_F(MixerTest, NeverReadsBeforeFrameZeroMovingBackward) {
    // Ping-pong from frame 0. A step of 511 units of 2^-32 frame, 1000 units above frame 0: the
    // boundary search in 2^-24 frame would let the third frame fall before frame 0.
    auto s = makeSample(std::vector<int16_t>(10, 5000), LOOP_PINGPONG, 0, 10);
    Voice v = steadyVoice(&s->sample, 0, 0, 255, 255);
    v.positionFraction = 1000;
    v.stepFraction = 511;
    v.direction = DIRECTION_BACKWARD;
    std::vector<float> out = mix(v, 6);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(out[2 * k], added(5000, steadyGain(255))) << k;
    EXPECT_EQ(v.direction, DIRECTION_FORWARD);
    EXPECT_EQ(v.position, 0u);
}

TEST_F(MixerTest, ABackwardVoiceNearFrameZeroPlaysEveryFrameInsideTheData) {
    // Ping-pong from frame 0, moving back by half a frame from 500 frames and 256 units: counted
    // in 2^-24 frame the start lies 1000 steps and a bit away, so 1001 frames reach it. The last
    // of them, 256 units above frame 0, is still inside the data and must be played; after it
    // the position, 256 - 2^31 units, mirrors at frame 0 to 2^31 - 257 units, moving forward.
    auto s = makeSample(ramp(600, 10), LOOP_PINGPONG, 0, 600);
    Voice v = steadyVoice(&s->sample, 500, 0.5, 255, 255);
    v.positionFraction = 256;
    v.direction = DIRECTION_BACKWARD;
    std::vector<float> out = mix(v, 1001);
    float g = steadyGain(255);
    EXPECT_EQ(out[2 * 999], added(interpolated(0, 10, 0x80000100u), g));
    EXPECT_EQ(out[2 * 1000], added(interpolated(0, 10, 256), g));
    EXPECT_EQ(v.direction, DIRECTION_FORWARD);
    EXPECT_EQ(v.position, 0u);
    EXPECT_EQ(v.positionFraction, 0x7FFFFEFFu);
}

TEST_F(MixerTest, ABackwardVoiceLandingOnFrameZeroTurnsThere) {
    // Ping-pong from frame 0, reached exactly: its mirror image, one unit inside, would be one
    // unit before the data. The voice turns at frame 0 itself.
    auto s = makeSample(ramp(10, 100), LOOP_PINGPONG, 0, 10);
    Voice v = steadyVoice(&s->sample, 1.0, 0.5, 255, 255);
    v.direction = DIRECTION_BACKWARD;
    std::vector<float> out = mix(v, 4);
    float g = steadyGain(255);
    EXPECT_EQ(out[0], added(100, g));
    EXPECT_EQ(out[2], added(interpolated(0, 100, 0x80000000u), g));
    EXPECT_EQ(out[4], added(0, g));
    EXPECT_EQ(out[6], added(interpolated(0, 100, 0x80000000u), g));
    EXPECT_EQ(v.direction, DIRECTION_FORWARD);
    EXPECT_EQ(v.position, 1u);
    EXPECT_EQ(v.positionFraction, 0u);
}

TEST_F(MixerTest, NeverWrapsBeforeFrameZeroFromJustShortOfTheLoopEnd) {
    // 100 units short of the end of a loop from frame 0: too close to count in 2^-24 frame, so
    // the voice wraps at once. One loop length back would be a hair before frame 0; it starts the
    // loop over at frame 0 instead.
    auto s = makeSample(ramp(10, 100), LOOP_FORWARD, 0, 10);
    Voice v = steadyVoice(&s->sample, 9, 0.5, 255, 255);
    v.positionFraction = 0xFFFFFF9Cu;
    std::vector<float> out = mix(v, 4);
    float g = steadyGain(255);
    EXPECT_EQ(out[0], added(0, g));
    EXPECT_EQ(out[2], added(interpolated(0, 100, 0x80000000u), g));
    EXPECT_EQ(out[4], added(100, g));
    EXPECT_EQ(out[6], added(interpolated(100, 200, 0x80000000u), g));
    EXPECT_EQ(v.position, 2u);
    EXPECT_EQ(v.positionFraction, 0u);
}

TEST_F(MixerTest, ASampleWithoutDataEndsTheVoiceAtOnce) {
    Voice v = steadyVoice(&emptySample, 0, 1.0, 255, 255);
    std::vector<float> out = mix(v, 16);
    EXPECT_EQ(out, std::vector<float>(32, 0.0f));
    EXPECT_EQ(v.sample, nullptr);
    mixVoice(nullptr, defaultAudioEngine()->settings, out.data(),
             16);  // a null voice is nothing to mix
}

TEST_F(MixerTest, MixVoicesAddsTheMixedVoicesAndNoneForNoFrames) {
    auto s = makeSample(std::vector<int16_t>(64, 1000), LOOP_FORWARD, 0, 64);
    Voice* voices = defaultAudioEngine()->voices;
    voices[0] = steadyVoice(&s->sample, 0, 1.0, 255, 0);
    voices[MIXED_VOICE_COUNT - 1] = steadyVoice(&s->sample, 0, 1.0, 0, 255);
    voices[MIXED_VOICE_COUNT] = steadyVoice(&s->sample, 0, 1.0, 255, 255);  // never mixed
    std::vector<float> out(8, 3.0f);
    mixVoices(defaultAudioEngine()->voices, defaultAudioEngine()->settings, out.data(), 0);
    mixVoices(defaultAudioEngine()->voices, defaultAudioEngine()->settings, out.data(), -1);
    EXPECT_EQ(out, std::vector<float>(8, 3.0f));
    EXPECT_EQ(defaultAudioEngine()->voices[0].position, 0u);
    mixVoices(defaultAudioEngine()->voices, defaultAudioEngine()->settings, out.data(), 4);
    EXPECT_EQ(out[0], static_cast<float>(3.0 + 1000.0 * steadyGain(255)));
    EXPECT_EQ(out[1], out[0]);
    EXPECT_EQ(defaultAudioEngine()->voices[0].position, 4u);
    EXPECT_EQ(defaultAudioEngine()->voices[MIXED_VOICE_COUNT].position, 0u);
    prepareMixSettings(44100);
}

}  // namespace
