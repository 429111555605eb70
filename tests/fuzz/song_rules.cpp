// The rules a loaded song keeps, whatever file it came from: every index the player takes from the
// song stays inside the table it indexes.
#include "tests/fuzz/fuzz_targets.h"

namespace {

const char* sampleRuleBroken(const Sample* smp) {
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

const char* envelopeRuleBroken(const Envelope& envelope) {
    const int count = envelope.pointCount;
    if (count > MAX_ENVELOPE_POINTS) return "an envelope has more points than the record holds";
    for (int k = 0; k < MAX_ENVELOPE_POINTS; ++k) {
        if (envelope.points[k].value > 64 || envelope.points[k].value < -64)
            return "an envelope value outside -64..64";
    }
    if (!(envelope.flags & ENVELOPE_ON)) return nullptr;
    if (count < 2) return "an envelope is on with fewer than 2 points";
    if ((envelope.flags & ENVELOPE_SUSTAIN) &&
        (envelope.sustainStart >= count || envelope.sustainEnd >= count)) {
        return "an envelope sustain point is missing";
    }
    if ((envelope.flags & ENVELOPE_LOOP) &&
        (envelope.loopStart >= count || envelope.loopEnd >= count)) {
        return "an envelope loop point is missing";
    }
    return nullptr;
}

const char* instrumentRuleBroken(const Song* song, const Instrument& ins) {
    if (ins.sampleCount < 0 || ins.firstSample < 0 ||
        ins.firstSample + static_cast<int64_t>(ins.sampleCount) > song->sampleCount) {
        return "an instrument's samples lie outside the pool";
    }
    for (const KeyboardEntry& key : ins.keyboard) {
        if (key.sample != NO_SAMPLE && (key.sample < 0 || key.sample >= song->sampleCount))
            return "a keyboard entry names a sample outside the pool";
        if (key.note >= NOTE_COUNT) return "a keyboard entry plays a note outside 0..119";
    }
    const Envelope* envelopes[] = {&ins.volumeEnvelope, &ins.panningEnvelope, &ins.pitchEnvelope};
    for (const Envelope* envelope : envelopes) {
        if (const char* broken = envelopeRuleBroken(*envelope)) return broken;
    }
    return nullptr;
}

}  // namespace

const char* songRuleBroken(const Song* song) {
    if (!song) return "no song";
    if (song->channelCount < 1 || song->channelCount > MAX_SONG_CHANNELS)
        return "channel count outside 1..64";
    if (song->songLength < 1 || song->songLength > 256) return "song length outside 1..256";
    if (song->restartPosition < 0 || song->restartPosition >= song->songLength) {
        return "restart position outside the song";
    }
    if (song->defaultBpm < 1) return "default tempo below 1";
    if (!song->patterns) return "no pattern table";
    if (song->patternCount < song->usedPatternCount) return "fewer patterns than the orders use";
    for (int i = 0; i < song->songLength; ++i) {
        const uint16_t entry = song->orderTable[i];
        if (entry != ORDER_SKIP && entry != ORDER_END && entry >= song->patternCount)
            return "an order names a missing pattern";
    }
    if (song->sampleCount < 0 || song->sampleCount > MAX_SONG_SAMPLES)
        return "sample pool count outside 0..MAX_SONG_SAMPLES";
    for (int32_t k = 0; k < song->sampleCount; ++k) {
        if (const char* broken = sampleRuleBroken(&song->samples[k])) return broken;
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
        if (const char* broken = instrumentRuleBroken(song, song->instruments[i])) return broken;
    }
    return nullptr;
}
