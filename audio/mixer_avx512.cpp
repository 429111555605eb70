// The mixer's kernels for AVX-512, taken only when the processor running the program has it:
// eight frames per step, their arithmetic eight doubles to a register. The conversions between
// single and double precision bound the mixer's speed, and these registers do twice the
// conversions per instruction. Only the functions marked below are compiled for AVX-512.
#include "audio/mixer_kernels.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)

#include <immintrin.h>

#include "audio/mixer.h"

#define AVX512_FUNCTION __attribute__((target("avx2,avx512f")))

// GCC 12 takes the deliberately undefined start values inside its own AVX-512 conversion
// intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace {

inline long long twoPairs(const int16_t* data, uint64_t first, uint64_t second) {
    return static_cast<long long>(uint64_t{framePair(data, first)} |
                                  uint64_t{framePair(data, second)} << 32);
}

// The frames of a step go in the lanes in the order 0, 4, 1, 5, 2, 6, 3, 7: then the products of
// the values with the left and the right gains interleave, within each 128-bit quarter, into
// frames 0 to 3 and frames 4 to 7, as the buffer holds them.
template <bool RAMP>
AVX512_FUNCTION void render(const FrameRun& run) {
    const int16_t* const data = run.data;
    const uint64_t base = evenBase(run);
    const uint64_t increment = run.increment;
    const double interpolationScale = static_cast<double>(INTERPOLATION_SCALE);

    // The weight of a position is its fraction's top 31 bits times the scale: with bit 0 clear,
    // the whole 32-bit fraction times half the scale, the same product.
    const __m512d halfScale = _mm512_set1_pd(interpolationScale * 0.5);
    const __m512i twoTo52Bits = _mm512_set1_epi64(TWO_TO_52_BITS);
    const __m512d twoTo52 = _mm512_set1_pd(TWO_TO_52);
    // Frame k's gains are gain + k x delta, exactly (the caller made sure), so adding eight
    // deltas to them, exact as well, gives the gains eight frames on.
    const __m512d order = _mm512_setr_pd(0.0, 4.0, 1.0, 5.0, 2.0, 6.0, 3.0, 7.0);
    __m512d leftGains = _mm512_add_pd(_mm512_set1_pd(run.gainLeft),
                                      _mm512_mul_pd(order, _mm512_set1_pd(run.deltaLeft)));
    __m512d rightGains = _mm512_add_pd(_mm512_set1_pd(run.gainRight),
                                       _mm512_mul_pd(order, _mm512_set1_pd(run.deltaRight)));
    const __m512d leftSteps = _mm512_set1_pd(8.0 * run.deltaLeft);
    const __m512d rightSteps = _mm512_set1_pd(8.0 * run.deltaRight);
    auto at = [&](uint64_t k) { return static_cast<long long>(base + k * increment); };
    __m512i positions = _mm512_setr_epi64(at(0), at(4), at(1), at(5), at(2), at(6), at(3), at(7));
    const __m512i advance = _mm512_set1_epi64(static_cast<long long>(8 * increment));

    const uint64_t twice = 2 * increment, thrice = 3 * increment;
    const uint64_t fourfold = 4 * increment, eightfold = 8 * increment;
    float* out = run.out;
    uint64_t position = base;
    int32_t k = 0;
    for (; k + 8 <= run.frames; k += 8, out += 16) {
        // Each position straight from the first, so that no frame waits for the one before.
        const uint64_t p0 = position, p1 = p0 + increment, p2 = p0 + twice, p3 = p0 + thrice;
        const uint64_t p4 = p0 + fourfold, p5 = p4 + increment, p6 = p4 + twice, p7 = p4 + thrice;
        position += eightfold;
        // Frames i and i + 1 of each position in one 32-bit load, frame i in the low half.
        __m128i low = _mm_set_epi64x(twoPairs(data, p1, p5), twoPairs(data, p0, p4));
        __m128i high = _mm_set_epi64x(twoPairs(data, p3, p7), twoPairs(data, p2, p6));
        __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        __m256i s0 = _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16);
        __m256i difference = _mm256_sub_epi32(_mm256_srai_epi32(pairs, 16), s0);
        __m512d fractions = _mm512_sub_pd(
            _mm512_castsi512_pd(_mm512_mask_blend_epi32(0x5555, twoTo52Bits, positions)), twoTo52);
        __m512d t = _mm512_mul_pd(fractions, halfScale);
        __m512d values =
            _mm512_add_pd(_mm512_cvtepi32_pd(s0), _mm512_mul_pd(t, _mm512_cvtepi32_pd(difference)));
        __m512d left = _mm512_mul_pd(values, leftGains);
        __m512d right = _mm512_mul_pd(values, rightGains);
        if (RAMP) {
            leftGains = _mm512_add_pd(leftGains, leftSteps);
            rightGains = _mm512_add_pd(rightGains, rightSteps);
        }
        __m512d frames0to3 =
            _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(out)), _mm512_unpacklo_pd(left, right));
        __m512d frames4to7 = _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(out + 8)),
                                           _mm512_unpackhi_pd(left, right));
        _mm256_storeu_ps(out, _mm512_cvtpd_ps(frames0to3));
        _mm256_storeu_ps(out + 8, _mm512_cvtpd_ps(frames4to7));
        positions = _mm512_add_epi64(positions, advance);
    }
    renderLeftoverFrames<RAMP>(run, k, position, interpolationScale);
}

constexpr MixerKernels AVX512_KERNELS = {render<false>, render<true>, WIDER_TAP_SUM};

}  // namespace

const MixerKernels* avx512MixerKernels() { return &AVX512_KERNELS; }

bool processorHasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2");
}

#else

const MixerKernels* avx512MixerKernels() { return nullptr; }
bool processorHasAvx512() { return false; }

#endif
