// The public C API as an application uses it, through libbrom.so: renders, seeks, repeats,
// mutes, metadata, threads and bad input.
#include <gtest/gtest.h>

#include <brom/brom.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "module/xm_writer.h"
#include "tests/support/mod_writer.h"
#include "tests/support/run_program.h"

namespace {

const std::string SONG_PATH = std::string(BROM_SOURCE_DIR) + "/assets/brom-boogie.xm";

struct ModuleDeleter {
    void operator()(brom_module* module) const { brom_free(module); }
};
using ModulePtr = std::unique_ptr<brom_module, ModuleDeleter>;

ModulePtr loadSong() { return ModulePtr(brom_load_file(SONG_PATH.c_str(), nullptr)); }

// Everything the module renders from where it is, in pieces of `piece` frames.
std::vector<int16_t> renderAll(brom_module* module, size_t piece = 1000) {
    std::vector<int16_t> all;
    std::vector<int16_t> buffer(2 * piece);
    size_t got;
    while ((got = brom_render_s16(module, buffer.data(), piece)) > 0) {
        all.insert(all.end(), buffer.begin(), buffer.begin() + 2 * got);
        if (got < piece) break;
    }
    return all;
}

std::vector<int16_t> renderFrames(brom_module* module, size_t frames) {
    std::vector<int16_t> out(2 * frames);
    out.resize(2 * brom_render_s16(module, out.data(), frames));
    return out;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A module with a name, an instrument and samples whose names hold control bytes and trailing
// spaces, and a short song: two orders of 16 rows at speed 3.
std::vector<uint8_t> namedModule() {
    XmSong xm = makeXmSong(3, 2);
    xm.name = "Night\tTrain   ";
    xm.speed = 3;
    xm.orders = {1, 0};
    xm.restartPosition = 1;
    for (XmPattern& pattern : xm.patterns) pattern = makePattern(16, 3);
    cellAt(xm.patterns[0], 3, 0, 0) = {49, 1, 0, 0, 0};
    cellAt(xm.patterns[1], 3, 4, 2) = {61, 1, 0x30, 0, 0};
    XmSample looped = makeSample(sineFrames(400, 40, 9000), true);
    looped.name = "lead\x01sine  ";
    looped.loopType = 2;
    looped.loopStart = 100;
    looped.loopLength = 200;
    looped.volume = 48;
    looped.finetune = -16;
    looped.panning = 64;
    looped.relativeNote = 12;
    XmInstrument instrument = makeInstrument(looped);
    instrument.name = "Lead";
    instrument.volumeEnvelope = {{0, 64}, {10, 32}};
    instrument.volumeFlags = 1;
    instrument.fadeout = 300;
    instrument.vibratoType = 2;
    instrument.vibratoDepth = 5;
    XmSample plain = makeSample(sineFrames(64, 16, 60), false);
    plain.name = "click";
    instrument.samples.push_back(plain);
    xm.instruments.push_back(instrument);
    return writeXm(xm);
}

TEST(Api, DefaultRenderIsTheWavOfBromPlayAndFloatsGiveTheSameSamples) {
    const std::string wav = testing::TempDir() + "api-song.wav";
    ASSERT_EQ(runBromPlay("--force --render " + wav + " " + SONG_PATH).status, 0);
    const std::vector<uint8_t> bytes = fileBytes(wav);
    ASSERT_GT(bytes.size(), 44u);
    std::vector<int16_t> expected((bytes.size() - 44) / 2);
    memcpy(expected.data(), bytes.data() + 44, expected.size() * 2);

    ModulePtr module = loadSong();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(renderAll(module.get(), 777), expected);  // odd pieces: blocks do not show
    int16_t more[8];
    EXPECT_EQ(brom_render_s16(module.get(), more, 4), 0u);
    EXPECT_EQ(brom_duration_ms(module.get()), int64_t(expected.size() / 2) * 1000 / 44100);

    ModulePtr floats = loadSong();
    std::vector<float> mix(2 * 300000);
    mix.resize(2 * brom_render_f32(floats.get(), mix.data(), 300000));
    ASSERT_EQ(mix.size(), 600000u);
    for (size_t k = 0; k < mix.size(); ++k) {
        const float scaled = std::nearbyint(mix[k] * 32768.0f);
        const float saturated = scaled > 32767.0f    ? 32767.0f
                                : scaled < -32768.0f ? -32768.0f
                                                     : scaled;
        ASSERT_EQ(static_cast<int16_t>(saturated), expected[k]) << k;
    }
}

TEST(Api, AModNamesItsFormatAndPlaysOnItsChannelsSide) {
    ModSong mod = makeModSong(4, 1);
    mod.title = "amiga";
    mod.samples[0] = makeModSample(squareWave(64, 16, 100), 0, 32);
    modCellAt(mod, 0, 0, 0) = {modPeriod(2, 0), 1, 0, 0};  // channel 0: hard left
    const std::vector<uint8_t> bytes = writeMod(mod);
    ModulePtr module(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    ASSERT_TRUE(module);
    EXPECT_STREQ(brom_tracker(module.get()), "ProTracker M.K.");
    EXPECT_STREQ(brom_title(module.get()), "amiga");
    EXPECT_EQ(brom_channel_count(module.get()), 4);
    const std::vector<int16_t> all = renderAll(module.get());
    ASSERT_EQ(all.size(), 2u * 338688);  // one pattern: 64 rows of 6 ticks at tempo 125
    int16_t loudestLeft = 0, loudestRight = 0;
    for (size_t k = 0; k < all.size(); k += 2) {
        loudestLeft = std::max<int16_t>(loudestLeft, static_cast<int16_t>(std::abs(all[k])));
        loudestRight = std::max<int16_t>(loudestRight, static_cast<int16_t>(std::abs(all[k + 1])));
    }
    EXPECT_GT(loudestLeft, 1000);
    EXPECT_EQ(loudestRight, 0);
    EXPECT_EQ(brom_format(module.get()), BROM_FORMAT_MOD);
    EXPECT_STREQ(brom_format_name(brom_format(module.get())), "MOD");
    EXPECT_EQ(brom_format(loadSong().get()), BROM_FORMAT_XM);
    brom_sample_info sample = {};
    ASSERT_EQ(brom_get_sample_info(module.get(), 0, 0, &sample), 1);
    EXPECT_EQ(sample.bits, 8);  // ProTracker's samples are 8-bit
}

// A steady note hard left: each piece's measured peaks are what the piece sounds, on one thread
// and on three alike, and nothing once muted.
TEST(Api, ChannelPeaksAreWhatTheChannelSounds) {
    ModSong mod = makeModSong(4, 1);
    mod.samples[0] = makeModSample(squareWave(64, 16, 100), 0, 32);
    modCellAt(mod, 0, 0, 0) = {modPeriod(2, 0), 1, 0, 0};  // channel 0: hard left
    const std::vector<uint8_t> bytes = writeMod(mod);
    for (int threads : {1, 3}) {
        ModulePtr module(brom_load_memory(bytes.data(), bytes.size(), nullptr));
        ASSERT_TRUE(module);
        brom_set_render_threads(module.get(), threads);
        float left = -1, right = -1;
        ASSERT_EQ(brom_channel_peak(module.get(), 0, &left, &right), 1);
        EXPECT_EQ(left + right, 0);  // nothing rendered yet
        renderFrames(module.get(), 4410);  // past the note's start
        for (int piece = 0; piece < 10; ++piece) {
            const std::vector<int16_t> frames = renderFrames(module.get(), 4410);
            int loudest = 0;
            for (size_t k = 0; k < frames.size(); k += 2)
                loudest = std::max(loudest, std::abs(frames[k]));
            ASSERT_EQ(brom_channel_peak(module.get(), 0, &left, &right), 1);
            EXPECT_NEAR(left, loudest / 32768.0, 0.005) << threads << " threads, piece " << piece;
            EXPECT_EQ(right, 0);
        }
        EXPECT_GT(left, 0.3);
        brom_set_channel_mute(module.get(), 0, 1);
        renderFrames(module.get(), 4410);
        ASSERT_EQ(brom_channel_peak(module.get(), 0, &left, &right), 1);
        EXPECT_EQ(left + right, 0);
        EXPECT_EQ(brom_channel_peak(module.get(), 4, &left, &right), 0);
    }
}

TEST(Api, AModuleRendersOnItsCallersThreadUnlessAsked) {
    ModulePtr module = loadSong();
    EXPECT_EQ(brom_render_threads(module.get()), 1);
    ASSERT_EQ(brom_set_render_threads(module.get(), 0), 1);
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    EXPECT_EQ(brom_render_threads(module.get()), std::clamp(cores, 1, 8));
}

TEST(Api, SeeksAreSampleExactForwardsAndBackwardsAtAnyRate) {
    for (int rate : {44100, 48000}) {
        ModulePtr full = loadSong();
        ASSERT_EQ(brom_set_sample_rate(full.get(), rate), 1);
        const std::vector<int16_t> reference = renderAll(full.get());
        ModulePtr module = loadSong();
        ASSERT_EQ(brom_set_sample_rate(module.get(), rate), 1);
        for (int64_t ms : {int64_t{20000}, int64_t{1234}, int64_t{45678}, int64_t{0}, int64_t{7}}) {
            ASSERT_EQ(brom_seek_ms(module.get(), ms), 1);
            const size_t from = static_cast<size_t>(ms * rate / 1000);
            const std::vector<int16_t> got = renderFrames(module.get(), 5000);
            ASSERT_EQ(got.size(), 10000u) << ms;
            EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.begin() + 2 * from))
                << "rate " << rate << ", " << ms << " ms";
        }
        // Beyond the end: nothing more to render.
        ASSERT_EQ(brom_seek_ms(module.get(), 3600000), 1);
        EXPECT_TRUE(renderFrames(module.get(), 100).empty());
    }
}

TEST(Api, TheRateIsAcceptedBeforeRenderingAndRightAfterASeekOnly) {
    ModulePtr module = loadSong();
    EXPECT_EQ(brom_set_sample_rate(module.get(), 7999), 0);
    EXPECT_EQ(brom_set_sample_rate(module.get(), 192001), 0);
    ASSERT_EQ(brom_set_sample_rate(module.get(), 22050), 1);
    renderFrames(module.get(), 10);
    EXPECT_EQ(brom_set_sample_rate(module.get(), 32000), 0);
    EXPECT_EQ(brom_sample_rate(module.get()), 22050);
    ASSERT_EQ(brom_seek_ms(module.get(), 3000), 1);
    ASSERT_EQ(brom_set_sample_rate(module.get(), 32000), 1);
    const std::vector<int16_t> afterSeek = renderFrames(module.get(), 2000);

    ModulePtr fresh = loadSong();
    ASSERT_EQ(brom_set_sample_rate(fresh.get(), 32000), 1);
    const std::vector<int16_t> reference = renderFrames(fresh.get(), 96000 + 2000);
    EXPECT_TRUE(std::equal(afterSeek.begin(), afterSeek.end(), reference.begin() + 2 * 96000));

    // After a seek by order and row, the new rate makes the same jump at the same time: as if
    // the rate had been set first.
    ModulePtr jumpFirst = loadSong();
    renderFrames(jumpFirst.get(), 10);
    ASSERT_EQ(brom_seek_order_row(jumpFirst.get(), 3, 0), 1);
    ASSERT_EQ(brom_set_sample_rate(jumpFirst.get(), 32000), 1);
    ModulePtr rateFirst = loadSong();
    ASSERT_EQ(brom_set_sample_rate(rateFirst.get(), 32000), 1);
    renderFrames(rateFirst.get(), 10);
    ASSERT_EQ(brom_seek_order_row(rateFirst.get(), 3, 0), 1);
    EXPECT_EQ(renderFrames(jumpFirst.get(), 20000), renderFrames(rateFirst.get(), 20000));
    brom_position position;
    ASSERT_EQ(brom_get_position(jumpFirst.get(), &position), 1);
    EXPECT_EQ(position.order, 3);
}

TEST(Api, RepeatCountsAddPassesAndMinusOneNeverEnds) {
    const std::vector<uint8_t> bytes = namedModule();
    ModulePtr once(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    ASSERT_NE(once, nullptr);
    const int64_t duration = brom_duration_ms(once.get());
    const size_t onePass = renderAll(once.get()).size() / 2;
    EXPECT_EQ(duration, int64_t(onePass) * 1000 / 44100);
    // 16 rows of 3 ticks of 882 frames, twice, and then the restart position leads back to
    // order 1 for every later pass.
    EXPECT_EQ(onePass, size_t{2 * 16 * 3 * 882});

    ModulePtr twice(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    ASSERT_EQ(brom_set_repeat_count(twice.get(), 2), 1);
    EXPECT_EQ(brom_duration_ms(twice.get()), duration);  // one pass, whatever the count
    EXPECT_EQ(renderAll(twice.get()).size() / 2, onePass + 2 * 16 * 3 * 882);

    ModulePtr endless(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    ASSERT_EQ(brom_set_repeat_count(endless.get(), -1), 1);
    EXPECT_EQ(renderFrames(endless.get(), 10 * onePass).size(), 20 * onePass);
}

TEST(Api, MutedChannelsAddNothing) {
    ModulePtr module = loadSong();
    const int channels = brom_channel_count(module.get());
    ASSERT_GT(channels, 1);
    for (int c = 0; c < channels; ++c) ASSERT_EQ(brom_set_channel_mute(module.get(), c, 1), 1);
    EXPECT_EQ(brom_set_channel_mute(module.get(), channels, 1), 0);
    // 200 blocks of 884 frames (1/50 s at 44100 Hz): a mute acts from the next block on.
    constexpr size_t MUTED = 200 * 884;
    const std::vector<int16_t> silence = renderFrames(module.get(), MUTED);
    ASSERT_EQ(silence.size(), 2 * MUTED);
    for (int16_t s : silence) ASSERT_EQ(s, 0);

    // Unmuted again, the channels sound exactly as if they had never been muted.
    for (int c = 0; c < channels; ++c) brom_set_channel_mute(module.get(), c, 0);
    const std::vector<int16_t> after = renderFrames(module.get(), 44100);
    ModulePtr reference = loadSong();
    const std::vector<int16_t> full = renderFrames(reference.get(), MUTED + 44100);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), full.begin() + 2 * MUTED));
}

TEST(Api, MetadataComesFromTheFileMadePrintable) {
    const std::vector<uint8_t> bytes = namedModule();
    ModulePtr module(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    ASSERT_NE(module, nullptr);
    EXPECT_STREQ(brom_title(module.get()), "Night Train");
    EXPECT_STREQ(brom_tracker(module.get()), "brom writer");
    ASSERT_EQ(brom_instrument_count(module.get()), 1);
    EXPECT_STREQ(brom_instrument_name(module.get(), 0), "Lead");
    EXPECT_STREQ(brom_instrument_name(module.get(), 1), "");
    ASSERT_EQ(brom_sample_count(module.get(), 0), 2);
    EXPECT_STREQ(brom_sample_name(module.get(), 0, 0), "lead sine");
    EXPECT_STREQ(brom_sample_name(module.get(), 0, 1), "click");

    brom_song_info song;
    ASSERT_EQ(brom_get_song_info(module.get(), &song), 1);
    EXPECT_EQ(song.channels, 3);
    EXPECT_EQ(song.song_length, 2);
    EXPECT_EQ(song.restart, 1);
    EXPECT_EQ(song.patterns, 2);
    EXPECT_EQ(song.speed, 3);
    EXPECT_EQ(song.bpm, 125);
    EXPECT_EQ(song.linear, 1);
    EXPECT_EQ(brom_order_pattern(module.get(), 0), 1);
    EXPECT_EQ(brom_order_pattern(module.get(), 2), -1);
    EXPECT_EQ(brom_pattern_rows(module.get(), 1), 16);

    brom_sample_info sample;
    ASSERT_EQ(brom_get_sample_info(module.get(), 0, 0, &sample), 1);
    EXPECT_EQ(sample.length, 400u);
    EXPECT_EQ(sample.loop, BROM_LOOP_PING_PONG);
    EXPECT_EQ(sample.loop_start, 100u);
    EXPECT_EQ(sample.loop_length, 200u);
    EXPECT_EQ(sample.volume, 48);
    EXPECT_EQ(sample.finetune, -16);
    EXPECT_EQ(sample.panning, 64);
    EXPECT_EQ(sample.relative_note, 12);
    EXPECT_EQ(sample.bits, 16);
    ASSERT_EQ(brom_get_sample_info(module.get(), 0, 1, &sample), 1);
    EXPECT_EQ(sample.bits, 8);
    EXPECT_EQ(sample.loop, BROM_LOOP_NONE);
    EXPECT_EQ(sample.loop_length, 0u);
    EXPECT_EQ(brom_get_sample_info(module.get(), 0, 2, &sample), 0);
}

TEST(Api, CellsInstrumentsAndOrderStartsForAPlayer) {
    const std::vector<uint8_t> bytes = namedModule();
    ModulePtr module(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    ASSERT_NE(module, nullptr);
    brom_cell cell;
    ASSERT_EQ(brom_get_pattern_cell(module.get(), 1, 4, 2, &cell), 1);
    EXPECT_EQ(cell.note, 61);
    EXPECT_EQ(cell.instrument, 1);
    EXPECT_EQ(cell.volume, 0x30);
    EXPECT_EQ(brom_get_pattern_cell(module.get(), 1, 16, 0, &cell), 0);
    EXPECT_EQ(brom_get_pattern_cell(module.get(), 0, 0, 3, &cell), 0);

    brom_instrument_info instrument;
    ASSERT_EQ(brom_get_instrument_info(module.get(), 0, &instrument), 1);
    EXPECT_EQ(instrument.samples, 2);
    EXPECT_EQ(instrument.volume_points, 2);
    EXPECT_EQ(instrument.volume_envelope, 1);
    EXPECT_EQ(instrument.panning_envelope, 0);
    EXPECT_EQ(instrument.fadeout, 600);
    EXPECT_EQ(instrument.vibrato_type, 2);
    EXPECT_EQ(instrument.vibrato_depth, 5);
    EXPECT_EQ(brom_get_instrument_info(module.get(), 1, &instrument), 0);

    // Order 1 starts after 16 rows of 3 ticks of 882 frames: 960 ms; a seek there lands in it.
    EXPECT_EQ(brom_order_time_ms(module.get(), 0), 0);
    EXPECT_EQ(brom_order_time_ms(module.get(), 1), 960);
    EXPECT_EQ(brom_order_time_ms(module.get(), 2), -1);
    ASSERT_EQ(brom_seek_ms(module.get(), 960), 1);
    renderFrames(module.get(), 1);
    brom_position position;
    ASSERT_EQ(brom_get_position(module.get(), &position), 1);
    EXPECT_EQ(position.order, 1);
    EXPECT_EQ(position.row, 0);
}

TEST(Api, OrderAndRowSeekOnAFreshModuleStartsThere) {
    const std::vector<uint8_t> bytes = namedModule();
    ModulePtr jumped(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    ASSERT_EQ(brom_seek_order_row(jumped.get(), 1, 4), 1);
    EXPECT_EQ(brom_seek_order_row(jumped.get(), 2, 0), 0);
    EXPECT_EQ(brom_seek_order_row(jumped.get(), 0, 16), 0);
    const std::vector<int16_t> got = renderFrames(jumped.get(), 30000);
    brom_position position;
    ASSERT_EQ(brom_get_position(jumped.get(), &position), 1);
    EXPECT_EQ(position.order, 1);
    EXPECT_EQ(position.pattern, 0);

    // The jump is the start of a render: the same frames every time, unlike the song's own start.
    ModulePtr fresh(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    ASSERT_EQ(brom_seek_order_row(fresh.get(), 1, 4), 1);
    EXPECT_EQ(renderFrames(fresh.get(), 30000), got);
    ModulePtr fromStart(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    EXPECT_NE(renderFrames(fromStart.get(), 30000), got);
}

TEST(Api, TwoModulesOnTwoThreadsRenderAsAlone) {
    const std::vector<uint8_t> other = namedModule();
    auto renderSong = [] { return renderAll(loadSong().get()); };
    auto renderOther = [&] {
        brom_module* module = brom_load_memory(other.data(), other.size(), nullptr);
        std::vector<int16_t> pcm = renderFrames(module, 400000);
        brom_free(module);
        return pcm;
    };
    const std::vector<int16_t> songAlone = renderSong();
    const std::vector<int16_t> otherAlone = renderOther();
    std::vector<int16_t> otherTogether;
    std::thread thread([&] { otherTogether = renderOther(); });
    const std::vector<int16_t> songTogether = renderSong();
    thread.join();
    EXPECT_EQ(songTogether, songAlone);
    EXPECT_EQ(otherTogether, otherAlone);
}

TEST(Api, BadInputIsRefusedWithAReason) {
    brom_error error = BROM_OK;
    const char* reason = nullptr;
    EXPECT_EQ(brom_load_file_ex("/no/such/file.xm", &error, &reason), nullptr);
    EXPECT_EQ(error, BROM_ERROR_IO);
    EXPECT_STRNE(reason, "");
    EXPECT_EQ(brom_load_file_ex(BROM_SOURCE_DIR, &error, &reason), nullptr);  // a folder
    EXPECT_EQ(error, BROM_ERROR_IO);
    EXPECT_STREQ(reason, "a folder, not a file");
    EXPECT_EQ(brom_load_memory(nullptr, 10, &error), nullptr);
    EXPECT_EQ(error, BROM_ERROR_ARGUMENT);
    const char garbage[] = "this is no module at all, just some words";
    EXPECT_EQ(brom_load_memory(garbage, sizeof garbage, &error), nullptr);
    EXPECT_EQ(error, BROM_ERROR_FORMAT);
    std::vector<uint8_t> bytes = namedModule();
    bytes.resize(200);
    EXPECT_EQ(brom_load_memory_ex(bytes.data(), bytes.size(), &error, &reason), nullptr);
    EXPECT_EQ(error, BROM_ERROR_TRUNCATED);
    EXPECT_STREQ(brom_error_string(error), "the file ends early");
    EXPECT_STRNE(brom_error_string(static_cast<brom_error>(99)), "");

    // Null modules and values out of range change nothing and give nothing.
    int16_t frames[4];
    EXPECT_EQ(brom_render_s16(nullptr, frames, 2), 0u);
    EXPECT_EQ(brom_seek_ms(nullptr, 0), 0);
    EXPECT_STREQ(brom_title(nullptr), "");
    EXPECT_EQ(brom_duration_ms(nullptr), -1);
    brom_free(nullptr);
    ModulePtr module = loadSong();
    EXPECT_EQ(brom_seek_ms(module.get(), -1), 0);
    EXPECT_EQ(brom_set_repeat_count(module.get(), -2), 0);
    EXPECT_EQ(brom_set_gain_db(module.get(), 100.0), 0);
    EXPECT_EQ(brom_set_stereo_separation(module.get(), 201), 0);
    EXPECT_EQ(brom_render_s16(module.get(), nullptr, 2), 0u);
}

}  // namespace

namespace {

// The interpolation and the Amiga mode act from the next block on (1/50 s: 882 frames at
// 44100 Hz, rounded up to 884), on one thread and on several; the Amiga mode is for MOD files
// only, and there E00 switches the LED filter on.
TEST(Api, SoundModesActFromTheNextBlock) {
    ModulePtr probe = loadSong();
    EXPECT_EQ(brom_interpolation_mode(probe.get()), BROM_INTERP_LINEAR);
    EXPECT_EQ(brom_set_interpolation(probe.get(), 4), 0);
    EXPECT_EQ(brom_set_amiga(probe.get(), BROM_AMIGA_A500), 0);  // an XM
    EXPECT_EQ(brom_amiga_model(probe.get()), BROM_AMIGA_OFF);
    constexpr size_t FRAMES = 20000, SWITCH = 1000, BLOCK_END = 2 * 884;
    for (int threads : {1, 3}) {
        ModulePtr linear = loadSong(), sinc = loadSong(), switched = loadSong();
        for (brom_module* m : {linear.get(), sinc.get(), switched.get()}) {
            brom_set_render_threads(m, threads);
        }
        ASSERT_EQ(brom_set_interpolation(sinc.get(), BROM_INTERP_SINC), 1);
        std::vector<int16_t> a = renderFrames(linear.get(), FRAMES);
        std::vector<int16_t> b = renderFrames(sinc.get(), FRAMES);
        std::vector<int16_t> c = renderFrames(switched.get(), SWITCH);
        ASSERT_EQ(brom_set_interpolation(switched.get(), BROM_INTERP_SINC), 1);
        std::vector<int16_t> rest = renderFrames(switched.get(), FRAMES - SWITCH);
        c.insert(c.end(), rest.begin(), rest.end());
        ASSERT_EQ(c.size(), a.size());
        EXPECT_NE(a, b);
        EXPECT_TRUE(std::equal(c.begin(), c.begin() + 2 * BLOCK_END, a.begin())) << threads;
        EXPECT_TRUE(std::equal(c.begin() + 2 * BLOCK_END, c.end(), b.begin() + 2 * BLOCK_END))
            << threads;
    }
    auto modWithFilter = [](bool ledOn) {
        ModSong mod = makeModSong(4, 1);
        mod.samples[0] = makeModSample(squareWave(64, 16, 100), 0, 32);
        modCellAt(mod, 0, 0, 0) = {modPeriod(2, 0), 1, 0xE,
                                   static_cast<uint8_t>(ledOn ? 0x00 : 0x01)};
        return writeMod(mod);
    };
    auto render = [](const std::vector<uint8_t>& bytes, int amiga) {
        ModulePtr module(brom_load_memory(bytes.data(), bytes.size(), nullptr));
        EXPECT_EQ(brom_set_amiga(module.get(), amiga), 1);
        EXPECT_EQ(brom_amiga_model(module.get()), amiga);
        return renderFrames(module.get(), 44100);
    };
    const std::vector<uint8_t> ledOn = modWithFilter(true), ledOff = modWithFilter(false);
    EXPECT_EQ(render(ledOn, BROM_AMIGA_OFF), render(ledOff, BROM_AMIGA_OFF));
    EXPECT_NE(render(ledOn, BROM_AMIGA_A500), render(ledOff, BROM_AMIGA_A500));
    EXPECT_NE(render(ledOff, BROM_AMIGA_A500), render(ledOff, BROM_AMIGA_A1200));
    EXPECT_NE(render(ledOff, BROM_AMIGA_A1200), render(ledOff, BROM_AMIGA_OFF));
}

}  // namespace
