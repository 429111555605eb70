#include "audio/pcm.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

int16_t pcmSample(float x) {
    // Saturating before rounding gives the same result as rounding first, and keeps values far
    // outside the 32-bit range from wrapping on the way.
    int32_t value;
    if (x >= 32767.0f) {
        value = 32767;
    } else if (x <= -32768.0f) {
        value = -32768;
    } else {
        value = static_cast<int32_t>(std::lrint(x));  // default rounding: nearest, ties to even
    }
    return static_cast<int16_t>(value);
}

#if defined(__SSE2__)
// Eight samples a step: clamped in floating point, rounded by the conversion (which, like lrint,
// follows the current rounding mode: nearest, ties to even), packed to 16 bits. A NaN, which the
// mix never holds, becomes 0 as lrint's result cut to 32 bits does.
int64_t convertGroups(int16_t* destination, const float* source, int64_t sampleCount) {
    const __m128 highest = _mm_set1_ps(32767.0f);
    const __m128 lowest = _mm_set1_ps(-32768.0f);
    int64_t k = 0;
    for (; k + 8 <= sampleCount; k += 8) {
        __m128 a = _mm_loadu_ps(source + k);
        __m128 b = _mm_loadu_ps(source + k + 4);
        a = _mm_and_ps(a, _mm_cmpord_ps(a, a));
        b = _mm_and_ps(b, _mm_cmpord_ps(b, b));
        a = _mm_max_ps(_mm_min_ps(a, highest), lowest);
        b = _mm_max_ps(_mm_min_ps(b, highest), lowest);
        __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + k), packed);
    }
    return k;
}
#else
int64_t convertGroups(int16_t*, const float*, int64_t) { return 0; }
#endif

}  // namespace

void convertToPcm16(int16_t* destination, const float* source, int32_t frameCount) {
    if (frameCount <= 0 || !destination || !source) return;
    int64_t sampleCount = static_cast<int64_t>(frameCount) * 2;
    for (int64_t k = convertGroups(destination, source, sampleCount); k < sampleCount; ++k)
        destination[k] = pcmSample(source[k]);
}

void shapeMix(float* frames, int32_t count, const OutputControls& controls) {
    if (controls.stereoSeparation != 100) {
        const double width = controls.stereoSeparation / 100.0;
        for (int32_t k = 0; k < count; ++k) {
            const double mid = (static_cast<double>(frames[2 * k]) + frames[2 * k + 1]) * 0.5;
            const double side = (static_cast<double>(frames[2 * k]) - frames[2 * k + 1]) * 0.5;
            frames[2 * k] = static_cast<float>(mid + side * width);
            frames[2 * k + 1] = static_cast<float>(mid - side * width);
        }
    }
    if (controls.outputGain != 1.0) {
        for (int32_t k = 0; k < 2 * count; ++k) {
            const double value = frames[k] * controls.outputGain;
            // Far beyond 16 bits either way: saturated at the conversion all the same.
            frames[k] = static_cast<float>(value > 1e30 ? 1e30 : value < -1e30 ? -1e30 : value);
        }
    }
}
