// Stems, scopes and channel states through the public library: the stems add up to the mix within
// the bound brom.h states, on files of each format the engine reads, by channel and by
// instrument; the mix itself keeps its bits; muted channels are silent in stems and scopes; the
// scopes are the ends of the channel stems; channel states agree with the pattern.
#include <gtest/gtest.h>

#include <brom/brom.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

const std::string SOURCE_DIR = BROM_SOURCE_DIR;
constexpr size_t PIECE = 1000;  // frames per call: not a multiple of the block
constexpr size_t MOST_FRAMES = 44100 * 40;

struct ModuleDeleter {
    void operator()(brom_module* module) const { brom_free(module); }
};
using ModulePtr = std::unique_ptr<brom_module, ModuleDeleter>;

ModulePtr load(const std::string& file) {
    std::ifstream in(SOURCE_DIR + "/" + file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    return ModulePtr(brom_load_memory(bytes.data(), bytes.size(), nullptr));
}

struct StemRender {
    std::vector<float> mix;
    std::vector<std::vector<float>> stems;
};

StemRender renderStems(brom_module* module, size_t limit) {
    StemRender out;
    out.stems.resize(static_cast<size_t>(brom_stem_count(module)));
    std::vector<float> mix(2 * PIECE);
    std::vector<std::vector<float>> pieces(out.stems.size(), std::vector<float>(2 * PIECE));
    std::vector<float*> pointers;
    for (auto& piece : pieces) pointers.push_back(piece.data());
    size_t got;
    while (out.mix.size() < 2 * limit &&
           (got = brom_render_stems_f32(module, mix.data(), pointers.data(), PIECE)) > 0) {
        out.mix.insert(out.mix.end(), mix.begin(), mix.begin() + 2 * got);
        for (size_t s = 0; s < pieces.size(); ++s) {
            out.stems[s].insert(out.stems[s].end(), pieces[s].begin(), pieces[s].begin() + 2 * got);
        }
    }
    return out;
}

std::vector<float> renderMix(brom_module* module, size_t limit) {
    std::vector<float> all, piece(2 * PIECE);
    size_t got;
    while (all.size() < 2 * limit && (got = brom_render_f32(module, piece.data(), PIECE)) > 0) {
        all.insert(all.end(), piece.begin(), piece.begin() + 2 * got);
    }
    return all;
}

// The largest difference between the stems' sum (stem by stem, in double, rounded once) and the
// mix, over the samples; fails where one passes the bound of brom.h: 2^-19 of full scale or of
// the stems' magnitudes, whichever is larger.
double largestStemDifference(const StemRender& render) {
    double largest = 0;
    for (size_t k = 0; k < render.mix.size(); ++k) {
        double sum = 0, magnitude = 0;
        for (const auto& stem : render.stems) {
            sum += stem[k];
            magnitude += std::fabs(stem[k]);
        }
        const double difference = std::fabs(static_cast<float>(sum) - render.mix[k]);
        const double bound = std::ldexp(std::max(1.0, magnitude), -19);
        EXPECT_LE(difference, bound) << "sample " << k;
        if (difference > bound) return difference;
        largest = std::max(largest, difference);
    }
    return largest;
}

struct StemCase {
    const char* file;
    brom_stem_grouping grouping;
    int interpolation = BROM_INTERP_LINEAR;
    int amiga = BROM_AMIGA_OFF;
    int fadeMs = 0;  // a fade at the end of that length
};

class StemSum : public testing::TestWithParam<StemCase> {};

TEST_P(StemSum, StemsAddUpToTheMixWithinTheBound) {
    const StemCase& c = GetParam();
    ModulePtr plain = load(c.file), split = load(c.file);
    ASSERT_TRUE(plain && split);
    for (brom_module* module : {plain.get(), split.get()}) {
        ASSERT_EQ(brom_set_interpolation(module, c.interpolation), 1);
        ASSERT_EQ(brom_set_amiga(module, c.amiga), 1);
        if (c.fadeMs > 0) {
            ASSERT_EQ(brom_set_end(module, BROM_END_FADE, c.fadeMs), 1);
        }
    }
    ASSERT_EQ(brom_set_stems(split.get(), c.grouping), 1);
    ASSERT_GT(brom_stem_count(split.get()), 0);
    const StemRender render = renderStems(split.get(), MOST_FRAMES);
    // The mix keeps its bits.
    EXPECT_EQ(render.mix, renderMix(plain.get(), MOST_FRAMES));
    bool heard = false;
    for (float sample : render.mix) heard = heard || sample != 0;
    EXPECT_TRUE(heard);
    const double largest = largestStemDifference(render);
    printf("%s %s: largest difference %.3g (2^%.1f)\n", c.file,
           c.grouping == BROM_STEMS_BY_CHANNEL ? "channels" : "instruments", largest,
           largest > 0 ? std::log2(largest) : -INFINITY);
}

// Several files of each format, by channel and by instrument; notes sounding on in the background
// (IT's new-note actions), filtered voices, other interpolations, the Amiga's filters and a fade
// at the end.
INSTANTIATE_TEST_SUITE_P(
    Files, StemSum,
    testing::Values(StemCase{"assets/brom-boogie.xm", BROM_STEMS_BY_CHANNEL},
                    StemCase{"assets/brom-boogie.xm", BROM_STEMS_BY_INSTRUMENT},
                    StemCase{"tests/fuzz/corpus/channels-32.xm", BROM_STEMS_BY_CHANNEL},
                    StemCase{"tests/fuzz/corpus/instruments-many.xm", BROM_STEMS_BY_INSTRUMENT},
                    StemCase{"tests/fuzz/corpus/envelope-volume.xm", BROM_STEMS_BY_CHANNEL},
                    StemCase{"tests/fuzz/corpus/mod-32ch.mod", BROM_STEMS_BY_CHANNEL},
                    StemCase{"tests/fuzz/corpus/mod-6chn.mod", BROM_STEMS_BY_INSTRUMENT},
                    StemCase{"tests/fuzz/corpus/mod-flt8.mod", BROM_STEMS_BY_CHANNEL},
                    StemCase{"tests/fuzz/corpus/mod-effect-C.mod", BROM_STEMS_BY_CHANNEL},
                    StemCase{"tests/fuzz/corpus/mod-32ch.mod", BROM_STEMS_BY_INSTRUMENT,
                             BROM_INTERP_LINEAR, BROM_AMIGA_A500},
                    StemCase{"tests/fuzz/corpus/s3m-st321.s3m", BROM_STEMS_BY_CHANNEL},
                    StemCase{"tests/fuzz/corpus/mod-flt8.mod", BROM_STEMS_BY_INSTRUMENT,
                             BROM_INTERP_LINEAR, BROM_AMIGA_OFF, 3000},
                    StemCase{"tests/fuzz/corpus/s3m-pan-table.s3m", BROM_STEMS_BY_INSTRUMENT},
                    StemCase{"tests/fuzz/corpus/s3m-signed-16bit-stereo.s3m", BROM_STEMS_BY_CHANNEL,
                             BROM_INTERP_CUBIC},
                    StemCase{"tests/fuzz/corpus/it-past-notes.it", BROM_STEMS_BY_CHANNEL},
                    StemCase{"tests/fuzz/corpus/it-nna-continue.it", BROM_STEMS_BY_INSTRUMENT},
                    StemCase{"tests/fuzz/corpus/it-filter.it", BROM_STEMS_BY_CHANNEL,
                             BROM_INTERP_SINC},
                    StemCase{"tests/fuzz/corpus/it-envelopes.it", BROM_STEMS_BY_INSTRUMENT}));

bool silent(const std::vector<float>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](float x) { return x == 0; });
}

// The channel of the song that sounds most in the first seconds.
int loudestChannel(const StemRender& render) {
    int loudest = 0;
    double most = -1;
    for (size_t c = 0; c < render.stems.size(); ++c) {
        double energy = 0;
        for (float x : render.stems[c]) energy += x * x;
        if (energy > most) {
            most = energy;
            loudest = static_cast<int>(c);
        }
    }
    return loudest;
}

TEST(Stems, MutedChannelsAreSilentAndTheMixStaysTheirSum) {
    ModulePtr probe = load("assets/brom-boogie.xm");
    ASSERT_TRUE(probe);
    brom_set_stems(probe.get(), BROM_STEMS_BY_CHANNEL);
    const int muted = loudestChannel(renderStems(probe.get(), 44100 * 5));

    ModulePtr module = load("assets/brom-boogie.xm");
    brom_set_stems(module.get(), BROM_STEMS_BY_CHANNEL);
    brom_set_channel_mute(module.get(), muted, 1);
    brom_set_stereo_separation(module.get(), 50);
    brom_set_gain_db(module.get(), -6);
    const StemRender render = renderStems(module.get(), 44100 * 5);
    EXPECT_TRUE(silent(render.stems[static_cast<size_t>(muted)]));
    largestStemDifference(render);
}

TEST(Stems, SettingsAreCheckedAndStemsActFromTheNextBlock) {
    ModulePtr module = load("assets/brom-boogie.xm");
    EXPECT_EQ(brom_stem_count(module.get()), 0);
    float mix[2 * 10];
    EXPECT_EQ(brom_render_stems_f32(module.get(), mix, nullptr, 10), 0u);
    EXPECT_EQ(brom_set_stems(module.get(), static_cast<brom_stem_grouping>(3)), 0);
    EXPECT_EQ(brom_set_stems(nullptr, BROM_STEMS_BY_CHANNEL), 0);
    EXPECT_EQ(brom_set_stems(module.get(), BROM_STEMS_BY_INSTRUMENT), 1);
    EXPECT_EQ(brom_stem_count(module.get()), brom_instrument_count(module.get()));
    EXPECT_EQ(brom_set_stems(module.get(), BROM_STEMS_BY_CHANNEL), 1);
    EXPECT_EQ(brom_stem_count(module.get()), brom_channel_count(module.get()));
    EXPECT_EQ(brom_set_scope_frames(module.get(), 8193), 0);
    EXPECT_EQ(brom_set_scope_frames(module.get(), -1), 0);
    // Rendering on several threads is asked for, stems keep it on one.
    EXPECT_EQ(brom_set_render_threads(module.get(), 4), 1);
    EXPECT_EQ(brom_render_threads(module.get()), 1);
    EXPECT_EQ(brom_set_stems(module.get(), BROM_STEMS_OFF), 1);
    EXPECT_EQ(brom_render_threads(module.get()), 4);
}

TEST(Scopes, AreTheEndsOfTheChannelStemsAndFlatWhenMuted) {
    constexpr int SCOPE = 600;
    const size_t frames = 44100 * 3 + 123;
    ModulePtr split = load("assets/brom-boogie.xm");
    brom_set_stems(split.get(), BROM_STEMS_BY_CHANNEL);
    const StemRender render = renderStems(split.get(), frames);
    const int muted = loudestChannel(render);

    ModulePtr module = load("assets/brom-boogie.xm");
    ASSERT_EQ(brom_set_scope_frames(module.get(), SCOPE), 1);
    brom_set_render_threads(module.get(), 3);
    std::vector<float> buffer(2 * frames);
    ASSERT_EQ(brom_render_f32(module.get(), buffer.data(), frames), frames);
    int sounding = 0;
    std::vector<float> scope(2 * SCOPE);
    for (int c = 0; c < brom_channel_count(module.get()); ++c) {
        ASSERT_EQ(brom_channel_scope(module.get(), c, scope.data(), SCOPE + 50), SCOPE);
        const auto& stem = render.stems[static_cast<size_t>(c)];
        const std::vector<float> end(stem.begin() + 2 * (frames - SCOPE),
                                     stem.begin() + 2 * frames);
        EXPECT_EQ(scope, end) << "channel " << c;
        sounding += !silent(scope);
    }
    EXPECT_GT(sounding, 0);
    EXPECT_EQ(brom_channel_scope(module.get(), brom_channel_count(module.get()), scope.data(), 10),
              0);

    // Muted: flat from the next block on, while the others go on.
    brom_set_channel_mute(module.get(), muted, 1);
    ASSERT_EQ(brom_render_f32(module.get(), buffer.data(), 44100), 44100u);
    brom_channel_scope(module.get(), muted, scope.data(), SCOPE);
    EXPECT_TRUE(silent(scope));
}

TEST(ChannelState, FollowsThePatternAndTheVoices) {
    ModulePtr module = load("assets/brom-boogie.xm");
    brom_channel_state state;
    EXPECT_EQ(brom_get_channel_state(module.get(), brom_channel_count(module.get()), &state), 0);
    EXPECT_EQ(brom_get_channel_state(module.get(), 0, nullptr), 0);
    // Before anything plays, nothing sounds.
    ASSERT_EQ(brom_get_channel_state(module.get(), 0, &state), 1);
    EXPECT_EQ(state.note, 0);
    EXPECT_EQ(state.voices, 0);

    std::vector<float> buffer(2 * 441);
    int checked = 0;
    for (int step = 0; step < 400; ++step) {
        ASSERT_EQ(brom_render_f32(module.get(), buffer.data(), 441), 441u);
        brom_position at;
        brom_get_position(module.get(), &at);
        for (int c = 0; c < brom_channel_count(module.get()); ++c) {
            ASSERT_EQ(brom_get_channel_state(module.get(), c, &state), 1);
            if (state.note == 0) continue;
            EXPECT_GE(state.voices, 1);
            EXPECT_GT(state.frequency, 0);
            EXPECT_GE(state.sample, 0);
            EXPECT_LT(state.sample, brom_sample_count(module.get(), state.instrument - 1));
            EXPECT_GE(state.volume, 0);
            EXPECT_LE(state.volume, 64);
            // A note in the cell of the row playing is the note the channel plays.
            brom_cell cell;
            brom_get_pattern_cell(module.get(), at.pattern, at.row, c, &cell);
            if (cell.note >= 1 && cell.note <= 96 && cell.effect != 3 && cell.effect != 5) {
                EXPECT_EQ(state.note, cell.note) << "channel " << c << " row " << at.row;
                if (cell.instrument) {
                    EXPECT_EQ(state.instrument, cell.instrument);
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 10);
}

TEST(CellText, ShowsTheCellInTheFormatsNotation) {
    ModulePtr xm = load("assets/brom-boogie.xm");
    ModulePtr mod = load("tests/fuzz/corpus/mod-effect-C.mod");
    char text[32];
    int notes = 0;
    for (int row = 0; row < brom_pattern_rows(xm.get(), 0); ++row) {
        for (int c = 0; c < brom_channel_count(xm.get()); ++c) {
            ASSERT_EQ(brom_cell_text(xm.get(), 0, row, c, text, sizeof text), 13);
            brom_cell cell;
            brom_get_pattern_cell(xm.get(), 0, row, c, &cell);
            char instrument[3] = "..";
            if (cell.instrument) snprintf(instrument, sizeof instrument, "%02X", cell.instrument);
            EXPECT_EQ(std::string(text + 4, 2), instrument);
            EXPECT_EQ(text[0] == '.', cell.note == 0);
            notes += cell.note != 0;
        }
    }
    EXPECT_GT(notes, 0);
    EXPECT_EQ(brom_cell_text(xm.get(), 0, 0, 0, text, 13), 0);  // no room for the zero
    EXPECT_EQ(brom_cell_text(xm.get(), 0, 999, 0, text, sizeof text), 0);
    EXPECT_EQ(brom_cell_text(nullptr, 0, 0, 0, text, sizeof text), 0);
    int effects = 0;
    for (int at = 0; at < brom_pattern_rows(mod.get(), 0) * brom_channel_count(mod.get()); ++at) {
        const int row = at / brom_channel_count(mod.get()), c = at % brom_channel_count(mod.get());
        ASSERT_EQ(brom_cell_text(mod.get(), 0, row, c, text, sizeof text), 10);
        brom_cell cell;
        brom_get_pattern_cell(mod.get(), 0, row, c, &cell);
        char effect[4] = "...";
        if (cell.effect || cell.param)
            snprintf(effect, sizeof effect, "%X%02X", cell.effect, cell.param);
        EXPECT_EQ(std::string(text + 7, 3), effect);
        effects += cell.effect != 0;
    }
    EXPECT_GT(effects, 0);
    // S3M and IT: decimal instruments, effects as letters (1 is A).
    for (const auto& [file, length] : {std::pair{"tests/fuzz/corpus/s3m-command-D.s3m", 13},
                                       std::pair{"tests/fuzz/corpus/it-effects.it", 14}}) {
        ModulePtr module = load(file);
        int lettered = 0;
        for (int at = 0; at < 64 * brom_channel_count(module.get()); ++at) {
            const int row = at / brom_channel_count(module.get());
            const int c = at % brom_channel_count(module.get());
            brom_cell cell;
            if (!brom_get_pattern_cell(module.get(), 0, row, c, &cell)) break;
            ASSERT_EQ(brom_cell_text(module.get(), 0, row, c, text, sizeof text), length) << file;
            char instrument[3] = "..";
            if (cell.instrument) snprintf(instrument, sizeof instrument, "%02d", cell.instrument);
            EXPECT_EQ(std::string(text + 4, 2), instrument) << file;
            if (cell.effect == 0) continue;
            char effect[4];
            snprintf(effect, sizeof effect, "%c%02X", 'A' + cell.effect - 1, cell.param);
            EXPECT_EQ(std::string(text + length - 3, 3), effect) << file;
            ++lettered;
        }
        EXPECT_GT(lettered, 0) << file;
    }
}

}  // namespace
