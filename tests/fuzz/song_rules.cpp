// The rules a loaded song keeps, whatever file it came from: every index the player takes from the
// song stays inside the table it indexes.
#include "tests/fuzz/fuzz_targets.h"

namespace {

const char* sampleRuleBroken(const Sample* smp) {
    if (!smp) return "a sample slot below the sample count is null";
    if (smp->length == 0) return smp->data ? "an empty sample has data" : nullptr;
    if (!smp->data) return "a sample with frames has no data";
    if (smp->bits != 16) return "sample data is not 16-bit";
    if (smp->loopMode != LOOP_NONE && smp->loopMode != LOOP_FORWARD &&
        smp->loopMode != LOOP_PINGPONG) {
        return "unknown loop mode";
    }
    if (smp->loopLength == 0) return "a sample with frames has a loop length of 0";
    if (static_cast<uint64_t>(smp->loopStart) + smp->loopLength > smp->length) {
        return "a sample loop reaches beyond the sample";
    }
    // Every frame and the guard frames after the end must be readable; reading them lets the
    // address sanitizer check the allocation's size. The sum only keeps the reads: it is unsigned
    // so that it wraps instead of overflowing on a long loud sample.
    volatile uint32_t sum = 0;
    for (uint64_t k = 0; k < uint64_t{smp->length} + 8; ++k) {
        sum = sum + static_cast<uint16_t>(smp->data[k]);
    }
    return nullptr;
}

const char* envelopeRuleBroken(const EnvelopePoint* points, uint8_t count, uint8_t flags,
                               uint8_t sustain, uint8_t loopStart, uint8_t loopEnd) {
    if (count > MAX_ENVELOPE_POINTS) return "an envelope has more than 12 points";
    for (int k = 0; k < MAX_ENVELOPE_POINTS; ++k) {
        if (points[k].value > 64) return "an envelope value above 64";
    }
    if (!(flags & ENVELOPE_ON)) return nullptr;
    if (count < 2) return "an envelope is on with fewer than 2 points";
    if ((flags & ENVELOPE_SUSTAIN) && sustain >= count)
        return "an envelope sustain point is missing";
    if ((flags & ENVELOPE_LOOP) && (loopStart >= count || loopEnd >= count)) {
        return "an envelope loop point is missing";
    }
    return nullptr;
}

const char* instrumentRuleBroken(const Instrument& ins) {
    if (ins.sampleCount < 0 || ins.sampleCount > MAX_INSTRUMENT_SAMPLES) {
        return "an instrument's sample count is outside 0..16";
    }
    for (int j = 0; j < MAX_INSTRUMENT_SAMPLES; ++j) {
        if (j >= ins.sampleCount) {
            if (ins.samples[j] != &emptySample)
                return "an unused sample slot is not the empty sample";
            continue;
        }
        if (const char* broken = sampleRuleBroken(ins.samples[j])) return broken;
    }
    if (const char* broken =
            envelopeRuleBroken(ins.volumePoints, ins.volumePointCount, ins.volumeEnvelopeFlags,
                               ins.volumeSustainPoint, ins.volumeLoopStart, ins.volumeLoopEnd)) {
        return broken;
    }
    return envelopeRuleBroken(ins.panningPoints, ins.panningPointCount, ins.panningEnvelopeFlags,
                              ins.panningSustainPoint, ins.panningLoopStart, ins.panningLoopEnd);
}

}  // namespace

const char* songRuleBroken(const Song* song) {
    if (!song) return "no song";
    if (song->channelCount < 1 || song->channelCount > 32) return "channel count outside 1..32";
    if (song->songLength < 1 || song->songLength > 256) return "song length outside 1..256";
    if (song->restartPosition < 0 || song->restartPosition >= song->songLength) {
        return "restart position outside the song";
    }
    if (song->defaultBpm < 1) return "default tempo below 1";
    if (!song->tickHandler) return "no tick handler";
    if (!song->patterns) return "no pattern table";
    if (song->patternCount < song->usedPatternCount) return "fewer patterns than the orders use";
    for (int i = 0; i < song->songLength; ++i) {
        if (song->orderTable[i] >= song->patternCount) return "an order names a missing pattern";
    }
    for (int p = 0; p < song->patternCount; ++p) {
        const Pattern& pattern = song->patterns[p];
        if (pattern.rowCount < 0 || pattern.rowCount > 0xFFFF) return "row count outside 0..65535";
        if (!pattern.cells) return "a pattern has no cells";
        // The last cell must exist; the address sanitizer checks the read.
        int64_t cellCount = static_cast<int64_t>(song->channelCount) * pattern.rowCount;
        if (cellCount > 0) {
            volatile uint8_t last = pattern.cells[cellCount - 1].note;
            (void)last;
        }
    }
    if (song->instrumentCount > 0 && !song->instruments) return "no instrument table";
    for (int i = 0; i < song->instrumentCount; ++i) {
        if (const char* broken = instrumentRuleBroken(song->instruments[i])) return broken;
    }
    return nullptr;
}
