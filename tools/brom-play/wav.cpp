#include "tools/brom-play/wav.h"

#include <bit>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t FORMAT_PCM = 1;
constexpr uint16_t FORMAT_FLOAT = 3;

void putLe16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void putLe32(uint8_t* at, uint32_t value) {
    putLe16(at, value & 0xFFFF);
    putLe16(at + 2, value >> 16);
}

}  // namespace

int32_t wavHeaderBytes(const WavFormat& format) { return format.floatSamples ? 58 : 44; }

int32_t wavFrameBytes(const WavFormat& format) { return format.floatSamples ? 8 : 4; }

int64_t wavMostFrames(const WavFormat& format) {
    // The RIFF size counts everything after its own 8 bytes.
    return (int64_t{0xFFFFFFFF} - (wavHeaderBytes(format) - 8)) / wavFrameBytes(format);
}

bool writeWavHeader(FILE* file, const WavFormat& format, int64_t frames) {
    const uint32_t frameBytes = static_cast<uint32_t>(wavFrameBytes(format));
    const uint32_t dataBytes = static_cast<uint32_t>(frames * frameBytes);
    const uint32_t headerBytes = static_cast<uint32_t>(wavHeaderBytes(format));
    uint8_t header[58];
    memcpy(header, "RIFF", 4);
    putLe32(header + 4, headerBytes - 8 + dataBytes);
    memcpy(header + 8, "WAVEfmt ", 8);
    putLe32(header + 16, format.floatSamples ? 18 : 16);  // size of the format record
    putLe16(header + 20, format.floatSamples ? FORMAT_FLOAT : FORMAT_PCM);
    putLe16(header + 22, 2);  // stereo
    putLe32(header + 24, static_cast<uint32_t>(format.rate));
    putLe32(header + 28, static_cast<uint32_t>(format.rate) * frameBytes);  // bytes per second
    putLe16(header + 32, frameBytes);
    putLe16(header + 34, frameBytes * 4);  // bits per sample
    uint8_t* data = header + 36;
    if (format.floatSamples) {
        putLe16(header + 36, 0);  // no format extension
        memcpy(header + 38, "fact", 4);
        putLe32(header + 42, 4);
        putLe32(header + 46, static_cast<uint32_t>(frames));  // frames per channel
        data = header + 50;
    }
    memcpy(data, "data", 4);
    putLe32(data + 4, dataBytes);
    return fwrite(header, 1, headerBytes, file) == headerBytes;
}

bool writeWavFrames(FILE* file, const WavFormat& format, const void* samples, size_t frames) {
    const size_t bytes = frames * static_cast<size_t>(wavFrameBytes(format));
    if constexpr (std::endian::native == std::endian::little) {
        return fwrite(samples, 1, bytes, file) == bytes;
    }
    // Each sample's bytes, least significant first.
    std::vector<uint8_t> little(bytes);
    for (size_t k = 0; k < frames * 2; ++k) {
        if (format.floatSamples) {
            putLe32(little.data() + 4 * k,
                    std::bit_cast<uint32_t>(static_cast<const float*>(samples)[k]));
        } else {
            putLe16(little.data() + 2 * k,
                    static_cast<uint16_t>(static_cast<const int16_t*>(samples)[k]));
        }
    }
    return fwrite(little.data(), 1, bytes, file) == bytes;
}
