// What the loaders share: a Reader over a stream whose size is measured before anything is read,
// so that sizes taken from a damaged header are checked against the bytes really there before
// anything is allocated; the failure report; and the sample data rules (loops brought inside the
// sample, frames converted to 16 bits with guard frames after the end).
//
//     Reader reader = openReader(stream, &error);
//     if (!readExact(reader, header, sizeof header))
//         return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its header");
#pragma once

#include <cstdint>

#include "module/file_access.h"
#include "module/song.h"

struct Reader {
    ModuleStream* stream;
    int64_t fileSize;
    LoadError* error;
};

// A reader at the start of the stream (which may be null) with its size measured; *error, where
// failures go, is cleared.
Reader openReader(ModuleStream* stream, LoadError* error);
// Stores the failure and returns 0, so that a loader can `return fail(...)`.
int fail(Reader& reader, LoadFailure kind, const char* reason);
// Adds a line to the song's repair notes (see Song::repairNotes).
[[gnu::format(printf, 2, 3)]] void noteRepair(Song* song, const char* format, ...);
// Little-endian numbers in file bytes.
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
bool readExact(Reader& reader, void* buffer, int size);
int64_t bytesLeft(Reader& reader);
bool seekTo(Reader& reader, int64_t position);

// Puts a loop that reaches beyond the sample back inside it; a loop starting at or beyond the end
// is no loop.
void clampLoop(Sample* smp);

// How a sample's frames are stored in the file.
struct SampleCoding {
    bool deltaCoded;  // each value is the difference from the one before
    bool unsignedData;  // values count up from the lowest (0x80 or 0x8000 is silence)
    bool stereo;  // `length` frames of the left channel, then as many of the right
};

// Reads (or asks the song's sampleDataHook for) the data of a sample whose header is loaded
// (`bits` 8 or 16, lengths in frames, loop clamped) and turns it into 16-bit frames; the two
// channels of a stereo sample are mixed into one. A sample whose data runs past the end of the
// file keeps the frames the file holds and ends there (a stereo sample cut inside its right
// channel keeps the left one). A hook hands over plain signed mono frames.
int readSampleData(Song* song, Sample* smp, Reader& reader, int instrumentIndex, int slot,
                   SampleCoding coding);
