#include "module/it_samples.h"

namespace {

// Reads a block's bits, lowest bit of each byte first.
struct BitReader {
    const uint8_t* bytes;
    size_t size;
    size_t bit;
};

bool readBits(BitReader& reader, int count, uint32_t* value) {
    if (reader.bit + static_cast<size_t>(count) > reader.size * 8) return false;
    uint32_t v = 0;
    for (int k = 0; k < count; ++k) {
        const size_t at = reader.bit + static_cast<size_t>(k);
        v |= static_cast<uint32_t>((reader.bytes[at >> 3] >> (at & 7)) & 1) << k;
    }
    reader.bit += static_cast<size_t>(count);
    *value = v;
    return true;
}

int32_t signExtend(uint32_t value, int width) {
    const uint32_t sign = 1u << (width - 1);
    return static_cast<int32_t>((value ^ sign) - sign);
}

// A width change names the new width less one, skipping the width in use (it would change
// nothing): values at or above the current width name the one after.
int nextWidth(uint32_t code, int width) {
    const int named = static_cast<int>(code) + 1;
    return named >= width ? named + 1 : named;
}

// Decodes one block; returns the frames it gave.
uint32_t decodeBlock(BitReader reader, int16_t* out, uint32_t frames, int bits, bool doubleDelta) {
    const int widest = bits + 1;  // the starting width; its top bit marks a width change
    const int changeBits = bits == 8 ? 3 : 4;  // the new width's bits after a narrow marker
    const uint32_t band = bits == 8 ? 8 : 16;  // the values a middle width reserves for changes
    const uint32_t mask = bits == 8 ? 0xFFu : 0xFFFFu;
    int width = widest;
    uint32_t first = 0;  // the running sum of the differences, in `bits` bits
    uint32_t second = 0;  // its running sum (2.15)
    uint32_t done = 0;
    while (done < frames) {
        uint32_t value;
        if (!readBits(reader, width, &value)) break;
        int32_t delta;
        if (width < 7) {
            // The most negative value announces a change.
            if (value == 1u << (width - 1)) {
                uint32_t code;
                if (!readBits(reader, changeBits, &code)) break;
                width = nextWidth(code, width);
                continue;
            }
            delta = signExtend(value, width);
        } else if (width < widest) {
            // The `band` values around the sign boundary announce a change.
            const uint32_t border = (1u << (width - 1)) - band / 2;
            if (value >= border && value < border + band) {
                width = nextWidth(value - border, width);
                continue;
            }
            delta = signExtend(value, width);
        } else {
            if (value & (1u << bits)) {
                width = nextWidth(value & 0xFF, width);
                if (width > widest) break;  // no encoder writes it: the data is damaged
                continue;
            }
            delta = signExtend(value & mask, bits);
        }
        first = (first + static_cast<uint32_t>(delta)) & mask;
        second = (second + first) & mask;
        const int32_t frame = signExtend(doubleDelta ? second : first, bits);
        out[done++] = static_cast<int16_t>(bits == 8 ? frame * 256 : frame);
    }
    return done;
}

}  // namespace

uint32_t decompressItSample(const uint8_t* bytes, size_t size, int16_t* out, uint32_t frameCount,
                            int bits, bool doubleDelta, size_t* consumed) {
    size_t at = 0;
    uint32_t decoded = 0;
    while (decoded < frameCount && at + 2 <= size) {
        const size_t blockBytes = static_cast<size_t>(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        const size_t held = blockBytes < size - at ? blockBytes : size - at;
        const uint32_t left = frameCount - decoded;
        const uint32_t want = left < itBlockFrames(bits) ? left : itBlockFrames(bits);
        const uint32_t got =
            decodeBlock({bytes + at, held, 0}, out + decoded, want, bits, doubleDelta);
        decoded += got;
        at += held;
        if (got < want || held < blockBytes) break;
    }
    if (consumed) *consumed = at;
    return decoded;
}
