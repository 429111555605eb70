// Rendering on several threads gives the frames of one thread, bit for bit, and every call acts
// as it does on one thread: on the song, every fuzz seed and a session of seeks, jumps, mutes,
// gains, repeat counts and thread changes between renders of odd sizes. Run under the thread
// sanitizer by CI.
#include <gtest/gtest.h>

#include <brom/brom.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string SOURCE_DIR = BROM_SOURCE_DIR;
constexpr int THREADS = 3;

struct ModuleDeleter {
    void operator()(brom_module* module) const { brom_free(module); }
};
using ModulePtr = std::unique_ptr<brom_module, ModuleDeleter>;

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

ModulePtr loadWithThreads(const std::vector<uint8_t>& bytes, int threads) {
    ModulePtr module(brom_load_memory(bytes.data(), bytes.size(), nullptr));
    if (module) {
        EXPECT_EQ(brom_set_render_threads(module.get(), threads), 1);
    }
    return module;
}

// Everything the module renders from where it is, at most `limit` frames, in pieces of `piece`.
std::vector<int16_t> renderAll(brom_module* module, size_t piece, size_t limit) {
    std::vector<int16_t> all;
    std::vector<int16_t> buffer(2 * piece);
    size_t got;
    while (all.size() < 2 * limit && (got = brom_render_s16(module, buffer.data(), piece)) > 0) {
        all.insert(all.end(), buffer.begin(), buffer.begin() + 2 * got);
    }
    if (all.size() > 2 * limit) all.resize(2 * limit);
    return all;
}

// What a host sees through a session of calls: frames (16-bit and float), positions, levels and
// the answers of the calls, one number after another.
class Session {
  public:
    explicit Session(brom_module* module) : module_(module) {}

    void render(size_t frames) {
        std::vector<int16_t> pcm(2 * frames);
        const size_t got = brom_render_s16(module_, pcm.data(), frames);
        seen_.push_back(static_cast<int64_t>(got));
        seen_.insert(seen_.end(), pcm.begin(), pcm.begin() + 2 * got);
        note();
    }
    void renderFloats(size_t frames) {
        std::vector<float> mix(2 * frames);
        const size_t got = brom_render_f32(module_, mix.data(), frames);
        seen_.push_back(static_cast<int64_t>(got));
        for (size_t k = 0; k < 2 * got; ++k)
            seen_.push_back(static_cast<int64_t>(mix[k] * 65536.0f));
        note();
    }
    void answer(int64_t value) {
        seen_.push_back(value);
        note();
    }
    const std::vector<int64_t>& seen() const { return seen_; }

  private:
    void note() {
        brom_position position;
        brom_get_position(module_, &position);
        for (int64_t value :
             {position.time_ms, int64_t{position.order}, int64_t{position.pattern},
              int64_t{position.row}, int64_t{position.speed}, int64_t{position.bpm}}) {
            seen_.push_back(value);
        }
        for (int c = 0; c < brom_channel_count(module_); ++c) {
            seen_.push_back(brom_channel_level(module_, c));
        }
    }

    brom_module* module_;
    std::vector<int64_t> seen_;
};

// Seeks, jumps, mutes, gains, widths, repeat counts, durations and thread changes between renders
// of odd sizes, each landing inside a block or on its edge.
std::vector<int64_t> busySession(const std::vector<uint8_t>& bytes, int threads) {
    ModulePtr module = loadWithThreads(bytes, threads);
    brom_module* m = module.get();
    Session session(m);
    session.render(1000);
    session.answer(brom_set_channel_mute(m, 1, 1));
    session.render(20000);
    session.answer(brom_set_gain_db(m, 7.5));
    session.answer(brom_set_stereo_separation(m, 40));
    session.render(883);
    session.answer(brom_set_channel_mute(m, 1, 0));
    session.answer(brom_set_channel_mute(m, 0, 1));
    session.renderFloats(5000);
    session.answer(brom_seek_order_row(m, 1, 3));
    session.render(12345);
    session.answer(brom_duration_ms(m));
    session.render(882);
    session.answer(brom_set_repeat_count(m, 1));
    session.render(30000);
    session.answer(brom_set_render_threads(m, threads == 1 ? 1 : 2));
    session.render(7000);
    session.answer(brom_set_render_threads(m, 1));
    session.render(3000);
    session.answer(brom_set_render_threads(m, threads));
    session.render(4000);
    session.answer(brom_seek_ms(m, 2500));
    session.render(44100);
    session.answer(brom_seek_ms(m, 1000));
    session.answer(brom_set_sample_rate(m, 48000));
    session.render(9000);
    session.answer(brom_set_channel_mute(m, 0, 0));
    session.answer(brom_set_gain_db(m, 0));
    session.answer(brom_set_repeat_count(m, 0));
    session.answer(brom_seek_order_row(m, 0, 0));
    for (int k = 0; k < 400; ++k) session.render(4410);  // on to the end
    return session.seen();
}

std::vector<std::string> seedPaths() {
    std::vector<std::string> paths;
    for (const char* folder : {"/tests/fuzz/corpus", "/tests/fuzz/regressions"}) {
        for (const auto& entry : std::filesystem::directory_iterator(SOURCE_DIR + folder)) {
            paths.push_back(entry.path().string());
        }
    }
    return paths;
}

TEST(ParallelRender, TheSongAndEverySeedRenderAsOnOneThread) {
    std::vector<std::string> paths = seedPaths();
    paths.push_back(SOURCE_DIR + "/assets/brom-boogie.xm");
    for (const std::string& path : paths) {
        const std::vector<uint8_t> bytes = fileBytes(path);
        ModulePtr one = loadWithThreads(bytes, 1);
        ModulePtr many = loadWithThreads(bytes, THREADS);
        if (!one) continue;  // a seed that does not load
        // 30 s at most, in pieces smaller than a block and larger than many.
        const std::vector<int16_t> expected = renderAll(one.get(), 4096, 30 * 44100);
        EXPECT_EQ(renderAll(many.get(), 333, 30 * 44100), expected) << path;
        EXPECT_EQ(brom_render_threads(many.get()), THREADS);
    }
}

TEST(ParallelRender, EveryCallBetweenRendersActsAsOnOneThread) {
    for (const char* name : {"/assets/brom-boogie.xm", "/tests/fuzz/corpus/channels-32.xm",
                             "/tests/fuzz/corpus/effect-set-finetune.xm"}) {
        const std::vector<uint8_t> bytes = fileBytes(SOURCE_DIR + name);
        const std::vector<int64_t> one = busySession(bytes, 1);
        EXPECT_EQ(busySession(bytes, THREADS), one) << name;
        EXPECT_EQ(busySession(bytes, 0), one) << name;  // as many as there are cores
    }
}

}  // namespace
