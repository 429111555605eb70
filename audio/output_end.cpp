#include "audio/output_end.h"

#include "audio/scheduler.h"

int64_t fadeFrameCount(const AudioEngine* engine) {
    if (engine->end.how != SongEnd::FADE) return 0;
    return int64_t{engine->end.fadeMs} * engine->settings.sampleRate / 1000;
}

int64_t outputEndFrame(const AudioEngine* engine, int64_t framesMixed, int64_t repeatFrame) {
    if (engine->repeatCount < 0 || engine->end.how == SongEnd::LOOP) return -1;
    const int64_t cap =
        (engine->repeatCount + int64_t{1}) * LONGEST_PASS_SECONDS * engine->settings.sampleRate;
    if (repeatFrame >= 0 && repeatFrame < cap) return repeatFrame + fadeFrameCount(engine);
    return framesMixed >= cap ? cap + fadeFrameCount(engine) : -1;
}

bool engineGoesOn(const AudioEngine* engine) {
    const int64_t end = outputEndFrame(engine, engine->framesMixed, engine->repeatFrame);
    return end < 0 || engine->framesMixed < end;
}

void fadeOut(const float* from, float* to, size_t count, int64_t first, int64_t end, int64_t fade) {
    for (size_t k = 0; k < count; ++k) {
        const int64_t left = end - (first + static_cast<int64_t>(k));
        const double gain = left >= fade ? 1.0 : static_cast<double>(left) / fade;
        to[2 * k] = static_cast<float>(from[2 * k] * gain);
        to[2 * k + 1] = static_cast<float>(from[2 * k + 1] * gain);
    }
}
