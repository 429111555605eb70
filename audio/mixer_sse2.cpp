// The mixer's kernels for SSE2, which every x86-64 processor has: four frames per step, their
// positions kept in ordinary registers, their arithmetic two doubles to a register.
#include "audio/mixer_kernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include "audio/mixer.h"

namespace {

inline int32_t signedFramePair(const int16_t* data, uint64_t position) {
    return static_cast<int32_t>(framePair(data, position));
}

inline int32_t weightOf(uint64_t position) {
    return static_cast<int32_t>(static_cast<uint32_t>(position) >> 1);
}

// s0 + t x (s1 - s0) for the two frames in the low lanes of the packed pairs and weights.
inline __m128d interpolate(__m128i s0, __m128i difference, __m128i weights, __m128d scale) {
    __m128d t = _mm_mul_pd(_mm_cvtepi32_pd(weights), scale);
    return _mm_add_pd(_mm_cvtepi32_pd(s0), _mm_mul_pd(t, _mm_cvtepi32_pd(difference)));
}

// Adds two frames' values, each times its own left and right gains, to frames `out` and `out + 2`.
inline void addTwoFrames(float* out, __m128d values, __m128d gains0, __m128d gains1) {
    __m128 old = _mm_loadu_ps(out);
    __m128d frame0 = _mm_cvtps_pd(old);
    __m128d frame1 = _mm_cvtps_pd(_mm_movehl_ps(old, old));
    frame0 = _mm_add_pd(frame0, _mm_mul_pd(_mm_unpacklo_pd(values, values), gains0));
    frame1 = _mm_add_pd(frame1, _mm_mul_pd(_mm_unpackhi_pd(values, values), gains1));
    _mm_storeu_ps(out, _mm_movelh_ps(_mm_cvtpd_ps(frame0), _mm_cvtpd_ps(frame1)));
}

template <bool RAMP>
void render(const FrameRun& run) {
    const double interpolationScale = static_cast<double>(INTERPOLATION_SCALE);
    const __m128d scale = _mm_set1_pd(interpolationScale);
    const __m128d gains = _mm_set_pd(run.gainRight, run.gainLeft);
    const __m128d deltas = _mm_set_pd(run.deltaRight, run.deltaLeft);
    const int16_t* data = run.data;
    float* out = run.out;
    uint64_t position = run.base;
    const uint64_t increment = run.increment;
    int32_t k = 0;
    for (; k + 4 <= run.frames; k += 4, out += 8) {
        uint64_t p0 = position, p1 = p0 + increment, p2 = p1 + increment, p3 = p2 + increment;
        position = p3 + increment;
        __m128i pairs = _mm_set_epi32(signedFramePair(data, p3), signedFramePair(data, p2),
                                      signedFramePair(data, p1), signedFramePair(data, p0));
        __m128i weights = _mm_set_epi32(weightOf(p3), weightOf(p2), weightOf(p1), weightOf(p0));
        __m128i s0 = _mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16);
        __m128i difference = _mm_sub_epi32(_mm_srai_epi32(pairs, 16), s0);
        __m128d values01 = interpolate(s0, difference, weights, scale);
        __m128d values23 = interpolate(_mm_srli_si128(s0, 8), _mm_srli_si128(difference, 8),
                                       _mm_srli_si128(weights, 8), scale);
        if (RAMP) {
            double frame = k;
            __m128d g0 = _mm_add_pd(gains, _mm_mul_pd(_mm_set1_pd(frame), deltas));
            __m128d g1 = _mm_add_pd(gains, _mm_mul_pd(_mm_set1_pd(frame + 1.0), deltas));
            __m128d g2 = _mm_add_pd(gains, _mm_mul_pd(_mm_set1_pd(frame + 2.0), deltas));
            __m128d g3 = _mm_add_pd(gains, _mm_mul_pd(_mm_set1_pd(frame + 3.0), deltas));
            addTwoFrames(out, values01, g0, g1);
            addTwoFrames(out + 4, values23, g2, g3);
        } else {
            addTwoFrames(out, values01, gains, gains);
            addTwoFrames(out + 4, values23, gains, gains);
        }
    }
    renderLeftoverFrames<RAMP>(run, k, position, interpolationScale);
}

}  // namespace

// Eight taps a step with pmaddwd, four at the end where the row has four more.
int32_t sse2TapSum(const int16_t* row, const int16_t* frames, int32_t taps) {
    __m128i sums = _mm_setzero_si128();
    int32_t j = 0;
    for (; j + 8 <= taps; j += 8) {
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j));
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + j));
        sums = _mm_add_epi32(sums, _mm_madd_epi16(r, f));
    }
    if (j < taps) {
        const __m128i r = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + j));
        const __m128i f = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(frames + j));
        sums = _mm_add_epi32(sums, _mm_madd_epi16(r, f));
    }
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
    return _mm_cvtsi128_si32(sums);
}

namespace {

constexpr MixerKernels SSE2_KERNELS = {render<false>, render<true>, sse2TapSum};

}  // namespace

const MixerKernels* sse2MixerKernels() { return &SSE2_KERNELS; }

#else

const MixerKernels* sse2MixerKernels() { return nullptr; }

#endif
