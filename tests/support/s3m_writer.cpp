#include "tests/support/s3m_writer.h"

#include <cstring>

namespace {

constexpr int CHANNELS = 32;

void putText(std::vector<uint8_t>& out, const std::string& text, size_t size) {
    for (size_t k = 0; k < size; ++k) out.push_back(k < text.size() ? text[k] : 0);
}

void putLe16(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void putLe32(std::vector<uint8_t>& out, uint32_t value) {
    putLe16(out, value & 0xFFFF);
    putLe16(out, value >> 16);
}

void setLe16(std::vector<uint8_t>& out, size_t at, unsigned value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Pads to the next paragraph and returns its number.
size_t paragraph(std::vector<uint8_t>& out) {
    while (out.size() % 16) out.push_back(0);
    return out.size() / 16;
}

int countOr(int override, size_t real) { return override >= 0 ? override : static_cast<int>(real); }

void putSampleHeader(std::vector<uint8_t>& out, const S3mSample& s, uint32_t dataParagraph) {
    out.push_back(s.type);
    putText(out, s.fileName, 12);
    out.push_back(static_cast<uint8_t>(dataParagraph >> 16));
    putLe16(out, dataParagraph & 0xFFFF);
    const int64_t length = s.lengthOverride >= 0 ? s.lengthOverride : int64_t(s.data.size());
    putLe32(out, static_cast<uint32_t>(length));
    putLe32(out, s.loopStart);
    putLe32(out, s.loopEnd);
    out.push_back(s.volume);
    out.push_back(0);
    out.push_back(s.pack);
    out.push_back(static_cast<uint8_t>((s.loop ? 1 : 0) | (s.right.empty() ? 0 : 2) |
                                       (s.sixteenBit ? 4 : 0)));
    putLe32(out, s.middleC);
    putText(out, "", 12);
    putText(out, s.name, 28);
    putText(out, s.type >= 2 ? "SCRI" : "SCRS", 4);
}

void putFrames(std::vector<uint8_t>& out, const std::vector<int16_t>& frames, bool sixteenBit,
               bool unsignedData) {
    for (int16_t v : frames) {
        if (sixteenBit) {
            putLe16(out, static_cast<uint16_t>(v) ^ (unsignedData ? 0x8000 : 0));
        } else {
            out.push_back(static_cast<uint8_t>(v) ^ (unsignedData ? 0x80 : 0));
        }
    }
}

std::vector<uint8_t> packPattern(const std::vector<S3mCell>& cells) {
    std::vector<uint8_t> packed;
    for (int row = 0; row < S3M_ROWS; ++row) {
        for (int c = 0; c < CHANNELS; ++c) {
            const S3mCell& cell = cells[row * CHANNELS + c];
            uint8_t what = static_cast<uint8_t>(c);
            if (cell.note != 255 || cell.instrument != 0) what |= 32;
            if (cell.volume != 255) what |= 64;
            if (cell.command != 0) what |= 128;
            if (what == c) continue;
            packed.push_back(what);
            if (what & 32) {
                packed.push_back(cell.note);
                packed.push_back(cell.instrument);
            }
            if (what & 64) packed.push_back(cell.volume);
            if (what & 128) {
                packed.push_back(cell.command);
                packed.push_back(cell.param);
            }
        }
        packed.push_back(0);
    }
    return packed;
}

}  // namespace

S3mSong makeS3mSong(int channels, int patternCount) {
    S3mSong song;
    for (int c = 0; c < CHANNELS; ++c) {
        song.channelSettings[c] =
            c < channels ? static_cast<uint8_t>(c / 2 + (c % 2 ? 8 : 0)) : 255;
    }
    song.orders.clear();
    for (int p = 0; p < patternCount; ++p) {
        song.patterns.emplace_back(S3M_ROWS * CHANNELS, S3mCell{});
        song.orders.push_back(static_cast<uint8_t>(p));
    }
    return song;
}

S3mCell& s3mCellAt(S3mSong& song, int pattern, int row, int channel) {
    return song.patterns[pattern][row * CHANNELS + channel];
}

S3mSample makeS3mSample(std::vector<int16_t> data, uint32_t loopStart, uint32_t loopEnd) {
    S3mSample s;
    s.data = std::move(data);
    s.loop = loopEnd > 0;
    s.loopStart = loopStart;
    s.loopEnd = loopEnd;
    return s;
}

std::vector<int16_t> s3mSquare(int count, int period, int amplitude) {
    std::vector<int16_t> data(count);
    for (int k = 0; k < count; ++k) {
        data[k] = static_cast<int16_t>(k % period < period / 2 ? amplitude : -amplitude);
    }
    return data;
}

std::vector<uint8_t> writeS3m(const S3mSong& song) {
    std::vector<uint8_t> out;
    putText(out, song.title, 28);
    out.push_back(0x1A);
    out.push_back(song.type);
    putLe16(out, 0);
    putLe16(out, countOr(song.orderCountOverride, song.orders.size()));
    putLe16(out, countOr(song.instrumentCountOverride, song.samples.size()));
    putLe16(out, countOr(song.patternCountOverride, song.patterns.size()));
    putLe16(out, song.flags);
    putLe16(out, song.trackerVersion);
    putLe16(out, song.sampleFormat);
    putText(out, "SCRM", 4);
    out.push_back(song.globalVolume);
    out.push_back(song.speed);
    out.push_back(song.tempo);
    out.push_back(song.masterVolume);
    out.push_back(16);  // ultra click removal
    out.push_back(song.panTable ? 252 : 0);
    putText(out, "", 10);
    out.insert(out.end(), song.channelSettings, song.channelSettings + CHANNELS);
    out.insert(out.end(), song.orders.begin(), song.orders.end());
    const size_t instrumentPointers = out.size();
    putText(out, "", 2 * song.samples.size());
    const size_t patternPointers = out.size();
    putText(out, "", 2 * song.patterns.size());
    if (song.panTable) out.insert(out.end(), song.pans, song.pans + CHANNELS);

    std::vector<size_t> headerAt;
    for (size_t i = 0; i < song.samples.size(); ++i) {
        setLe16(out, instrumentPointers + 2 * i, static_cast<unsigned>(paragraph(out)));
        headerAt.push_back(out.size());
        putSampleHeader(out, song.samples[i], 0);
    }
    for (size_t p = 0; p < song.patterns.size(); ++p) {
        setLe16(out, patternPointers + 2 * p, static_cast<unsigned>(paragraph(out)));
        const std::vector<uint8_t> packed = packPattern(song.patterns[p]);
        putLe16(out, static_cast<unsigned>(packed.size() + 2));
        out.insert(out.end(), packed.begin(), packed.end());
    }
    out.resize(out.size() + song.paddingBeforeData);
    const bool unsignedData = song.sampleFormat == 2;
    for (size_t i = 0; i < song.samples.size(); ++i) {
        const S3mSample& s = song.samples[i];
        if (s.type != 1) continue;
        const size_t at = paragraph(out);
        out[headerAt[i] + 13] = static_cast<uint8_t>(at >> 16);
        setLe16(out, headerAt[i] + 14, at & 0xFFFF);
        putFrames(out, s.data, s.sixteenBit, unsignedData);
        putFrames(out, s.right, s.sixteenBit, unsignedData);
    }
    return out;
}
