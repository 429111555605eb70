// MP3 through LAME (Debian's libmp3lame0): the float mix, average bit rate --quality kbit/s, an
// ID3v2 tag with the title (TIT2) and the tracker (TXXX "TRACKER"). On a file the first frame is
// then rewritten with LAME's info tag, which tells decoders the encoder's delay and padding, so
// they give back exactly the frames rendered. The declarations are LAME's own (lame/lame.h).
#include <vector>

#include "tools/brom-play/encoder.h"

namespace {

constexpr int VBR_ABR = 3;  // vbr_abr: average bit rate
constexpr int ALGORITHM_QUALITY = 2;  // LAME's -q 2: its recommended "high quality"
constexpr int DEFAULT_KBITS = 192;

struct Lame {
    CodecLibrary library;
    void* (*init)();
    int (*close)(void*);
    int (*setInRate)(void*, int);
    int (*setChannels)(void*, int);
    int (*setVbr)(void*, int);
    int (*setMeanKbits)(void*, int);
    int (*setQuality)(void*, int);
    int (*setInfoTag)(void*, int);
    int (*initParams)(void*);
    void (*id3Init)(void*);
    void (*id3AddV2)(void*);
    int (*id3Field)(void*, const char*);
    int (*encodeFloat)(void*, const float*, int, unsigned char*, int);
    int (*flush)(void*, unsigned char*, int);
    void (*writeInfoTag)(void*, FILE*);
};

bool load(Lame* m) {
    CodecLibrary* l = &m->library;
    return openCodecLibrary(l, "libmp3lame.so.0", "libmp3lame0") &&
           lookUp(l, "lame_init", &m->init) && lookUp(l, "lame_close", &m->close) &&
           lookUp(l, "lame_set_in_samplerate", &m->setInRate) &&
           lookUp(l, "lame_set_num_channels", &m->setChannels) &&
           lookUp(l, "lame_set_VBR", &m->setVbr) &&
           lookUp(l, "lame_set_VBR_mean_bitrate_kbps", &m->setMeanKbits) &&
           lookUp(l, "lame_set_quality", &m->setQuality) &&
           lookUp(l, "lame_set_bWriteVbrTag", &m->setInfoTag) &&
           lookUp(l, "lame_init_params", &m->initParams) && lookUp(l, "id3tag_init", &m->id3Init) &&
           lookUp(l, "id3tag_add_v2", &m->id3AddV2) &&
           lookUp(l, "id3tag_set_fieldvalue", &m->id3Field) &&
           lookUp(l, "lame_encode_buffer_interleaved_ieee_float", &m->encodeFloat) &&
           lookUp(l, "lame_encode_flush", &m->flush) &&
           lookUp(l, "lame_mp3_tags_fid", &m->writeInfoTag);
}

// LAME's ID3 text is Latin-1: UTF-8 read back into it, '?' for what it cannot hold.
std::string latin1(const std::string& utf8) {
    std::string text;
    for (size_t k = 0; k < utf8.size(); ++k) {
        const auto c = static_cast<unsigned char>(utf8[k]);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && k + 1 < utf8.size()) {
            text += static_cast<char>((c & 0x03) << 6 | (utf8[++k] & 0x3F));
        } else if ((c & 0xC0) != 0x80) {
            text += '?';
        }
    }
    return text;
}

struct Mp3Run {
    Lame* lame;
    void* encoder;
    FILE* file;
    std::vector<unsigned char> bytes;
};

bool writeOut(Mp3Run* r, int count) {
    const auto n = static_cast<size_t>(count);
    return count >= 0 && fwrite(r->bytes.data(), 1, n, r->file) == n;
}

bool feed(void* run, const void* samples, size_t frames) {
    Mp3Run* r = static_cast<Mp3Run*>(run);
    r->bytes.resize(frames * 5 / 4 + 7200);  // LAME's worst case
    return writeOut(r, r->lame->encodeFloat(r->encoder, static_cast<const float*>(samples),
                                            static_cast<int>(frames), r->bytes.data(),
                                            static_cast<int>(r->bytes.size())));
}

}  // namespace

bool encodeMp3(Source* source, const EncodeTarget& target, std::string* error) {
    Lame m = {};
    if (!load(&m)) {
        *error = m.library.error;
        closeCodecLibrary(&m.library);
        return false;
    }
    void* encoder = m.init();
    bool done = encoder != nullptr;
    if (done) {
        m.setInRate(encoder, target.rate);
        m.setChannels(encoder, 2);
        m.setVbr(encoder, VBR_ABR);
        m.setMeanKbits(encoder, target.quality >= 0 ? target.quality : DEFAULT_KBITS);
        m.setQuality(encoder, ALGORITHM_QUALITY);
        m.setInfoTag(encoder, target.seekable);
        m.id3Init(encoder);
        m.id3AddV2(encoder);
        if (!target.title.empty()) m.id3Field(encoder, ("TIT2=" + latin1(target.title)).c_str());
        if (!target.tracker.empty()) {
            m.id3Field(encoder, ("TXXX=TRACKER=" + latin1(target.tracker)).c_str());
        }
        done = m.initParams(encoder) >= 0;
    }
    if (done) {
        Mp3Run run = {&m, encoder, target.file, {}};
        done = pumpFrames(source, true, feed, &run) >= 0;
        run.bytes.resize(7200);
        done = done && writeOut(&run, m.flush(encoder, run.bytes.data(), 7200));
        if (done && target.seekable) m.writeInfoTag(encoder, target.file);
    }
    if (!done) *error = encoder ? "LAME could not encode the frames" : "out of memory";
    if (encoder) m.close(encoder);
    closeCodecLibrary(&m.library);
    return done;
}
