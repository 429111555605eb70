#include "audio/pcm.h"

#include <cmath>

void convertToPcm16(int16_t* destination, const float* source, int32_t frameCount) {
    if (frameCount <= 0 || !destination || !source) return;
    int64_t sampleCount = static_cast<int64_t>(frameCount) * 2;
    for (int64_t k = 0; k < sampleCount; ++k) {
        float x = source[k];
        // Saturating before rounding gives the same result as rounding first, and keeps values
        // far outside the 32-bit range from wrapping on the way.
        int32_t value;
        if (x >= 32767.0f) {
            value = 32767;
        } else if (x <= -32768.0f) {
            value = -32768;
        } else {
            value = static_cast<int32_t>(std::lrint(x));  // default rounding: nearest, ties to even
        }
        destination[k] = static_cast<int16_t>(value);
    }
}
