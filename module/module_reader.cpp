#include "module/module_reader.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

int64_t measureFile(ModuleStream* stream) {
    uint8_t scratch[16384];
    streamSeek(stream, 0, STREAM_SEEK_SET);
    int64_t size = 0;
    for (;;) {
        int got = streamRead(scratch, sizeof scratch, stream);
        if (got <= 0) break;
        size += got;
        if (size >= INT32_MAX) return INT32_MAX;
    }
    streamSeek(stream, 0, STREAM_SEEK_SET);
    return size;
}

// The bytes that hold one channel of the sample's frames.
int64_t channelBytes(const Sample* smp) {
    return static_cast<int64_t>(smp->bits) * smp->length / 8;
}

// Cuts a sample to the frames the file still holds; false when none are left. A stereo sample
// whose right channel is cut keeps its left channel: *stereo is cleared.
bool fitSampleToFile(Sample* smp, Reader& reader, bool* stereo) {
    int64_t available = bytesLeft(reader);
    if (channelBytes(smp) * (*stereo ? 2 : 1) <= available) return true;
    *stereo = false;
    if (channelBytes(smp) <= available) return true;
    smp->length = static_cast<uint32_t>(smp->bits == 16 ? available / 2 : available);
    if (smp->loopMode == LOOP_NONE) smp->loopLength = smp->length;
    clampLoop(smp);
    if (smp->length > 0) return true;
    smp->loopStart = 0;
    smp->loopLength = 0;
    smp->loopMode = LOOP_NONE;
    return false;
}

// Frame k of one channel of `bits`-bit data as a signed 16-bit value.
int32_t frameAt(const uint8_t* bytes, uint32_t k, int bits, bool unsignedData) {
    if (bits == 8) return static_cast<int8_t>(bytes[k] ^ (unsignedData ? 0x80 : 0)) * 256;
    const auto value = static_cast<uint16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
    return static_cast<int16_t>(value ^ (unsignedData ? 0x8000 : 0));
}

void undoDeltaCoding(Sample* smp) {
    uint16_t sum = 0;
    for (uint32_t k = 0; k < smp->length; ++k) {
        sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(smp->data[k]));
        smp->data[k] = static_cast<int16_t>(sum);
    }
}

}  // namespace

Reader openReader(ModuleStream* stream, LoadError* error) {
    *error = {LoadFailure::NONE, ""};
    return {stream, stream ? measureFile(stream) : 0, error};
}

int fail(Reader& reader, LoadFailure kind, const char* reason) {
    *reader.error = {kind, reason};
    return 0;
}

void noteRepair(Song* song, const char* format, ...) {
    if (song->repairCount < REPAIR_NOTE_SLOTS) {
        va_list args;
        va_start(args, format);
        vsnprintf(song->repairNotes[song->repairCount], REPAIR_NOTE_SIZE, format, args);
        va_end(args);
    }
    ++song->repairCount;
}

bool readExact(Reader& reader, void* buffer, int size) {
    return streamRead(buffer, size, reader.stream) == size;
}

int64_t bytesLeft(Reader& reader) {
    int64_t left = reader.fileSize - streamTell(reader.stream);
    return left < 0 ? 0 : left;
}

bool seekTo(Reader& reader, int64_t position) {
    if (position < 0 || position > INT32_MAX) return false;
    streamSeek(reader.stream, static_cast<int32_t>(position), STREAM_SEEK_SET);
    return true;
}

void clampLoop(Sample* smp) {
    if (smp->loopMode == LOOP_NONE) return;
    if (smp->loopStart >= smp->length) {
        smp->loopMode = LOOP_NONE;
        smp->loopStart = 0;
        smp->loopLength = smp->length;
    } else if (static_cast<uint64_t>(smp->loopStart) + smp->loopLength > smp->length) {
        smp->loopLength = smp->length - smp->loopStart;
    }
}

int readSampleData(Song* song, Sample* smp, Reader& reader, int instrumentIndex, int slot,
                   SampleCoding coding) {
    const bool storedStereo = coding.stereo;
    if (!fitSampleToFile(smp, reader, &coding.stereo)) return 1;
    const int64_t byteCount = channelBytes(smp);
    const int64_t storedBytes = byteCount * (storedStereo ? 2 : 1);
    // Data arrives in `buffer` (both channels, when there are two) and ends up as length + 8
    // zeroed 16-bit frames.
    const size_t bufferBytes = static_cast<size_t>(byteCount) * (coding.stereo ? 2 : 1) + 16;
    auto* buffer = static_cast<uint8_t*>(calloc(bufferBytes, 1));
    smp->data = static_cast<int16_t*>(calloc(smp->length + 8, sizeof(int16_t)));
    if (!buffer || !smp->data) {
        free(buffer);
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for sample data");
    }
    const int bits = smp->bits;
    const int64_t start = streamTell(reader.stream);
    if (song->sampleDataHook) {
        song->sampleDataHook(buffer, static_cast<int>(byteCount), bits, instrumentIndex, slot);
        // The hook's frames are plain: signed, one channel, no deltas.
        coding = {false, false, false};
    } else {
        streamRead(buffer, static_cast<int>(byteCount * (coding.stereo ? 2 : 1)), reader.stream);
    }
    const int64_t end = start + storedBytes;
    seekTo(reader, end < reader.fileSize ? end : reader.fileSize);
    const uint8_t* right = buffer + byteCount;
    for (uint32_t k = 0; k < smp->length; ++k) {
        int32_t value = frameAt(buffer, k, bits, coding.unsignedData);
        if (coding.stereo) value = (value + frameAt(right, k, bits, coding.unsignedData)) / 2;
        smp->data[k] = static_cast<int16_t>(value);
    }
    free(buffer);
    smp->bits = 16;
    if (coding.deltaCoded) undoDeltaCoding(smp);
    // The frame at the loop end is the interpolation partner of the loop's last frame.
    uint32_t loopEnd = smp->loopStart + smp->loopLength;
    if (smp->loopMode == LOOP_PINGPONG) smp->data[loopEnd] = smp->data[loopEnd - 1];
    if (smp->loopMode == LOOP_FORWARD) smp->data[loopEnd] = smp->data[smp->loopStart];
    return 1;
}
