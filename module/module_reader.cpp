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

// The bytes that hold `frames` frames of `bits` bits.
int64_t dataBytes(const Sample* smp) { return static_cast<int64_t>(smp->bits) * smp->length / 8; }

// Cuts a sample to the frames the file still holds; false when none are left.
bool fitSampleToFile(Sample* smp, Reader& reader) {
    int64_t available = bytesLeft(reader);
    if (dataBytes(smp) <= available) return true;
    smp->length = static_cast<uint32_t>(smp->bits == 16 ? available / 2 : available);
    if (smp->loopMode == LOOP_NONE) smp->loopLength = smp->length;
    clampLoop(smp);
    if (smp->length > 0) return true;
    smp->loopStart = 0;
    smp->loopLength = 0;
    smp->loopMode = LOOP_NONE;
    return false;
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
    if (!fitSampleToFile(smp, reader)) return 1;
    const int64_t byteCount = dataBytes(smp);
    // Both widths end up as length + 8 zeroed 16-bit frames; 16-bit data is read in place.
    size_t bufferBytes = 2 * static_cast<size_t>(smp->length) + 16;
    auto* buffer = static_cast<uint8_t*>(calloc(bufferBytes, 1));
    if (!buffer) return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for sample data");
    if (smp->bits == 8) {
        smp->data = static_cast<int16_t*>(calloc(smp->length + 8, sizeof(int16_t)));
        if (!smp->data) {
            free(buffer);
            return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for sample data");
        }
    }
    if (song->sampleDataHook) {
        song->sampleDataHook(buffer, static_cast<int>(byteCount), smp->bits, instrumentIndex, slot);
        streamSeek(reader.stream, static_cast<int32_t>(byteCount), STREAM_SEEK_CUR);
    } else {
        streamRead(buffer, static_cast<int>(byteCount), reader.stream);
    }
    if (smp->bits == 8) {
        for (uint32_t k = 0; k < smp->length; ++k) {
            smp->data[k] = static_cast<int16_t>(static_cast<int8_t>(buffer[k]) * 256);
        }
        smp->bits = 16;
        free(buffer);
    } else {
        smp->data = reinterpret_cast<int16_t*>(buffer);
    }
    // A hook hands over plain frames.
    if (coding.deltaCoded && !song->sampleDataHook) undoDeltaCoding(smp);
    // The frame at the loop end is the interpolation partner of the loop's last frame.
    uint32_t loopEnd = smp->loopStart + smp->loopLength;
    if (smp->loopMode == LOOP_PINGPONG) smp->data[loopEnd] = smp->data[loopEnd - 1];
    if (smp->loopMode == LOOP_FORWARD) smp->data[loopEnd] = smp->data[smp->loopStart];
    return 1;
}
