// Every vector path of the mixer against the scalar reference: random voices (steps below 1,
// above 1, beyond the loop, hundreds of frames; every loop mode; both directions; ramps starting,
// running and ending; gains of 0 and above 1) over random buffers and odd frame counts must leave
// the same bits in the buffer and in the voice. A whole song rendered with each path forced must
// give the same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/mixer.h"
#include "audio/scheduler.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

namespace {

const MixerPath VECTOR_PATHS[] = {MixerPath::SSE2, MixerPath::AVX2, MixerPath::AVX512};

// Puts the fastest path back after each test, whatever the test forced.
class MixerPaths : public ::testing::Test {
  protected:
    void TearDown() override { setMixerPath(fastestMixerPath()); }
};

// Sample data as the loader lays it out: the frames, the loop-end partner, eight zero guard
// frames; allocated to the exact size so that the address sanitizer sees any read past them.
struct RandomSample {
    std::unique_ptr<int16_t[]> storage;
    Sample sample{};
};

std::unique_ptr<RandomSample> randomSample(std::mt19937& rng) {
    auto s = std::make_unique<RandomSample>();
    uint32_t length = std::uniform_int_distribution<uint32_t>(1, 3000)(rng);
    s->storage = std::make_unique<int16_t[]>(length + 8);
    int16_t* data = s->storage.get();
    std::uniform_int_distribution<int> value(-32768, 32767);
    for (uint32_t k = 0; k < length; ++k) data[k] = static_cast<int16_t>(value(rng));
    const uint8_t modes[] = {LOOP_NONE, LOOP_FORWARD, LOOP_PINGPONG, LOOP_FORWARD | LOOP_PINGPONG};
    uint8_t mode = modes[rng() % 4];
    uint32_t loopStart = 0, loopLength = length;
    if (mode != LOOP_NONE) {
        loopStart = std::uniform_int_distribution<uint32_t>(0, length - 1)(rng);
        loopLength = std::uniform_int_distribution<uint32_t>(1, length - loopStart)(rng);
        if (rng() % 4 == 0) loopLength = std::min<uint32_t>(loopLength, 1 + rng() % 4);  // tiny
    }
    uint32_t loopEnd = loopStart + loopLength;
    if (loopEnd < length) {
        data[loopEnd] = (mode & LOOP_FORWARD) ? data[loopStart] : data[loopEnd - 1];
        if (mode == LOOP_NONE) data[loopEnd] = 0;
    }
    s->sample.data = data;
    s->sample.length = length;
    s->sample.loopStart = loopStart;
    s->sample.loopLength = loopLength;
    s->sample.loopMode = mode;
    s->sample.bits = 16;
    return s;
}

int32_t randomVolume(std::mt19937& rng) {
    switch (rng() % 5) {
        case 0: return 0;
        case 1: return std::uniform_int_distribution<int32_t>(256, 1000)(rng);  // gains above 1
        default: return std::uniform_int_distribution<int32_t>(0, 255)(rng);
    }
}

Voice randomVoice(std::mt19937& rng, Sample* sample) {
    Voice v{};
    v.sample = sample;
    uint32_t loopEnd = sample->loopStart + sample->loopLength;
    switch (rng() % 4) {
        case 0:  // near the end
            v.position = loopEnd - 1 - rng() % std::min<uint32_t>(loopEnd, 3);
            break;
        case 1: v.position = sample->loopStart + rng() % 2; break;  // near the start
        default: v.position = rng() % sample->length;
    }
    v.positionFraction = rng();
    v.stepFraction = rng();
    switch (rng() % 6) {
        case 0: v.step = 0; break;  // below 1
        case 1: v.step = 0, v.stepFraction >>= 24; break;  // far below 1
        case 2:  // beyond the loop
            v.step = static_cast<int32_t>(sample->loopLength + rng() % 3);
            break;
        case 3: v.step = static_cast<int32_t>(100 + rng() % 600); break;  // hundreds of frames
        case 4: v.stepFraction &= ~1u, v.step = static_cast<int32_t>(1 + rng() % 3); break;  // even
        default: v.step = static_cast<int32_t>(1 + rng() % 4);
    }
    v.direction = rng() % 2 ? DIRECTION_FORWARD : DIRECTION_BACKWARD;
    v.volumeLeft = randomVolume(rng);
    v.volumeRight = randomVolume(rng);
    switch (rng() % 4) {
        case 0:  // steady: the levels are the volumes
            v.levelLeft = v.volumeLeft * 256;
            v.levelRight = v.volumeRight * 256;
            v.rampTargetLeft = v.volumeLeft;
            v.rampTargetRight = v.volumeRight;
            break;
        case 1: {  // a ramp under way toward the volumes
            v.rampTargetLeft = v.volumeLeft;
            v.rampTargetRight = v.volumeRight;
            v.levelLeft = std::uniform_int_distribution<int32_t>(0, 300 * 256)(rng);
            v.levelRight = std::uniform_int_distribution<int32_t>(0, 300 * 256)(rng);
            v.rampRemaining = std::uniform_int_distribution<int32_t>(
                1, defaultAudioEngine()->settings.rampFrames)(rng);
            double perFrame =
                static_cast<double>(GAIN_SCALE) * defaultAudioEngine()->settings.inverseRampFrames;
            v.rampDeltaLeft = static_cast<float>((v.volumeLeft - (v.levelLeft >> 8)) * perFrame);
            v.rampDeltaRight = static_cast<float>((v.volumeRight - (v.levelRight >> 8)) * perFrame);
            break;
        }
        case 2:  // levels far above anything a note reaches: the ramp's sums round
            v.levelLeft = std::uniform_int_distribution<int32_t>(1 << 24, 1 << 30)(rng);
            v.levelRight = std::uniform_int_distribution<int32_t>(0, 255 * 256)(rng);
            break;
        default:  // a new target: a ramp starts from wherever the levels are
            v.levelLeft = std::uniform_int_distribution<int32_t>(0, 255 * 256)(rng);
            v.levelRight = std::uniform_int_distribution<int32_t>(0, 255 * 256)(rng);
    }
    return v;
}

std::vector<float> randomBuffer(std::mt19937& rng, int frames) {
    std::vector<float> buffer(2 * static_cast<size_t>(frames));
    std::uniform_real_distribution<float> value(-40000.0f, 40000.0f);
    for (float& x : buffer) x = rng() % 8 == 0 ? 0.0f : value(rng);
    return buffer;
}

// The fields the mixer reads or writes, by name, so that a difference says where it is.
std::string describe(const Voice& v) {
    char text[400];
    snprintf(text, sizeof text,
             "sample %p position %u:%u direction %d levels %d %d targets %d %d deltas %a %a "
             "ramp %d",
             static_cast<const void*>(v.sample), v.position, v.positionFraction, v.direction,
             v.levelLeft, v.levelRight, v.rampTargetLeft, v.rampTargetRight,
             static_cast<double>(v.rampDeltaLeft), static_cast<double>(v.rampDeltaRight),
             v.rampRemaining);
    return text;
}

// Mixes `runs` runs of random length into copies of the buffer, once on the scalar path and once
// on `path`, changing the volumes between runs now and then as the player does.
void compareOnce(std::mt19937& rng, MixerPath path, int caseNumber,
                 Interpolation mode = Interpolation::LINEAR) {
    auto s = randomSample(rng);
    Voice reference = randomVoice(rng, &s->sample);
    Voice tested = reference;
    const int frames = 1 + static_cast<int>(rng() % 1500);
    std::vector<float> expected = randomBuffer(rng, frames);
    std::vector<float> actual = expected;
    int done = 0;
    for (int run = 0; run < 4 && done < frames; ++run) {
        int count = run == 3 ? frames - done : 1 + static_cast<int>(rng() % (frames - done));
        if (rng() % 3 == 0) {
            int32_t left = randomVolume(rng), right = randomVolume(rng);
            reference.volumeLeft = tested.volumeLeft = left;
            reference.volumeRight = tested.volumeRight = right;
        }
        std::string before =
            describe(reference) + " step " + std::to_string(reference.step) + ":" +
            std::to_string(reference.stepFraction) + " volumes " +
            std::to_string(reference.volumeLeft) + " " + std::to_string(reference.volumeRight) +
            " loop " + std::to_string(s->sample.loopStart) + "+" +
            std::to_string(s->sample.loopLength) + " mode " + std::to_string(s->sample.loopMode) +
            " length " + std::to_string(s->sample.length);
        ASSERT_TRUE(setMixerPath(MixerPath::SCALAR));
        mixVoice(&reference, defaultAudioEngine()->settings, expected.data() + 2 * done, count,
                 mode);
        ASSERT_TRUE(setMixerPath(path));
        mixVoice(&tested, defaultAudioEngine()->settings, actual.data() + 2 * done, count, mode);
        ASSERT_EQ(describe(tested), describe(reference))
            << mixerPathName(path) << ", case " << caseNumber << ", run " << run;
        size_t first = 0;
        while (first < actual.size() && memcmp(&actual[first], &expected[first], 4) == 0) ++first;
        ASSERT_EQ(first, actual.size())
            << mixerPathName(path) << ", case " << caseNumber << ", run " << run << ": frame "
            << first / 2 - done << " of " << count << " differs, " << actual[first] << " for "
            << expected[first] << "; voice before " << before;
        done += count;
    }
}

TEST_F(MixerPaths, TheScalarPathIsAlwaysThereAndTheFastestIsTheDefault) {
    EXPECT_TRUE(mixerPathAvailable(MixerPath::SCALAR));
    EXPECT_EQ(mixerPath(), fastestMixerPath());
#if defined(__x86_64__)
    EXPECT_TRUE(mixerPathAvailable(MixerPath::SSE2));
#endif
    for (MixerPath path : {MixerPath::AVX2, MixerPath::AVX512}) {
        if (mixerPathAvailable(path)) continue;
        EXPECT_FALSE(setMixerPath(path));
        EXPECT_EQ(mixerPath(), fastestMixerPath());
    }
}

TEST_F(MixerPaths, RandomVoicesMixTheSameBitsOnEveryPath) {
    for (int32_t rate : {44100, 48000, 8000}) {
        prepareMixSettings(rate);
        for (MixerPath path : VECTOR_PATHS) {
            if (!mixerPathAvailable(path)) continue;
            std::mt19937 rng(20250607u + static_cast<uint32_t>(rate));
            for (int c = 0; c < 1500; ++c) {
                compareOnce(rng, path, c);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// The other interpolations read the frames around each position (across the loop's ends) and
// keep the linear mixer's positions and gains: the same bits on every path as well.
TEST_F(MixerPaths, EachInterpolationMixesTheSameBitsOnEveryPath) {
    prepareMixSettings(44100);
    for (Interpolation mode : {Interpolation::NEAREST, Interpolation::CUBIC, Interpolation::SINC,
                               Interpolation::AMIGA}) {
        for (MixerPath path : VECTOR_PATHS) {
            if (!mixerPathAvailable(path)) continue;
            std::mt19937 rng(20260501u + static_cast<uint32_t>(mode));
            for (int c = 0; c < 250; ++c) {
                compareOnce(rng, path, c, mode);
                if (HasFatalFailure()) {
                    ADD_FAILURE() << interpolationName(mode);
                    return;
                }
            }
        }
    }
}

// A ramp that starts from a level with a fraction (a ramp cut short by a new target) starts at the
// level's gain rounded to single precision, then adds the single-precision delta in double, on
// every path. A compiler that drops that rounding changes the frames.
TEST_F(MixerPaths, ARampStartsFromTheLevelsGainInSinglePrecision) {
    prepareMixSettings(44100);
    std::vector<int16_t> storage(400 + 8);
    for (int k = 0; k < 400; ++k) storage[k] = static_cast<int16_t>(32767 - 97 * k);
    Sample sample{};
    sample.data = storage.data();
    sample.length = 400;
    sample.loopLength = 400;
    sample.loopMode = LOOP_NONE;
    const int32_t levels[] = {25727, 1001, 65279, 12345};
    for (MixerPath path :
         {MixerPath::SCALAR, MixerPath::SSE2, MixerPath::AVX2, MixerPath::AVX512}) {
        if (!setMixerPath(path)) continue;
        for (int32_t level : levels) {
            Voice v{};
            v.sample = &sample;
            v.step = 1;
            v.direction = DIRECTION_FORWARD;
            v.volumeLeft = 200;
            v.levelLeft = level;
            std::vector<float> out(2 * 100, 0.0f);
            mixVoice(&v, defaultAudioEngine()->settings, out.data(), 100);
            double gain = static_cast<float>(level / 256.0 * static_cast<double>(GAIN_SCALE));
            double delta =
                static_cast<float>((200 - level / 256) * static_cast<double>(GAIN_SCALE) / 128);
            for (int k = 0; k < 100; ++k) {
                float expected = static_cast<float>(storage[k] * (gain + k * delta));
                ASSERT_EQ(out[2 * k], expected)
                    << mixerPathName(path) << ", level " << level << ", frame " << k;
            }
        }
    }
}

// All 64 voices at once, through mixVoices, in pieces as the scheduler cuts a block.
TEST_F(MixerPaths, AllVoicesTogetherMixTheSameBitsOnEveryPath) {
    prepareMixSettings(44100);
    std::mt19937 rng(77);
    std::vector<std::unique_ptr<RandomSample>> samples;
    Voice start[MIXED_VOICE_COUNT];
    for (Voice& v : start) {
        samples.push_back(randomSample(rng));
        v = randomVoice(rng, &samples.back()->sample);
        if (rng() % 4 == 0) v.sample = nullptr;
    }
    const int pieces[] = {441, 1, 882, 3, 300, 1000};
    std::vector<float> initial = randomBuffer(rng, 3000);
    auto mixAll = [&](MixerPath path) {
        EXPECT_TRUE(setMixerPath(path));
        memcpy(defaultAudioEngine()->voices, start, sizeof start);
        std::vector<float> buffer = initial;
        int at = 0;
        for (int frames : pieces) {
            mixVoices(defaultAudioEngine()->voices, defaultAudioEngine()->settings,
                      buffer.data() + 2 * at, frames);
            at += frames;
        }
        for (int v = 0; v < MIXED_VOICE_COUNT; ++v) {
            std::string state = describe(defaultAudioEngine()->voices[v]);
            buffer.insert(buffer.end(), state.begin(), state.end());  // compared with the frames
        }
        return buffer;
    };
    std::vector<float> expected = mixAll(MixerPath::SCALAR);
    for (MixerPath path : VECTOR_PATHS) {
        if (!mixerPathAvailable(path)) continue;
        std::vector<float> actual = mixAll(path);
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_EQ(memcmp(actual.data(), expected.data(), actual.size() * sizeof(float)), 0)
            << mixerPathName(path);
    }
}

// Eight channels of looped, ping-pong and one-shot notes with vibrato, volume slides and
// envelopes: every tick starts ramps, twin voices play out at gain 0.
std::vector<uint8_t> busyModule() {
    constexpr int CHANNELS = 8;
    XmSong xm = makeXmSong(CHANNELS, 2);
    XmSample looped = makeSample(sineFrames(1500, 50, 14000), true);
    looped.loopType = 1;
    looped.loopStart = 300;
    looped.loopLength = 1200;
    XmSample pingPong = makeSample(sineFrames(700, 23, 90), false);
    pingPong.loopType = 2;
    pingPong.loopStart = 100;
    pingPong.loopLength = 600;
    XmSample oneShot = makeSample(sineFrames(3000, 17, 20000), true);
    for (const XmSample& s : {looped, pingPong, oneShot}) {
        XmInstrument ins = makeInstrument(s);
        ins.volumeEnvelope = {{0, 64}, {10, 20}, {40, 50}};
        ins.volumeFlags = 1;
        xm.instruments.push_back(ins);
    }
    for (int p = 0; p < 2; ++p) {
        for (int row = 0; row < 64; ++row) {
            for (int c = 0; c < CHANNELS; ++c) {
                if ((row * 3 + c + p) % 4 == 3) continue;
                XmCell& cell = cellAt(xm.patterns[p], CHANNELS, row, c);
                cell.note = static_cast<uint8_t>(1 + (c * 11 + row * 5 + p * 7) % 95);
                cell.instrument = static_cast<uint8_t>(1 + (c + row) % 3);
                cell.volumeColumn = static_cast<uint8_t>(0x10 + (row + 2 * c) % 0x41);
                const uint8_t effects[][2] = {{4, 0x8A}, {0xA, 0x0F}, {0xA, 0xF0}, {8, 0x10},
                                              {1, 0x20}, {2, 0x08},   {0, 0x37},   {0, 0}};
                cell.effect = effects[c][0];
                cell.param = effects[c][1];
            }
        }
    }
    xm.orders = {0, 1};
    return writeXm(xm);
}

std::vector<int16_t> renderBlocks(const std::vector<uint8_t>& module, MixerPath path, int blocks) {
    EXPECT_TRUE(setMixerPath(path));
    SongPtr song = loadOwnedSong(module);
    EXPECT_NE(song, nullptr);
    if (!song) return {};
    prepareMixSettings(44100);
    EXPECT_EQ(startSongOffline(song.get()), 1);
    std::vector<int16_t> pcm;
    for (int b = 0; b < blocks; ++b) {
        const int16_t* frames = renderNextBlock();
        pcm.insert(pcm.end(), frames, frames + 2 * defaultAudioEngine()->settings.blockFrames);
    }
    stopSong(song.get());
    return pcm;
}

TEST_F(MixerPaths, ASongRendersToTheSameBytesOnEveryPath) {
    const std::vector<uint8_t> module = busyModule();
    const int blocks = 500;  // ten seconds: the song and its repeat
    std::vector<int16_t> expected = renderBlocks(module, MixerPath::SCALAR, blocks);
    ASSERT_EQ(expected.size(),
              static_cast<size_t>(blocks) * 2 * defaultAudioEngine()->settings.blockFrames);
    int loud = 0;
    for (int16_t x : expected) loud += x > 1000 || x < -1000;
    ASSERT_GT(loud, static_cast<int>(expected.size() / 4));  // it is no silence that agrees
    for (MixerPath path : VECTOR_PATHS) {
        if (!mixerPathAvailable(path)) continue;
        std::vector<int16_t> actual = renderBlocks(module, path, blocks);
        ASSERT_EQ(actual.size(), expected.size());
        size_t first = 0;
        while (first < actual.size() && actual[first] == expected[first]) ++first;
        EXPECT_EQ(first, actual.size()) << mixerPathName(path) << " differs from sample " << first;
    }
}

}  // namespace
