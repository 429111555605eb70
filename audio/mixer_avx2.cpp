// The mixer's kernels for AVX2, taken only when the processor running the program has it: four
// frames per step, their positions in one register of 64-bit lanes (and in ordinary registers for
// the loads, which beat the gather instructions), the arithmetic four doubles to a register. Only
// the functions marked below are compiled for AVX2, so that nothing else in the program comes to
// need it.
#include "audio/mixer_kernels.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)

#include <immintrin.h>

#include "audio/mixer.h"

#define AVX2_FUNCTION __attribute__((target("avx2")))

namespace {

// The frames of a step go in the lanes in the order 0, 2, 1, 3: then the products of the values
// with the left and the right gains interleave, within each half, into frames 0 and 1 and frames
// 2 and 3, as the buffer holds them.
template <bool RAMP>
AVX2_FUNCTION void render(const FrameRun& run) {
    const int16_t* const data = run.data;
    const uint64_t base = evenBase(run);
    const uint64_t increment = run.increment;
    const double interpolationScale = static_cast<double>(INTERPOLATION_SCALE);

    // The weight of a position is its fraction's top 31 bits times the scale: with bit 0 clear,
    // the whole 32-bit fraction times half the scale, the same product.
    const __m256d halfScale = _mm256_set1_pd(interpolationScale * 0.5);
    const __m256i twoTo52Bits = _mm256_set1_epi64x(TWO_TO_52_BITS);
    const __m256d twoTo52 = _mm256_set1_pd(TWO_TO_52);
    // Frame k's gains are gain + k x delta, exactly (the caller made sure), so adding four deltas
    // to them, exact as well, gives the gains four frames on.
    __m256d leftGains = _mm256_add_pd(
        _mm256_set1_pd(run.gainLeft),
        _mm256_mul_pd(_mm256_setr_pd(0.0, 2.0, 1.0, 3.0), _mm256_set1_pd(run.deltaLeft)));
    __m256d rightGains = _mm256_add_pd(
        _mm256_set1_pd(run.gainRight),
        _mm256_mul_pd(_mm256_setr_pd(0.0, 2.0, 1.0, 3.0), _mm256_set1_pd(run.deltaRight)));
    const __m256d leftSteps = _mm256_set1_pd(4.0 * run.deltaLeft);
    const __m256d rightSteps = _mm256_set1_pd(4.0 * run.deltaRight);
    __m256i positions = _mm256_setr_epi64x(
        static_cast<long long>(base), static_cast<long long>(base + 2 * increment),
        static_cast<long long>(base + increment), static_cast<long long>(base + 3 * increment));
    const __m256i advance = _mm256_set1_epi64x(static_cast<long long>(4 * increment));

    const uint64_t twice = 2 * increment, thrice = 3 * increment, fourfold = 4 * increment;
    float* out = run.out;
    uint64_t position = base;
    int32_t k = 0;
    for (; k + 4 <= run.frames; k += 4, out += 8) {
        // Each position straight from the first, so that no frame waits for the one before.
        const uint64_t p0 = position, p1 = p0 + increment, p2 = p0 + twice, p3 = p0 + thrice;
        position += fourfold;
        // Frames i and i + 1 of each position in one 32-bit load, frame i in the low half; joined
        // two by two in ordinary registers, which saves moves into the vector unit.
        uint64_t pairs02 = uint64_t{framePair(data, p0)} | uint64_t{framePair(data, p2)} << 32;
        uint64_t pairs13 = uint64_t{framePair(data, p1)} | uint64_t{framePair(data, p3)} << 32;
        __m128i pairs =
            _mm_set_epi64x(static_cast<long long>(pairs13), static_cast<long long>(pairs02));
        __m128i s0 = _mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16);
        __m128i difference = _mm_sub_epi32(_mm_srai_epi32(pairs, 16), s0);
        __m256d fractions = _mm256_sub_pd(
            _mm256_castsi256_pd(_mm256_blend_epi32(twoTo52Bits, positions, 0x55)), twoTo52);
        __m256d t = _mm256_mul_pd(fractions, halfScale);
        __m256d values =
            _mm256_add_pd(_mm256_cvtepi32_pd(s0), _mm256_mul_pd(t, _mm256_cvtepi32_pd(difference)));
        __m256d left = _mm256_mul_pd(values, leftGains);
        __m256d right = _mm256_mul_pd(values, rightGains);
        if (RAMP) {
            leftGains = _mm256_add_pd(leftGains, leftSteps);
            rightGains = _mm256_add_pd(rightGains, rightSteps);
        }
        __m256d frames01 =
            _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(out)), _mm256_unpacklo_pd(left, right));
        __m256d frames23 =
            _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(out + 4)), _mm256_unpackhi_pd(left, right));
        _mm_storeu_ps(out, _mm256_cvtpd_ps(frames01));
        _mm_storeu_ps(out + 4, _mm256_cvtpd_ps(frames23));
        positions = _mm256_add_epi64(positions, advance);
    }
    renderLeftoverFrames<RAMP>(run, k, position, interpolationScale);
}

constexpr MixerKernels AVX2_KERNELS = {render<false>, render<true>, WIDER_TAP_SUM};

}  // namespace

const MixerKernels* avx2MixerKernels() { return &AVX2_KERNELS; }

bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#else

const MixerKernels* avx2MixerKernels() { return nullptr; }
bool processorHasAvx2() { return false; }

#endif
