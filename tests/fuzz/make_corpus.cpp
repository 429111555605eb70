// Writes the fuzzers' seeds. The small corpus, committed in tests/fuzz/corpus, holds one small
// module per feature of the format and of the player, so that mutation starts from files that
// reach deep into the loader, the effects and the mixer. The real-sized seeds (real_sized_songs.h)
// are megabytes each: the build writes them into its own tree (tests/fuzz/CMakeLists.txt).
//
// The public library's target (api_target.h) takes a module followed by a script: its seeds are
// the others with a script that takes every step, written at build time too.
//
//     make_fuzz_corpus tests/fuzz/corpus
//     make_fuzz_corpus --real-sized build/tests/fuzz/seeds
//     make_fuzz_corpus --api-scripts build/tests/fuzz/api-seeds tests/fuzz/corpus ...
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/xm_writer.h"
#include "tests/fuzz/api_target.h"
#include "tests/fuzz/it_seeds.h"
#include "tests/fuzz/real_sized_songs.h"
#include "tests/support/mod_writer.h"
#include "tests/support/s3m_writer.h"

namespace {

constexpr int CHANNELS = 4;
constexpr int ROWS = 16;
constexpr uint8_t C4 = 49;

XmSample loopedSample(bool sixteenBit, uint8_t loopType) {
    XmSample s = makeSample(sineFrames(32, 16, sixteenBit ? 12000 : 90), sixteenBit);
    s.loopType = loopType;
    s.loopStart = 8;
    s.loopLength = 24;
    return s;
}

// Four channels, one short pattern, one instrument with a short forward-looping 8-bit sample.
XmSong baseSong() {
    XmSong xm = makeXmSong(CHANNELS, 0);
    xm.patterns.push_back(makePattern(ROWS, CHANNELS));
    xm.orders = {0};
    xm.speed = 4;
    xm.instruments.push_back(makeInstrument(loopedSample(false, 1)));
    return xm;
}

XmCell& cell(XmSong& xm, int row, int channel, int pattern = 0) {
    return cellAt(xm.patterns[pattern], xm.channels, row, channel);
}

// Notes on the first rows of every channel, so each channel sounds.
void addNotes(XmSong& xm, int pattern = 0) {
    for (int c = 0; c < xm.channels && c < ROWS; ++c)
        cell(xm, c, c, pattern) = {uint8_t(C4 + 5 * c), 1, 0, 0, 0};
}

struct Corpus {
    std::string dir;
    int written = 0;
    bool ok = true;

    void write(const std::string& name, const XmSong& xm) { writeFile(name + ".xm", writeXm(xm)); }
    void write(const std::string& name, const ModSong& mod) {
        writeFile(name + ".mod", writeMod(mod));
    }

    void write(const std::string& name, const S3mSong& s3m) {
        writeFile(name + ".s3m", writeS3m(s3m));
    }

    void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            fprintf(stderr, "make_fuzz_corpus: cannot write %s\n", path.c_str());
            ok = false;
        }
        if (f) fclose(f);
        ++written;
    }
};

void writeFormatFeatures(Corpus& corpus) {
    XmSong minimal = makeXmSong(1, 0);
    minimal.patterns.push_back(makePattern(1, 1));
    minimal.orders = {0};
    corpus.write("minimal", minimal);

    const struct {
        const char* name;
        XmPacking packing;
    } packings[] = {{"pattern-mixed", XmPacking::Mixed},
                    {"pattern-mask", XmPacking::Mask},
                    {"pattern-plain", XmPacking::Plain},
                    {"pattern-empty", XmPacking::Empty}};
    for (const auto& p : packings) {
        XmSong xm = baseSong();
        addNotes(xm);
        cell(xm, 8, 0) = {C4 + 12, 1, 0x30, 0x0C, 0x20};
        cell(xm, 12, 1) = {97, 0, 0, 0, 0};
        xm.patterns[0].packing = p.packing;
        corpus.write(p.name, xm);
    }

    const struct {
        const char* name;
        bool sixteenBit;
        uint8_t loopType;
    } samples[] = {{"sample-8bit", false, 0},        {"sample-16bit", true, 0},
                   {"loop-forward-8bit", false, 1},  {"loop-forward-16bit", true, 1},
                   {"loop-pingpong-8bit", false, 2}, {"loop-pingpong-16bit", true, 2}};
    for (const auto& s : samples) {
        XmSong xm = baseSong();
        xm.instruments[0] = makeInstrument(loopedSample(s.sixteenBit, s.loopType));
        addNotes(xm);
        corpus.write(s.name, xm);
    }

    XmSong multi = baseSong();
    XmInstrument split = makeInstrument(loopedSample(false, 1));
    split.samples.push_back(loopedSample(true, 2));
    split.samples.push_back(makeSample(sineFrames(20, 10, 50), false));
    for (int n = 0; n < 96; ++n) split.noteSampleMap[n] = static_cast<uint8_t>(n / 32);
    multi.instruments[0] = split;
    for (int r = 0; r < ROWS; ++r) cell(multi, r, r % CHANNELS) = {uint8_t(1 + 6 * r), 1, 0, 0, 0};
    corpus.write("instrument-multi-sample", multi);

    XmSong many = baseSong();
    for (int i = 1; i < 8; ++i) {
        XmSample s = loopedSample(i % 2 == 0, static_cast<uint8_t>(i % 3));
        s.finetune = static_cast<int8_t>(16 * i - 64);
        s.relativeNote = static_cast<int8_t>(i - 4);
        s.panning = static_cast<uint8_t>(32 * i);
        s.volume = static_cast<uint8_t>(8 * i);
        many.instruments.push_back(makeInstrument(s));
    }
    for (int r = 0; r < ROWS; ++r)
        cell(many, r, r % CHANNELS) = {uint8_t(1 + 6 * r), uint8_t(1 + r % 8), 0, 0, 0};
    corpus.write("instruments-many", many);

    XmSong volumeEnvelope = baseSong();
    XmInstrument& ve = volumeEnvelope.instruments[0];
    ve.volumeEnvelope = {{0, 0}, {2, 64}, {6, 32}, {10, 48}, {14, 8}};
    ve.volumeFlags = 1 | 2 | 4;
    ve.volumeSustain = 2;
    ve.volumeLoopStart = 1;
    ve.volumeLoopEnd = 3;
    ve.fadeout = 1024;
    addNotes(volumeEnvelope);
    cell(volumeEnvelope, 10, 0) = {97, 0, 0, 0, 0};
    corpus.write("envelope-volume", volumeEnvelope);

    XmSong panningEnvelope = baseSong();
    XmInstrument& pe = panningEnvelope.instruments[0];
    pe.panningEnvelope = {{0, 0}, {4, 64}, {8, 32}, {12, 16}};
    pe.panningFlags = 1 | 2 | 4;
    pe.panningSustain = 1;
    pe.panningLoopStart = 1;
    pe.panningLoopEnd = 3;
    addNotes(panningEnvelope);
    cell(panningEnvelope, 12, 0) = {97, 0, 0, 0, 0};
    corpus.write("envelope-panning", panningEnvelope);

    XmSong fade = baseSong();
    fade.instruments[0].volumeEnvelope = {{0, 64}, {4, 48}};
    fade.instruments[0].volumeFlags = 1;
    fade.instruments[0].fadeout = 4000;
    addNotes(fade);
    for (int c = 0; c < CHANNELS; ++c) cell(fade, 6 + c, c) = {97, 0, 0, 0, 0};
    corpus.write("fadeout-keyoff", fade);

    XmSong vibrato = baseSong();
    XmInstrument& av = vibrato.instruments[0];
    av.vibratoType = 1;
    av.vibratoSweep = 8;
    av.vibratoDepth = 10;
    av.vibratoRate = 20;
    addNotes(vibrato);
    corpus.write("auto-vibrato", vibrato);

    XmSong amiga = baseSong();
    amiga.flags = 0;
    for (int r = 0; r < ROWS; ++r) cell(amiga, r, r % CHANNELS) = {uint8_t(1 + 6 * r), 1, 0, 0, 0};
    corpus.write("amiga-periods", amiga);

    XmSong wide = makeXmSong(32, 0);
    wide.patterns.push_back(makePattern(4, 32));
    wide.orders = {0};
    wide.instruments.push_back(makeInstrument(loopedSample(true, 1)));
    for (int c = 0; c < 32; ++c) cell(wide, c % 4, c) = {uint8_t(13 + 2 * c), 1, 0, 0, 0};
    corpus.write("channels-32", wide);

    XmSong orders = baseSong();
    orders.patterns.push_back(makePattern(8, CHANNELS));
    orders.patterns.push_back(makePattern(4, CHANNELS));
    orders.orders = {0, 1, 0, 2, 1};
    orders.restartPosition = 1;
    addNotes(orders, 1);
    addNotes(orders, 2);
    corpus.write("orders-restart", orders);
}

// The older layouts and the damaged forms the loader repairs: versions 1.02 and 1.03, pattern data
// that covers fewer rows than the header, a padded pattern header, an instrument header size of
// 0, and files cut inside a pattern and inside an instrument.
void writeRepairs(Corpus& corpus) {
    for (uint16_t version : {0x0102, 0x0103}) {
        XmSong xm = baseSong();
        xm.version = version;
        xm.patterns.push_back(makePattern(8, CHANNELS));
        xm.orders = {0, 1};
        xm.instruments.push_back(makeInstrument(loopedSample(true, 2)));
        addNotes(xm);
        cell(xm, 4, 0, 1) = {C4 + 4, 2, 0, 0, 0};
        corpus.write(version == 0x0102 ? "layout-1.02" : "layout-1.03", xm);
    }

    XmSong damaged = baseSong();
    addNotes(damaged);
    damaged.patterns.push_back(makePattern(8, CHANNELS));
    damaged.orders = {0, 1};
    damaged.patterns[0].storedRows = ROWS / 2;
    damaged.patterns[1].headerLength = 16;
    damaged.instruments[0].headerSizeOverride = 0;
    corpus.write("repair-header-sizes", damaged);

    XmSong whole = baseSong();
    addNotes(whole);
    whole.instruments.push_back(makeInstrument(loopedSample(true, 1)));
    XmLayout layout;
    std::vector<uint8_t> bytes = writeXm(whole, &layout);
    corpus.writeFile("repair-cut-in-pattern.xm",
                     {bytes.begin(), bytes.begin() + layout.patterns[0] + 20});
    corpus.writeFile("repair-cut-in-instrument.xm",
                     {bytes.begin(), bytes.begin() + layout.instruments[1] + 100});
}

// One file for each effect: a note on row 0 and row 8, the effect with one parameter on rows 1
// to 7 and with another on rows 9 to 15.
void writeEffects(Corpus& corpus) {
    const struct {
        const char* name;
        uint8_t effect, first, second;
    } effects[] = {
        {"arpeggio", 0x0, 0x37, 0x0C},         {"porta-up", 0x1, 0x08, 0x00},
        {"porta-down", 0x2, 0x08, 0x00},       {"tone-porta", 0x3, 0x10, 0x00},
        {"vibrato", 0x4, 0x48, 0x00},          {"tone-porta-volume", 0x5, 0x04, 0x40},
        {"vibrato-volume", 0x6, 0x02, 0x20},   {"tremolo", 0x7, 0x8F, 0x00},
        {"set-panning", 0x8, 0x00, 0xFF},      {"sample-offset", 0x9, 0x01, 0x00},
        {"volume-slide", 0xA, 0x04, 0x40},     {"position-jump", 0xB, 0x00, 0x00},
        {"set-volume", 0xC, 0x20, 0x40},       {"pattern-break", 0xD, 0x04, 0x00},
        {"fine-porta-up", 0xE, 0x14, 0x10},    {"fine-porta-down", 0xE, 0x24, 0x20},
        {"glissando", 0xE, 0x31, 0x30},        {"vibrato-waveform", 0xE, 0x41, 0x46},
        {"set-finetune", 0xE, 0x5F, 0x50},     {"pattern-loop", 0xE, 0x60, 0x62},
        {"tremolo-waveform", 0xE, 0x72, 0x73}, {"retrigger", 0xE, 0x92, 0x90},
        {"fine-volume-up", 0xE, 0xA4, 0xA0},   {"fine-volume-down", 0xE, 0xB4, 0xB0},
        {"note-cut", 0xE, 0xC2, 0xC0},         {"note-delay", 0xE, 0xD2, 0xDF},
        {"pattern-delay", 0xE, 0xE2, 0xE0},    {"speed-tempo", 0xF, 0x03, 0x90},
        {"global-volume", 0x10, 0x20, 0x40},   {"global-volume-slide", 0x11, 0x04, 0x40},
        {"key-off", 0x14, 0x02, 0x00},         {"envelope-position", 0x15, 0x04, 0x00},
        {"panning-slide", 0x19, 0x0F, 0xF0},   {"multi-retrigger", 0x1B, 0x82, 0x00},
        {"tremor", 0x1D, 0x21, 0x00},          {"extra-fine-porta", 0x21, 0x15, 0x25},
    };
    for (const auto& e : effects) {
        XmSong xm = baseSong();
        xm.instruments[0].volumeEnvelope = {{0, 64}, {8, 40}, {16, 64}};
        xm.instruments[0].volumeFlags = 1;
        for (int c = 0; c < CHANNELS; ++c) {
            cell(xm, 0, c) = {uint8_t(C4 + 3 * c), 1, 0, 0, 0};
            cell(xm, 8, c) = {uint8_t(C4 + 7 - 2 * c), 1, 0, e.effect, e.second};
        }
        for (int r = 1; r < ROWS; ++r) {
            if (r == 8) continue;
            XmCell& target = cell(xm, r, r % CHANNELS);
            target.effect = e.effect;
            target.param = r < 8 ? e.first : e.second;
        }
        if (e.effect == 0xB || e.effect == 0xD) {
            xm.patterns.push_back(makePattern(8, CHANNELS));
            xm.orders = {0, 1, 0};
            addNotes(xm, 1);
        }
        corpus.write(std::string("effect-") + e.name, xm);
    }

    // The volume column: set volume, slides, fine slides, vibrato, panning and tone portamento.
    XmSong column = baseSong();
    const uint8_t volumeColumn[ROWS] = {0x10, 0x50, 0x64, 0x74, 0x84, 0x94, 0xA4, 0xB8,
                                        0xC4, 0xD2, 0xE2, 0xF8, 0x30, 0xBF, 0xFF, 0x60};
    addNotes(column);
    cell(column, 12, 0).note = C4 + 12;
    for (int r = 0; r < ROWS; ++r) cell(column, r, 0).volumeColumn = volumeColumn[r];
    corpus.write("volume-column", column);
}

// MOD files: each layout (signatures, channel counts, the paired FLT8 patterns, the 15-sample
// format) with notes across the octaves, and every effect with two parameters, one of them 0.
void writeMods(Corpus& corpus) {
    auto notes = [](ModSong& mod) {
        mod.samples[0] = makeModSample(squareWave(64, 16, 90), 8, 24);
        mod.samples[1] = makeModSample(squareWave(40, 8, 60), 0, 0);
        for (int r = 0; r < 64; r += 2) {
            const int c = (r / 2) % mod.channels;
            modCellAt(mod, 0, r, c) = {modPeriod(1 + r / 24, r % 12), uint8_t(1 + r % 4 / 2), 0, 0};
        }
    };
    const struct {
        const char* name;
        const char* signature;
        int channels;
    } layouts[] = {{"mod-mk", "M.K.", 4},
                   {"mod-flt8", "FLT8", 8},
                   {"mod-6chn", "6CHN", 6},
                   {"mod-32ch", "32CH", 32},
                   {"mod-15-samples", "", 4}};
    for (const auto& l : layouts) {
        ModSong mod = makeModSong(l.channels, 1);
        mod.signature = l.signature;
        if (l.signature[0] == '\0') {
            mod.samples.resize(15);
            mod.restart = 120;
        }
        notes(mod);
        corpus.write(l.name, mod);
    }
    const uint8_t params[16][2] = {{0x37, 0x00}, {0x08, 0x00}, {0x08, 0x00}, {0x10, 0x00},
                                   {0x48, 0x00}, {0x04, 0x00}, {0x20, 0x00}, {0x8F, 0x00},
                                   {0x00, 0xFF}, {0x01, 0x00}, {0x04, 0x00}, {0x00, 0x00},
                                   {0x20, 0x7F}, {0x04, 0x00}, {0x5F, 0x10}, {0x03, 0x00}};
    for (int effect = 0; effect < 16; ++effect) {
        ModSong mod = makeModSong(4, 1);
        notes(mod);
        for (int r = 1; r < 64; r += 2) {
            modCellAt(mod, 0, r, r % 4) = {0, 0, uint8_t(effect), params[effect][r < 32 ? 0 : 1]};
        }
        char name[32];
        snprintf(name, sizeof name, "mod-effect-%X", effect);
        corpus.write(name, mod);
    }
}

// S3M files: sample formats, the pan table, mono, the header flags and the trackers that change
// how a file plays, and every command letter A..Z with two parameters, one of them 0.
void writeS3ms(Corpus& corpus) {
    auto notes = [](S3mSong& s3m) {
        s3m.samples.push_back(makeS3mSample(s3mSquare(64, 16, 90), 8, 32));
        s3m.samples.push_back(makeS3mSample(s3mSquare(40, 8, 60), 0, 0));
        s3m.samples[1].middleC = 16726;
        for (int r = 0; r < S3M_ROWS; r += 2) {
            s3mCellAt(s3m, 0, r, (r / 2) % 4) = {s3mNote(2 + r / 16, r % 12),
                                                 uint8_t(1 + r % 4 / 2), uint8_t(r), 0, 0};
        }
        s3mCellAt(s3m, 0, 62, 0).note = 254;
    };
    const struct {
        const char* name;
        uint16_t tracker;
        uint16_t flags;
        uint16_t sampleFormat;
        bool sixteenBitStereo;
        bool panTable;
        uint8_t masterVolume;
    } layouts[] = {
        {"s3m-st321", 0x1321, 0, 2, false, false, 0xB0},
        {"s3m-signed-16bit-stereo", 0x3214, 0, 1, true, false, 0xB0},
        {"s3m-pan-table", 0x1320, 0, 2, false, true, 0xB0},
        {"s3m-mono", 0x1320, 0, 2, false, false, 0x30},
        {"s3m-st300-fast-slides", 0x1300, 0, 2, false, false, 0xB0},
        {"s3m-amiga-limits", 0x1320, 16 | 64, 2, false, false, 0xB0},
    };
    for (const auto& l : layouts) {
        S3mSong s3m = makeS3mSong(4, 1);
        s3m.trackerVersion = l.tracker;
        s3m.flags = l.flags;
        s3m.sampleFormat = l.sampleFormat;
        s3m.masterVolume = l.masterVolume;
        s3m.panTable = l.panTable;
        for (int c = 0; c < 4; ++c) s3m.pans[c] = uint8_t(0x20 | (c * 5));
        notes(s3m);
        if (l.sixteenBitStereo) {
            for (S3mSample& s : s3m.samples) {
                s.sixteenBit = true;
                for (int16_t& v : s.data) v = int16_t(v * 200);
                s.right = s.data;
            }
        }
        corpus.write(l.name, s3m);
    }
    const uint8_t params[26] = {0x03, 0x00, 0x10, 0x0F, 0x08, 0xF2, 0x10, 0x48, 0x21,
                                0x37, 0x04, 0x20, 0x20, 0x02, 0x01, 0x30, 0x83, 0x44,
                                0xD2, 0x0F, 0x48, 0x20, 0x01, 0x40, 0x22, 0x10};
    for (int letter = 0; letter < 26; ++letter) {
        S3mSong s3m = makeS3mSong(4, 1);
        s3m.trackerVersion = letter == 'T' - 'A' ? 0x3214 : 0x1320;  // T0x slides in IT's files
        notes(s3m);
        for (int r = 1; r < S3M_ROWS; r += 2) {
            s3mCellAt(s3m, 0, r, r % 4) = {255, 0, 255, uint8_t(letter + 1),
                                           r < 32 ? params[letter] : uint8_t(0)};
        }
        char name[32];
        snprintf(name, sizeof name, "s3m-command-%c", 'A' + letter);
        corpus.write(name, s3m);
    }
}

// Every file of the folders `sources`, with the script that takes every step after it.
void writeApiSeeds(Corpus& corpus, char** sources, int count) {
    namespace fs = std::filesystem;
    for (int k = 0; k < count; ++k) {
        for (const fs::directory_entry& entry : fs::directory_iterator(sources[k])) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
            corpus.writeFile(entry.path().filename().string(),
                             withApiScript(std::move(bytes), everyStepScript()));
        }
    }
}

}  // namespace

// Seeds of every format go into the same two sets: a loader for another format adds its small
// seeds and its real-sized seeds beside the XM and MOD ones below.
int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool realSized = argc == 3 && mode == "--real-sized";
    const bool api = argc >= 4 && mode == "--api-scripts";
    if (argc != 2 && !realSized && !api) {
        fprintf(stderr,
                "usage: make_fuzz_corpus [--real-sized] DIRECTORY\n"
                "       make_fuzz_corpus --api-scripts DIRECTORY SOURCE...\n");
        return 2;
    }
    Corpus corpus{api ? argv[2] : argv[argc - 1]};
    if (api) {
        writeApiSeeds(corpus, argv + 3, argc - 3);
    } else if (realSized) {
        for (const RealSizedSong& song : realSizedSongs()) corpus.write(song.name, song.make());
        corpus.write("largest", largestModSong());
    } else {
        writeFormatFeatures(corpus);
        writeEffects(corpus);
        writeRepairs(corpus);
        writeMods(corpus);
        writeS3ms(corpus);
        for (const ItSeed& seed : itSeeds()) corpus.writeFile(seed.name + ".it", seed.bytes);
    }
    printf("%d files written to %s\n", corpus.written, corpus.dir.c_str());
    return corpus.ok ? 0 : 1;
}
