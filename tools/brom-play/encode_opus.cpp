// Opus in Ogg through libopusenc (Debian's libopusenc0): the float mix at the render's rate
// (libopusenc resamples it to Opus's 48 kHz), variable bit rate around --quality kbit/s, with
// TITLE and TRACKER comments. The declarations are libopusenc's own (opus/opusenc.h).
#include "tools/brom-play/encoder.h"

namespace {

struct OpusCallbacks {  // OpusEncCallbacks
    int (*write)(void* user, const unsigned char* bytes, int32_t count);
    int (*close)(void* user);
};
constexpr int OPE_OK = 0;
constexpr int OPUS_SET_BITRATE_REQUEST = 4002;
constexpr int32_t DEFAULT_KBITS = 160;

struct Opus {
    CodecLibrary library;
    void* (*commentsCreate)();
    int (*commentsAdd)(void*, const char*, const char*);
    void (*commentsDestroy)(void*);
    void* (*encoderCreate)(const OpusCallbacks*, void*, void*, int32_t, int, int, int*);
    int (*writeFloat)(void*, const float*, int);
    int (*drain)(void*);
    void (*destroy)(void*);
    int (*control)(void*, int, ...);
    const char* (*errorText)(int);
};

bool load(Opus* o) {
    CodecLibrary* l = &o->library;
    return openCodecLibrary(l, "libopusenc.so.0", "libopusenc0") &&
           lookUp(l, "ope_comments_create", &o->commentsCreate) &&
           lookUp(l, "ope_comments_add", &o->commentsAdd) &&
           lookUp(l, "ope_comments_destroy", &o->commentsDestroy) &&
           lookUp(l, "ope_encoder_create_callbacks", &o->encoderCreate) &&
           lookUp(l, "ope_encoder_write_float", &o->writeFloat) &&
           lookUp(l, "ope_encoder_drain", &o->drain) &&
           lookUp(l, "ope_encoder_destroy", &o->destroy) &&
           lookUp(l, "ope_encoder_ctl", &o->control) && lookUp(l, "ope_strerror", &o->errorText);
}

int writeBytes(void* file, const unsigned char* bytes, int32_t count) {
    const auto n = static_cast<size_t>(count);
    return fwrite(bytes, 1, n, static_cast<FILE*>(file)) == n ? 0 : 1;
}

int leaveOpen(void*) { return 0; }  // the render closes the file

struct OpusRun {
    Opus* opus;
    void* encoder;
    int status;
};

bool feed(void* run, const void* samples, size_t frames) {
    OpusRun* r = static_cast<OpusRun*>(run);
    r->status = r->opus->writeFloat(r->encoder, static_cast<const float*>(samples),
                                    static_cast<int>(frames));
    return r->status == OPE_OK;
}

}  // namespace

bool encodeOpus(Source* source, const EncodeTarget& target, std::string* error) {
    Opus o = {};
    if (!load(&o)) {
        *error = o.library.error;
        closeCodecLibrary(&o.library);
        return false;
    }
    void* comments = o.commentsCreate();
    if (!target.title.empty()) o.commentsAdd(comments, "TITLE", target.title.c_str());
    if (!target.tracker.empty()) o.commentsAdd(comments, "TRACKER", target.tracker.c_str());
    static const OpusCallbacks callbacks = {writeBytes, leaveOpen};
    OpusRun run = {&o, nullptr, OPE_OK};
    run.encoder =
        o.encoderCreate(&callbacks, target.file, comments, target.rate, 2, 0, &run.status);
    if (run.encoder) {
        const int32_t kbits = target.quality >= 0 ? target.quality : DEFAULT_KBITS;
        run.status = o.control(run.encoder, OPUS_SET_BITRATE_REQUEST, kbits * 1000);
    }
    if (run.encoder && run.status == OPE_OK && pumpFrames(source, true, feed, &run) >= 0) {
        run.status = o.drain(run.encoder);
    } else if (run.status == OPE_OK) {
        run.status = -1;  // the generic failure
    }
    if (run.status != OPE_OK) *error = std::string("libopusenc: ") + o.errorText(run.status);
    if (run.encoder) o.destroy(run.encoder);
    o.commentsDestroy(comments);
    closeCodecLibrary(&o.library);
    return run.status == OPE_OK;
}
