// WAV files as --render writes them: 16-bit PCM (format 1, a 44-byte header) or 32-bit float
// (format 3, with the fact chunk such files carry: a 58-byte header), stereo, little-endian on
// every machine. The header holds the length, so it is written again once the length is known.
#pragma once

#include <cstdint>
#include <cstdio>

struct WavFormat {
    int32_t rate;
    bool floatSamples;
};

int32_t wavHeaderBytes(const WavFormat& format);
int32_t wavFrameBytes(const WavFormat& format);
// The most frames a WAV file holds: its sizes are counted in 32 bits.
int64_t wavMostFrames(const WavFormat& format);

bool writeWavHeader(FILE* file, const WavFormat& format, int64_t frames);
// Writes `frames` interleaved stereo frames of the format's samples (int16_t or float).
bool writeWavFrames(FILE* file, const WavFormat& format, const void* samples, size_t frames);
