#include "display/pixel_formats.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// One pixel each, as the formats define them. The grouped paths below must give the same bits;
// they also finish every row whose length is not a multiple of their group.

inline uint32_t red(uint32_t p) { return (p >> 16) & 0xFF; }
inline uint32_t green(uint32_t p) { return (p >> 8) & 0xFF; }
inline uint32_t blue(uint32_t p) { return p & 0xFF; }

inline uint16_t pixel565(uint32_t p) {
    return static_cast<uint16_t>((red(p) >> 3) << 11 | (green(p) >> 2) << 5 | blue(p) >> 3);
}
inline uint16_t pixelBgr565(uint32_t p) {
    return static_cast<uint16_t>((blue(p) >> 3) << 11 | (green(p) >> 2) << 5 | red(p) >> 3);
}
inline uint16_t pixel555(uint32_t p) {
    return static_cast<uint16_t>((red(p) >> 3) << 10 | (green(p) >> 3) << 5 | blue(p) >> 3);
}
inline uint16_t pixelBgr555(uint32_t p) {
    return static_cast<uint16_t>((blue(p) >> 3) << 10 | (green(p) >> 3) << 5 | red(p) >> 3);
}

inline void store16(uint8_t* d, uint16_t v) {
    d[0] = static_cast<uint8_t>(v);
    d[1] = static_cast<uint8_t>(v >> 8);
}
inline void store32(uint8_t* d, uint32_t v) {
    d[0] = static_cast<uint8_t>(v);
    d[1] = static_cast<uint8_t>(v >> 8);
    d[2] = static_cast<uint8_t>(v >> 16);
    d[3] = static_cast<uint8_t>(v >> 24);
}

#if defined(__SSE2__)

inline __m128i maskOf(uint32_t m) { return _mm_set1_epi32(static_cast<int>(m)); }

// Four pixels at a time: each 32-bit lane gets its 16-bit result in its low half.
inline __m128i lanes565(__m128i p) {
    __m128i r = _mm_and_si128(_mm_srli_epi32(p, 8), maskOf(0xF800));
    __m128i g = _mm_and_si128(_mm_srli_epi32(p, 5), maskOf(0x07E0));
    __m128i b = _mm_and_si128(_mm_srli_epi32(p, 3), maskOf(0x001F));
    return _mm_or_si128(_mm_or_si128(r, g), b);
}
inline __m128i lanesBgr565(__m128i p) {
    __m128i b = _mm_and_si128(_mm_slli_epi32(p, 8), maskOf(0xF800));
    __m128i g = _mm_and_si128(_mm_srli_epi32(p, 5), maskOf(0x07E0));
    __m128i r = _mm_and_si128(_mm_srli_epi32(p, 19), maskOf(0x001F));
    return _mm_or_si128(_mm_or_si128(r, g), b);
}
inline __m128i lanes555(__m128i p) {
    __m128i r = _mm_and_si128(_mm_srli_epi32(p, 9), maskOf(0x7C00));
    __m128i g = _mm_and_si128(_mm_srli_epi32(p, 6), maskOf(0x03E0));
    __m128i b = _mm_and_si128(_mm_srli_epi32(p, 3), maskOf(0x001F));
    return _mm_or_si128(_mm_or_si128(r, g), b);
}
inline __m128i lanesBgr555(__m128i p) {
    __m128i b = _mm_and_si128(_mm_slli_epi32(p, 7), maskOf(0x7C00));
    __m128i g = _mm_and_si128(_mm_srli_epi32(p, 6), maskOf(0x03E0));
    __m128i r = _mm_and_si128(_mm_srli_epi32(p, 19), maskOf(0x001F));
    return _mm_or_si128(_mm_or_si128(r, g), b);
}

// The packing instruction saturates as signed 16-bit; sign-extending each lane's low half first
// makes it keep the 16 bits exactly, whatever the top bit.
inline __m128i packLow16(__m128i a, __m128i b) {
    a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
    b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
    return _mm_packs_epi32(a, b);
}

// Converts whole groups of eight pixels; returns how many pixels it converted.
template <__m128i (*lanes)(__m128i)>
int convertGroups16(const uint32_t* source, uint8_t* destination, int count) {
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 2 * i),
                         packLow16(lanes(a), lanes(b)));
    }
    return i;
}

// Red and blue trade places in each 32-bit lane; the top byte is dropped.
inline __m128i swapRedBlue(__m128i p) {
    __m128i b = _mm_and_si128(_mm_slli_epi32(p, 16), maskOf(0xFF0000));
    __m128i g = _mm_and_si128(p, maskOf(0x00FF00));
    __m128i r = _mm_and_si128(_mm_srli_epi32(p, 16), maskOf(0x0000FF));
    return _mm_or_si128(_mm_or_si128(b, g), r);
}

// Four pixels to their twelve bytes (the low three of each) in bytes 0 to 11; bytes 12 to 15 are 0.
inline __m128i pack24(__m128i p) {
    const __m128i lowPixel = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
    const __m128i highPixel =
        _mm_set_epi32(0xFFFF, static_cast<int>(0xFF000000u), 0xFFFF, static_cast<int>(0xFF000000u));
    // Within each 64-bit lane: pixel 0 in bytes 0 to 2, pixel 1 moved down to bytes 3 to 5.
    __m128i lanes =
        _mm_or_si128(_mm_and_si128(p, lowPixel), _mm_and_si128(_mm_srli_epi64(p, 8), highPixel));
    // The upper lane's six bytes joined right after the lower lane's.
    const __m128i firstSix = _mm_set_epi32(0, 0, 0xFFFF, -1);
    const __m128i nextSix = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0);
    return _mm_or_si128(_mm_and_si128(lanes, firstSix),
                        _mm_and_si128(_mm_srli_si128(lanes, 2), nextSix));
}

inline __m128i load4(const uint32_t* source, bool swap) {
    __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    return swap ? swapRedBlue(p) : p;
}

// Sixteen pixels a step, as three 16-byte stores; returns how many pixels it converted.
int convertGroups24(const uint32_t* source, uint8_t* destination, int count, bool swap) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i a = pack24(load4(source + i, swap));
        __m128i b = pack24(load4(source + i + 4, swap));
        __m128i c = pack24(load4(source + i + 8, swap));
        __m128i d = pack24(load4(source + i + 12, swap));
        __m128i* out = reinterpret_cast<__m128i*>(destination + 3 * i);
        _mm_storeu_si128(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    return i;
}

#else

int convertGroups24(const uint32_t*, uint8_t*, int, bool) { return 0; }

#endif

template <uint16_t (*pixel)(uint32_t)>
void convertTail16(const uint32_t* source, uint8_t* destination, int from, int count) {
    for (int i = from; i < count; ++i) store16(destination + 2 * i, pixel(source[i]));
}

#if defined(__SSE2__)
#define CONVERT_16(lanes, pixel)                                                                  \
    convertTail16<pixel>(source, destination, convertGroups16<lanes>(source, destination, count), \
                         count)
#else
#define CONVERT_16(lanes, pixel) convertTail16<pixel>(source, destination, 0, count)
#endif

}  // namespace

void convertCopy32(const uint32_t* source, uint8_t* destination, int count) {
    if (count <= 0) return;
    if constexpr (std::endian::native == std::endian::little) {
        memcpy(destination, source, static_cast<size_t>(count) * 4);
    } else {
        for (int i = 0; i < count; ++i) store32(destination + 4 * i, source[i]);
    }
}

void convertSwap32(const uint32_t* source, uint8_t* destination, int count) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 4 * i), load4(source + i, true));
    }
#endif
    for (; i < count; ++i) {
        uint32_t p = source[i];
        store32(destination + 4 * i, blue(p) << 16 | green(p) << 8 | red(p));
    }
}

void convertTo24(const uint32_t* source, uint8_t* destination, int count) {
    int i = convertGroups24(source, destination, count, false);
    if constexpr (std::endian::native == std::endian::little) {
        // Four pixels make twelve bytes: one 8-byte and one 4-byte store.
        for (; i + 4 <= count; i += 4) {
            uint64_t p0 = source[i] & 0xFFFFFF, p1 = source[i + 1] & 0xFFFFFF;
            uint64_t p2 = source[i + 2] & 0xFFFFFF, p3 = source[i + 3] & 0xFFFFFF;
            uint64_t low = p0 | p1 << 24 | p2 << 48;
            uint32_t high = static_cast<uint32_t>(p2 >> 16 | p3 << 8);
            memcpy(destination + 3 * i, &low, 8);
            memcpy(destination + 3 * i + 8, &high, 4);
        }
    }
    for (; i < count; ++i) {
        uint8_t* d = destination + 3 * i;
        d[0] = static_cast<uint8_t>(blue(source[i]));
        d[1] = static_cast<uint8_t>(green(source[i]));
        d[2] = static_cast<uint8_t>(red(source[i]));
    }
}

void convertSwapTo24(const uint32_t* source, uint8_t* destination, int count) {
    for (int i = convertGroups24(source, destination, count, true); i < count; ++i) {
        uint8_t* d = destination + 3 * i;
        d[0] = static_cast<uint8_t>(red(source[i]));
        d[1] = static_cast<uint8_t>(green(source[i]));
        d[2] = static_cast<uint8_t>(blue(source[i]));
    }
}

void convertTo565(const uint32_t* source, uint8_t* destination, int count) {
    CONVERT_16(lanes565, pixel565);
}

void convertToBgr565(const uint32_t* source, uint8_t* destination, int count) {
    CONVERT_16(lanesBgr565, pixelBgr565);
}

void convertTo555(const uint32_t* source, uint8_t* destination, int count) {
    CONVERT_16(lanes555, pixel555);
}

void convertToBgr555(const uint32_t* source, uint8_t* destination, int count) {
    CONVERT_16(lanesBgr555, pixelBgr555);
}

namespace {

struct ConverterFormat {
    uint32_t bitCount, redMask, greenMask, blueMask;
    PixelConverter converter;
};

// Tested in this order; the first full match wins.
const ConverterFormat CONVERTER_FORMATS[] = {
    {32, 0xFF0000, 0xFF00, 0xFF, convertCopy32}, {32, 0xFF, 0xFF00, 0xFF0000, convertSwap32},
    {24, 0xFF0000, 0xFF00, 0xFF, convertTo24},   {24, 0xFF, 0xFF00, 0xFF0000, convertSwapTo24},
    {16, 0xF800, 0x7E0, 0x1F, convertTo565},     {16, 0x1F, 0x7E0, 0xF800, convertToBgr565},
    {16, 0x7C00, 0x3E0, 0x1F, convertTo555},     {16, 0x1F, 0x3E0, 0x7C00, convertToBgr555},
};

}  // namespace

PixelConverter selectConverter(uint32_t bitCount, uint32_t redMask, uint32_t greenMask,
                               uint32_t blueMask) {
    for (const ConverterFormat& f : CONVERTER_FORMATS) {
        if (f.bitCount == bitCount && f.redMask == redMask && f.greenMask == greenMask &&
            f.blueMask == blueMask)
            return f.converter;
    }
    return nullptr;
}
