#include "module/xm_writer.h"

#include <cmath>
#include <cstring>

namespace {

struct Bytes {
    std::vector<uint8_t> out;
    void u8(unsigned v) { out.push_back(static_cast<uint8_t>(v)); }
    void u16(unsigned v) {
        u8(v & 0xFF);
        u8((v >> 8) & 0xFF);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void text(const std::string& s, size_t width) {
        for (size_t i = 0; i < width; ++i) u8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
    }
    void patch32(size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (8 * k));
    }
};

void writeCell(Bytes& b, const XmCell& c, XmPacking packing) {
    const uint8_t fields[5] = {c.note, c.instrument, c.volumeColumn, c.effect, c.param};
    bool all = c.note && c.instrument && c.volumeColumn && c.effect && c.param;
    if (packing == XmPacking::Plain || (packing == XmPacking::Mixed && all)) {
        for (uint8_t f : fields) b.u8(f);
        return;
    }
    uint8_t mask = 0x80;
    for (int k = 0; k < 5; ++k) {
        if (fields[k]) mask |= static_cast<uint8_t>(1 << k);
    }
    b.u8(mask);
    for (int k = 0; k < 5; ++k) {
        if (fields[k]) b.u8(fields[k]);
    }
}

void writePattern(Bytes& b, const XmPattern& p, int channels, uint16_t version) {
    Bytes data;
    if (p.packing != XmPacking::Empty) {
        int rows = p.storedRows >= 0 ? p.storedRows : p.rows;
        size_t cellCount = static_cast<size_t>(rows) * channels;
        for (size_t k = 0; k < cellCount; ++k) {
            XmCell c = k < p.cells.size() ? p.cells[k] : XmCell{};
            writeCell(data, c, p.packing);
        }
    }
    size_t start = b.out.size();
    uint32_t fieldBytes = version == 0x0102 ? 8 : 9;
    b.u32(p.headerLength ? p.headerLength : fieldBytes);
    b.u8(0);
    if (version == 0x0102) {
        b.u8(static_cast<unsigned>(p.rows - 1));
    } else {
        b.u16(static_cast<unsigned>(p.rows));
    }
    b.u16(static_cast<unsigned>(p.packedSizeOverride >= 0 ? p.packedSizeOverride
                                                          : static_cast<int64_t>(data.out.size())));
    if (p.headerLength > fieldBytes) b.out.resize(start + p.headerLength, 0);
    b.out.insert(b.out.end(), data.out.begin(), data.out.end());
}

void writeEnvelope(Bytes& b, const std::vector<XmEnvelopePoint>& points) {
    for (size_t k = 0; k < 12; ++k) {
        XmEnvelopePoint p = k < points.size() ? points[k] : XmEnvelopePoint{0, 0};
        b.u16(p.position);
        b.u16(p.value);
    }
}

// The sample's data as the file stores it: delta-coded bytes or 16-bit words.
void writeSampleData(Bytes& b, const XmSample& s) {
    int previous = 0;
    for (int16_t frame : s.frames) {
        int value = s.sixteenBit ? frame : frame & 0xFF;
        int delta = value - previous;
        previous = value;
        if (s.sixteenBit) {
            b.u16(static_cast<unsigned>(delta) & 0xFFFF);
        } else {
            b.u8(static_cast<unsigned>(delta) & 0xFF);
        }
    }
}

// The instrument header and its sample headers.
void writeInstrumentHeaders(Bytes& b, const XmInstrument& ins) {
    size_t start = b.out.size();
    bool hasSamples = !ins.samples.empty();
    uint32_t headerSize = ins.headerSize ? ins.headerSize : (hasSamples ? 263 : 29);
    int sampleCount = ins.sampleCountOverride >= 0 ? ins.sampleCountOverride
                                                   : static_cast<int>(ins.samples.size());
    b.u32(ins.headerSizeOverride >= 0 ? static_cast<uint32_t>(ins.headerSizeOverride) : headerSize);
    b.text(ins.name, 22);
    b.u8(0);
    b.u16(static_cast<unsigned>(sampleCount));
    if (sampleCount > 0) {
        b.u32(40);
        for (uint8_t m : ins.noteSampleMap) b.u8(m);
        writeEnvelope(b, ins.volumeEnvelope);
        writeEnvelope(b, ins.panningEnvelope);
        auto count = [](const std::vector<XmEnvelopePoint>& points, uint8_t override) {
            return override != 0xFF ? override : static_cast<uint8_t>(points.size());
        };
        b.u8(count(ins.volumeEnvelope, ins.volumePointCountOverride));
        b.u8(count(ins.panningEnvelope, ins.panningPointCountOverride));
        b.u8(ins.volumeSustain);
        b.u8(ins.volumeLoopStart);
        b.u8(ins.volumeLoopEnd);
        b.u8(ins.panningSustain);
        b.u8(ins.panningLoopStart);
        b.u8(ins.panningLoopEnd);
        b.u8(ins.volumeFlags);
        b.u8(ins.panningFlags);
        b.u8(ins.vibratoType);
        b.u8(ins.vibratoSweep);
        b.u8(ins.vibratoDepth);
        b.u8(ins.vibratoRate);
        b.u16(ins.fadeout);
    }
    // Pad (or cut) to the declared header size, as a tracker's reserved bytes would.
    b.out.resize(start + headerSize, 0);
    if (sampleCount <= 0) return;
    for (const XmSample& s : ins.samples) {
        uint32_t width = s.sixteenBit ? 2 : 1;
        uint32_t lengthBytes = static_cast<uint32_t>(s.frames.size()) * width;
        if (s.lengthBytesOverride >= 0) lengthBytes = static_cast<uint32_t>(s.lengthBytesOverride);
        b.u32(lengthBytes);
        b.u32(s.loopStart * width);
        b.u32(s.loopLength * width);
        b.u8(s.volume);
        b.u8(static_cast<uint8_t>(s.finetune));
        b.u8((s.loopType & 3) | (s.sixteenBit ? 0x10 : 0));
        b.u8(s.panning);
        b.u8(static_cast<uint8_t>(s.relativeNote));
        b.u8(0);
        b.text(s.name, 22);
    }
}

void writeInstrumentData(Bytes& b, const XmInstrument& ins, XmLayout* layout) {
    layout->sampleData.push_back(b.out.size());
    for (const XmSample& s : ins.samples) writeSampleData(b, s);
}

}  // namespace

XmPattern makePattern(int rows, int channels) {
    XmPattern p;
    p.rows = rows;
    p.cells.assign(static_cast<size_t>(rows) * channels, XmCell{});
    return p;
}

XmSong makeXmSong(int channels, int patternCount) {
    XmSong song;
    song.channels = channels;
    song.orders.clear();
    for (int p = 0; p < patternCount; ++p) {
        song.patterns.push_back(makePattern(64, channels));
        song.orders.push_back(static_cast<uint8_t>(p));
    }
    return song;
}

XmCell& cellAt(XmPattern& pattern, int channels, int row, int channel) {
    return pattern.cells[static_cast<size_t>(row) * channels + channel];
}

XmSample makeSample(std::vector<int16_t> frames, bool sixteenBit) {
    XmSample s;
    s.frames = std::move(frames);
    s.sixteenBit = sixteenBit;
    return s;
}

XmInstrument makeInstrument(XmSample sample) {
    XmInstrument ins;
    ins.samples.push_back(std::move(sample));
    return ins;
}

std::vector<int16_t> sineFrames(int count, int period, int amplitude) {
    std::vector<int16_t> frames(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
        frames[k] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * k / period)));
    }
    return frames;
}

std::vector<uint8_t> writeXm(const XmSong& song, XmLayout* layout) {
    XmLayout ignored;
    if (!layout) layout = &ignored;
    *layout = {};
    Bytes b;
    b.text("Extended Module: ", 17);
    b.text(song.name, 20);
    b.u8(0x1A);
    b.text("brom writer", 20);
    b.u16(song.version);
    b.u32(song.headerSize);
    size_t headerStart = 60;
    int songLength = song.songLength >= 0 ? song.songLength : static_cast<int>(song.orders.size());
    b.u16(static_cast<unsigned>(songLength));
    b.u16(static_cast<unsigned>(song.restartPosition));
    b.u16(static_cast<unsigned>(song.channelCountOverride >= 0 ? song.channelCountOverride
                                                               : song.channels));
    b.u16(static_cast<unsigned>(song.patternCountOverride >= 0
                                    ? song.patternCountOverride
                                    : static_cast<int>(song.patterns.size())));
    b.u16(static_cast<unsigned>(song.instrumentCountOverride >= 0
                                    ? song.instrumentCountOverride
                                    : static_cast<int>(song.instruments.size())));
    b.u16(song.flags);
    b.u16(static_cast<unsigned>(song.speed));
    b.u16(static_cast<unsigned>(song.bpm));
    for (size_t k = 0; k < 256; ++k) b.u8(k < song.orders.size() ? song.orders[k] : 0);
    b.out.resize(headerStart + song.headerSize, 0);
    // Versions before 1.04 store the instruments' headers before the patterns and all the sample
    // data after them.
    bool instrumentsFirst = song.version < 0x0104;
    auto headers = [&] {
        for (const XmInstrument& ins : song.instruments) {
            layout->instruments.push_back(b.out.size());
            writeInstrumentHeaders(b, ins);
            if (!instrumentsFirst) writeInstrumentData(b, ins, layout);
        }
    };
    if (instrumentsFirst) headers();
    for (const XmPattern& p : song.patterns) {
        layout->patterns.push_back(b.out.size());
        writePattern(b, p, song.channels, song.version);
    }
    if (!instrumentsFirst) headers();
    if (instrumentsFirst) {
        for (const XmInstrument& ins : song.instruments) writeInstrumentData(b, ins, layout);
    }
    layout->end = b.out.size();
    return b.out;
}
