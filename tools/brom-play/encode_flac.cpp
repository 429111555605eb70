// FLAC through libFLAC (Debian's libflac12): the 16-bit frames of the WAV render, losslessly,
// with a Vorbis comment block holding TITLE and TRACKER. The declarations are libFLAC's own
// (FLAC/stream_encoder.h, FLAC/metadata.h), repeated here since the library is loaded by name.
// On a file the encoder goes back to complete the stream's header (length, MD5 of the frames).
#include <vector>

#include "tools/brom-play/encoder.h"

namespace {

using FlacBool = int;
struct FlacEntry {  // FLAC__StreamMetadata_VorbisComment_Entry
    uint32_t length;
    uint8_t* entry;
};
constexpr int METADATA_VORBIS_COMMENT = 4;
constexpr int STATUS_OK = 0;  // for init, write, seek and tell alike
constexpr int STATUS_FAILED = 1;
constexpr uint32_t DEFAULT_LEVEL = 5;

using WriteCallback = int (*)(const void*, const uint8_t*, size_t, uint32_t, uint32_t, void*);
using SeekCallback = int (*)(const void*, uint64_t, void*);
using TellCallback = int (*)(const void*, uint64_t*, void*);

struct Flac {
    CodecLibrary library;
    void* (*encoderNew)();
    void (*encoderDelete)(void*);
    FlacBool (*setChannels)(void*, uint32_t);
    FlacBool (*setBitsPerSample)(void*, uint32_t);
    FlacBool (*setSampleRate)(void*, uint32_t);
    FlacBool (*setCompressionLevel)(void*, uint32_t);
    FlacBool (*setMetadata)(void*, void**, uint32_t);
    int (*initStream)(void*, WriteCallback, SeekCallback, TellCallback, void*, void*);
    FlacBool (*processInterleaved)(void*, const int32_t*, uint32_t);
    FlacBool (*finish)(void*);
    const char* (*stateText)(const void*);
    void* (*metadataNew)(int);
    void (*metadataDelete)(void*);
    FlacBool (*entryFromPair)(FlacEntry*, const char*, const char*);
    FlacBool (*appendComment)(void*, FlacEntry, FlacBool);
};

bool load(Flac* f) {
    CodecLibrary* l = &f->library;
    return openCodecLibrary(l, "libFLAC.so.12", "libflac12") &&
           lookUp(l, "FLAC__stream_encoder_new", &f->encoderNew) &&
           lookUp(l, "FLAC__stream_encoder_delete", &f->encoderDelete) &&
           lookUp(l, "FLAC__stream_encoder_set_channels", &f->setChannels) &&
           lookUp(l, "FLAC__stream_encoder_set_bits_per_sample", &f->setBitsPerSample) &&
           lookUp(l, "FLAC__stream_encoder_set_sample_rate", &f->setSampleRate) &&
           lookUp(l, "FLAC__stream_encoder_set_compression_level", &f->setCompressionLevel) &&
           lookUp(l, "FLAC__stream_encoder_set_metadata", &f->setMetadata) &&
           lookUp(l, "FLAC__stream_encoder_init_stream", &f->initStream) &&
           lookUp(l, "FLAC__stream_encoder_process_interleaved", &f->processInterleaved) &&
           lookUp(l, "FLAC__stream_encoder_finish", &f->finish) &&
           lookUp(l, "FLAC__stream_encoder_get_resolved_state_string", &f->stateText) &&
           lookUp(l, "FLAC__metadata_object_new", &f->metadataNew) &&
           lookUp(l, "FLAC__metadata_object_delete", &f->metadataDelete) &&
           lookUp(l, "FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair",
                  &f->entryFromPair) &&
           lookUp(l, "FLAC__metadata_object_vorbiscomment_append_comment", &f->appendComment);
}

int writeBytes(const void*, const uint8_t* bytes, size_t count, uint32_t, uint32_t, void* file) {
    return fwrite(bytes, 1, count, static_cast<FILE*>(file)) == count ? STATUS_OK : STATUS_FAILED;
}

int seekTo(const void*, uint64_t offset, void* file) {
    return fseek(static_cast<FILE*>(file), static_cast<long>(offset), SEEK_SET) == 0
               ? STATUS_OK
               : STATUS_FAILED;
}

int tellWhere(const void*, uint64_t* offset, void* file) {
    const long at = ftell(static_cast<FILE*>(file));
    if (at < 0) return STATUS_FAILED;
    *offset = static_cast<uint64_t>(at);
    return STATUS_OK;
}

struct FlacRun {
    Flac* flac;
    void* encoder;
    std::vector<int32_t> wide;  // libFLAC takes 32-bit samples
};

bool feed(void* run, const void* samples, size_t frames) {
    FlacRun* r = static_cast<FlacRun*>(run);
    const auto* s16 = static_cast<const int16_t*>(samples);
    r->wide.assign(s16, s16 + 2 * frames);
    return r->flac->processInterleaved(r->encoder, r->wide.data(), static_cast<uint32_t>(frames));
}

void addComment(Flac* f, void* block, const char* name, const std::string& value) {
    FlacEntry entry = {};
    if (!value.empty() && f->entryFromPair(&entry, name, value.c_str())) {
        f->appendComment(block, entry, 0);  // the block takes the entry
    }
}

}  // namespace

bool encodeFlac(Source* source, const EncodeTarget& target, std::string* error) {
    Flac f = {};
    if (!load(&f)) {
        *error = f.library.error;
        closeCodecLibrary(&f.library);
        return false;
    }
    void* encoder = f.encoderNew();
    void* tags = f.metadataNew(METADATA_VORBIS_COMMENT);
    bool done = encoder && tags;
    if (done) {
        addComment(&f, tags, "TITLE", target.title);
        addComment(&f, tags, "TRACKER", target.tracker);
        f.setChannels(encoder, 2);
        f.setBitsPerSample(encoder, 16);
        f.setSampleRate(encoder, static_cast<uint32_t>(target.rate));
        f.setCompressionLevel(
            encoder, target.quality >= 0 ? static_cast<uint32_t>(target.quality) : DEFAULT_LEVEL);
        f.setMetadata(encoder, &tags, 1);
        done =
            f.initStream(encoder, writeBytes, target.seekable ? seekTo : nullptr,
                         target.seekable ? tellWhere : nullptr, nullptr, target.file) == STATUS_OK;
    }
    if (done) {
        FlacRun run = {&f, encoder, {}};
        done = pumpFrames(source, false, feed, &run) >= 0;
        done = f.finish(encoder) && done;
    }
    if (!done) *error = encoder ? f.stateText(encoder) : "out of memory";
    if (encoder) f.encoderDelete(encoder);
    if (tags) f.metadataDelete(tags);
    closeCodecLibrary(&f.library);
    return done;
}
