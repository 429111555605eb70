// Fuzz target: arbitrary bytes loaded as a module and, when they load, played through the player
// and the mixer for three seconds of audio. The blocks are mixed by mixBlock on the scheduler's
// offline path, one after another on this thread, with the manual-clock device as the open device:
// no sound hardware, no mixing thread, and the same result for the same bytes every time.
#include "audio/device_manual.h"
#include "audio/scheduler.h"
#include "module/file_access.h"
#include "player/sequencer.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

// Three seconds: 150 blocks of 1/50 s. The fuzzer plays at a quarter of the usual rate: the same
// ticks and effects for a quarter of the mixing, and pitch steps four times as large, which reach
// the ends of loops and the limits of the step sooner.
constexpr int FUZZ_PLAY_BLOCKS = 150;
constexpr int32_t FUZZ_PLAY_RATE = 11025;

const char* positionRuleBroken(const PlayState* state) {
    const Song* song = state->song;
    if (state->orderPosition < 0 || state->orderPosition >= song->songLength) {
        return "the order position left the song";
    }
    const Pattern* pattern = patternAtOrder(song, state->orderPosition);
    if (!pattern) return "the order position names no pattern";
    // A pattern of no rows still has a row 0 to stand on.
    const auto inside = [&](int32_t row) {
        return row >= 0 && (row < pattern->rowCount || row == 0);
    };
    if (!inside(state->startedRow)) return "the row played left its pattern";
    // After a pattern loop's jump the row reads one less than the loop's first row until the
    // next row starts. The loop start takes the row, which a jump of an earlier channel in the
    // same row may have moved already, so a loop's row can lie below 0 (or beyond a shorter
    // pattern than the one it was set in).
    bool loopJump = false;
    for (int c = 0; c < playedChannelCount(song); ++c)
        loopJump = loopJump || state->row == state->channels[c].patternLoopRow - 1;
    if (!inside(state->row) && !loopJump) return "the row left its pattern";
    if (state->samplesPerTick < 1) return "a tick shorter than one frame";
    if (state->tickSamplesLeft < 0) return "a negative number of frames left in the tick";
    const int32_t fullGlobalVolume = song->globalVolumeRange == 128 ? 128 : 64;
    if (state->globalVolume < 0 || state->globalVolume > fullGlobalVolume)
        return "global volume outside 0..64 (0..128 where the format's full scale is 128)";
    if (state->songTimeMs < 0) return "song time went negative";
    return nullptr;
}

// Gains run from 0 to 255 at full scale; a set-volume effect beyond 64 may push them to about
// twice that (508 at most), never further.
constexpr int32_t MAX_VOICE_GAIN = 511;

// Every voice the mixer adds has a gain it can scale by and sample data under it.
const char* voiceRuleBroken() {
    for (int v = 0; v < MIXED_VOICE_COUNT; ++v) {
        const Voice& voice = defaultAudioEngine()->voices[v];
        if (voice.volumeLeft < 0 || voice.volumeLeft > MAX_VOICE_GAIN || voice.volumeRight < 0 ||
            voice.volumeRight > MAX_VOICE_GAIN) {
            return "a voice gain outside 0..511";
        }
        if (voice.sample && voice.sample->length > 0 && !voice.sample->data) {
            return "a voice plays a sample without data";
        }
    }
    return nullptr;
}

// The effects set tempos up to 255 BPM, where a tick lasts sampleRate / 102 frames; only a file's
// header asks for more (up to 32767, where every frame is a tick of its own and a second of audio
// costs some thirty times the work). playAndCheck stops such a song after as many ticks as its
// blocks would hold at 255 BPM, so that no input costs more than three seconds of the fastest
// tempo the effects reach.
constexpr int MAX_EFFECT_BPM = 255;

int64_t tickBudget(int blocks) {
    const MixSettings& settings = defaultAudioEngine()->settings;
    int32_t fastestTickFrames = settings.sampleRate * 5 / (2 * MAX_EFFECT_BPM);
    if (fastestTickFrames < 1) fastestTickFrames = 1;
    return int64_t{blocks} * (settings.blockFrames / fastestTickFrames + 1);
}

// The ticks the player runs, counted by the engine's tick observer.
struct TickCount {
    int64_t ticks;
    int fastestBpm;
} tickCount;

void countTick(AudioEngine* engine) {
    ++tickCount.ticks;
    if (engine->state->bpm > tickCount.fastestBpm) tickCount.fastestBpm = engine->state->bpm;
}

}  // namespace

bool openPlayDevice(int32_t rate) {
    useMemoryFiles();
    if (defaultAudioEngine()->settings.sampleRate == rate &&
        outputDevice() == &manualOutputDevice && manualDeviceStatus().open) {
        return true;
    }
    setOutputDevice(&manualOutputDevice);
    return audioOpen(rate) == 1;
}

const char* playAndCheck(Song* song, int blocks) {
    // Voices outlive a song; starting from clear voices lets a finding be replayed on its own.
    prepareMixSettings(defaultAudioEngine()->settings.sampleRate);
    if (!startSongOffline(song)) return "the song does not start";
    AudioEngine* engine = defaultAudioEngine();
    const PlayState* state = engine->state;
    tickCount = {0, 0};
    engine->tickObserver = countTick;
    const int64_t budget = tickBudget(blocks);
    int32_t lastTime = 0;
    const char* broken = nullptr;
    for (int b = 0; b < blocks && !broken; ++b) {
        if (!renderNextBlock()) broken = "a block was not mixed";
        if (!broken) broken = positionRuleBroken(state);
        if (!broken) broken = voiceRuleBroken();
        if (!broken && state->songTimeMs < lastTime) broken = "song time ran backwards";
        lastTime = state->songTimeMs;
        if (!broken && tickCount.ticks > budget) {
            if (tickCount.fastestBpm <= MAX_EFFECT_BPM) broken = "more ticks than the tempo allows";
            break;
        }
    }
    stopSong(song);
    engine->tickObserver = nullptr;
    return broken;
}

int fuzzPlayModule(const uint8_t* data, size_t size) {
    useMemoryFiles();
    char path[64];
    memoryModulePath(path, sizeof path, data, size);
    Song* song = loadSong(path, nullptr);
    if (!song) return 0;
    if (const char* broken = songRuleBroken(song)) {
        reportFinding("engine", "the loaded song breaks a rule", broken);
    }
    if (!openPlayDevice(FUZZ_PLAY_RATE)) {
        reportFinding("harness", "cannot play", "the manual-clock device does not open");
    }
    if (const char* broken = playAndCheck(song, FUZZ_PLAY_BLOCKS)) {
        reportFinding("engine", "playing breaks a rule", broken);
    }
    freeSong(song);
    return 0;
}
