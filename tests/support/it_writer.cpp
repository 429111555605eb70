#include "tests/support/it_writer.h"

#include <cstring>

namespace {

struct Bytes {
    std::vector<uint8_t> out;
    void u8(unsigned v) { out.push_back(static_cast<uint8_t>(v)); }
    void u16(unsigned v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void text(const std::string& s, size_t size) {
        for (size_t k = 0; k < size; ++k) u8(k < s.size() ? static_cast<uint8_t>(s[k]) : 0);
    }
    void put32(size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    size_t size() const { return out.size(); }
};

// ---- the compressor ----

struct BitWriter {
    std::vector<uint8_t> bytes;
    size_t bit = 0;
    void put(uint32_t value, int count) {
        for (int k = 0; k < count; ++k, ++bit) {
            if ((bit >> 3) >= bytes.size()) bytes.push_back(0);
            if (value >> k & 1)
                bytes[bit >> 3] = static_cast<uint8_t>(bytes[bit >> 3] | 1 << (bit & 7));
        }
    }
};

// Whether `delta` can be written at `width` (bits < width < 8/16 reserve values for changes).
bool fits(int32_t delta, int width, int bits) {
    if (width > bits) return true;
    const int32_t low = -(1 << (width - 1));
    const int32_t high = (1 << (width - 1)) - 1;
    if (delta < low || delta > high) return false;
    if (width < 7) return delta != low;
    const int32_t halfBand = bits == 8 ? 4 : 8;
    return delta > low + halfBand - 1 && delta < high - halfBand + 1;
}

void changeWidth(BitWriter& writer, int& width, int wanted, int bits) {
    const uint32_t code = static_cast<uint32_t>(wanted < width ? wanted - 1 : wanted - 2);
    if (width < 7) {
        writer.put(1u << (width - 1), width);
        writer.put(code, bits == 8 ? 3 : 4);
    } else if (width <= bits) {
        const uint32_t border = (1u << (width - 1)) - (bits == 8 ? 4u : 8u);
        writer.put(border + code, width);
    } else {
        writer.put(1u << bits | code, width);
    }
    width = wanted;
}

// Each frame at the narrowest width it fits (`narrow`), or all at the widest.
std::vector<uint8_t> compressBlock(const int16_t* frames, size_t count, int bits, bool doubleDelta,
                                   bool narrow) {
    BitWriter writer;
    const uint32_t mask = bits == 8 ? 0xFF : 0xFFFF;
    int width = bits + 1;
    int32_t previous = 0;
    int32_t previousFirst = 0;
    for (size_t k = 0; k < count; ++k) {
        const int32_t first = static_cast<int32_t>(frames[k]) - previous;
        previous = frames[k];
        int32_t value = doubleDelta ? first - previousFirst : first;
        previousFirst = first;
        // The difference in `bits` bits, signed.
        const uint32_t sign = 1u << (bits - 1);
        value = static_cast<int32_t>(((static_cast<uint32_t>(value) & mask) ^ sign) - sign);
        int wanted = narrow ? 1 : bits + 1;
        while (!fits(value, wanted, bits)) ++wanted;
        if (wanted != width) changeWidth(writer, width, wanted, bits);
        writer.put(static_cast<uint32_t>(value) & (width > bits ? mask : (1u << width) - 1), width);
    }
    return writer.bytes;
}

// ---- the file ----

void putEnvelope(Bytes& b, const ItEnvelope& e) {
    b.u8(e.flags);
    b.u8(e.countOverride >= 0 ? static_cast<unsigned>(e.countOverride) : e.points.size());
    b.u8(e.loopStart);
    b.u8(e.loopEnd);
    b.u8(e.sustainStart);
    b.u8(e.sustainEnd);
    for (size_t k = 0; k < 25; ++k) {
        const ItEnvelopePoint p = k < e.points.size() ? e.points[k] : ItEnvelopePoint{0, 0};
        b.u8(static_cast<uint8_t>(p.value));
        b.u16(p.tick);
    }
    b.u8(0);
}

void putInstrument(Bytes& b, const ItInstrument& ins, bool old) {
    const size_t start = b.size();
    b.text("IMPI", 4);
    b.text(ins.name.substr(0, 8) + ".ITI", 12);
    b.u8(0);
    if (old) {
        const ItEnvelope& e = ins.volumeEnvelope;
        b.u8(e.flags & 7);
        b.u8(e.loopStart);
        b.u8(e.loopEnd);
        b.u8(e.sustainStart);
        b.u8(e.sustainEnd);
        b.u16(0);
        b.u16(ins.fadeout);
        b.u8(ins.newNoteAction);
        b.u8(ins.duplicateCheck ? 1 : 0);
        b.u16(0x0100);
        b.u8(0);
        b.u8(0);
    } else {
        b.u8(ins.newNoteAction);
        b.u8(ins.duplicateCheck);
        b.u8(ins.duplicateAction);
        b.u16(ins.fadeout);
        b.u8(static_cast<uint8_t>(ins.pitchPanSeparation));
        b.u8(ins.pitchPanCentre);
        b.u8(ins.globalVolume);
        b.u8(ins.panning >= 0 ? static_cast<unsigned>(ins.panning) : 0x80 | 32);
        b.u8(ins.randomVolume);
        b.u8(ins.randomPanning);
        b.u16(0x0214);
        b.u8(0);
        b.u8(0);
    }
    b.text(ins.name, 26);
    if (old) {
        b.text("", 6);
    } else {
        b.u8(ins.filterCutoff >= 0 ? 0x80 | static_cast<unsigned>(ins.filterCutoff) : 0);
        b.u8(ins.filterResonance >= 0 ? 0x80 | static_cast<unsigned>(ins.filterResonance) : 0);
        b.u8(0);
        b.u8(0);
        b.u16(0xFFFF);
    }
    for (const auto& pair : ins.keyboard) {
        b.u8(pair[0]);
        b.u8(pair[1]);
    }
    if (old) {
        b.text("", 200);  // the tracker's precalculated envelope, unread
        const auto& points = ins.volumeEnvelope.points;
        for (size_t k = 0; k < 25; ++k) {
            b.u8(k < points.size() ? points[k].tick : 0xFF);
            b.u8(k < points.size() ? static_cast<uint8_t>(points[k].value) : 0);
        }
    } else {
        putEnvelope(b, ins.volumeEnvelope);
        putEnvelope(b, ins.panningEnvelope);
        putEnvelope(b, ins.pitchEnvelope);
    }
    while (b.size() < start + 554) b.u8(0);
}

std::vector<uint8_t> plainData(const std::vector<int16_t>& frames, const ItSample& s) {
    Bytes b;
    uint16_t previous = 0;
    for (int16_t frame : frames) {
        uint16_t v = static_cast<uint16_t>(frame);
        if (s.deltaData) {
            const uint16_t delta = static_cast<uint16_t>(v - previous);
            previous = v;
            v = delta;
        }
        if (!s.signedData) v = static_cast<uint16_t>(v ^ (s.sixteenBit ? 0x8000 : 0x80));
        if (!s.sixteenBit) {
            b.u8(v & 0xFF);
        } else if (s.bigEndian) {
            b.u8(v >> 8);
            b.u8(v & 0xFF);
        } else {
            b.u16(v);
        }
    }
    return b.out;
}

std::vector<uint8_t> sampleData(const ItSample& s) {
    std::vector<uint8_t> data;
    const int bits = s.sixteenBit ? 16 : 8;
    for (const auto* channel : {&s.frames, &s.right}) {
        if (channel == &s.right && s.right.empty()) break;
        std::vector<uint8_t> part =
            s.compressed ? compressItSample(*channel, bits, s.doubleDelta) : plainData(*channel, s);
        data.insert(data.end(), part.begin(), part.end());
    }
    return data;
}

void putSampleHeader(Bytes& b, const ItSample& s, uint32_t dataOffset) {
    b.text("IMPS", 4);
    b.text(s.name.substr(0, 8) + ".WAV", 12);
    b.u8(0);
    b.u8(s.globalVolume);
    unsigned flags = s.frames.empty() ? 0 : 1;
    if (s.sixteenBit) flags |= 2;
    if (!s.right.empty()) flags |= 4;
    if (s.compressed) flags |= 8;
    if (s.loop) flags |= 16;
    if (s.sustain) flags |= 32;
    if (s.pingPong) flags |= 64;
    if (s.sustainPingPong) flags |= 128;
    b.u8(flags);
    b.u8(s.volume);
    b.text(s.name, 26);
    unsigned convert = s.signedData ? 1 : 0;
    if (s.compressed ? s.doubleDelta : s.deltaData) convert |= 4;
    if (s.bigEndian) convert |= 2;
    b.u8(convert);
    b.u8(s.panning >= 0 ? 0x80 | static_cast<unsigned>(s.panning) : 32);
    b.u32(s.lengthOverride >= 0 ? static_cast<uint32_t>(s.lengthOverride)
                                : static_cast<uint32_t>(s.frames.size()));
    b.u32(s.loopStart);
    b.u32(s.loopEnd);
    b.u32(s.middleCRate);
    b.u32(s.sustainStart);
    b.u32(s.sustainEnd);
    b.u32(s.dataOffsetOverride >= 0 ? static_cast<uint32_t>(s.dataOffsetOverride) : dataOffset);
    b.u8(s.vibratoSpeed);
    b.u8(s.vibratoDepth);
    b.u8(s.vibratoRate);
    b.u8(s.vibratoType);
}

void putPattern(Bytes& b, const ItPattern& p, int channels) {
    Bytes data;
    uint8_t lastMask[64] = {};
    ItCell last[64];
    bool seen[64] = {};
    for (int row = 0; row < p.rows; ++row) {
        for (int c = 0; c < channels; ++c) {
            const size_t index = static_cast<size_t>(row) * channels + c;
            if (index >= p.cells.size()) continue;
            const ItCell& cell = p.cells[index];
            uint8_t mask = 0;
            const bool again = p.repeatForms && seen[c];
            auto field = [&](bool present, bool same, uint8_t readBit) {
                if (present) mask |= again && same ? readBit << 4 : readBit;
            };
            field(cell.note >= 0, cell.note == last[c].note, 1);
            field(cell.instrument != 0, cell.instrument == last[c].instrument, 2);
            field(cell.volume >= 0, cell.volume == last[c].volume, 4);
            field(cell.effect != 0, cell.effect == last[c].effect && cell.param == last[c].param,
                  8);
            if (!mask) continue;
            if (p.repeatForms && seen[c] && mask == lastMask[c]) {
                data.u8(static_cast<unsigned>(c + 1));
            } else {
                data.u8(static_cast<unsigned>(c + 1) | 0x80);
                data.u8(mask);
            }
            if (mask & 1) data.u8(static_cast<uint8_t>(cell.note));
            if (mask & 2) data.u8(cell.instrument);
            if (mask & 4) data.u8(static_cast<uint8_t>(cell.volume));
            if (mask & 8) {
                data.u8(cell.effect);
                data.u8(cell.param);
            }
            lastMask[c] = mask;
            seen[c] = true;
            if (cell.note >= 0) last[c].note = cell.note;
            if (cell.instrument) last[c].instrument = cell.instrument;
            if (cell.volume >= 0) last[c].volume = cell.volume;
            if (cell.effect) {
                last[c].effect = cell.effect;
                last[c].param = cell.param;
            }
        }
        data.u8(0);
    }
    b.u16(static_cast<unsigned>(data.size()));
    b.u16(static_cast<unsigned>(p.rows));
    b.u32(0);
    b.out.insert(b.out.end(), data.out.begin(), data.out.end());
}

int countOr(int override, size_t count) {
    return override >= 0 ? override : static_cast<int>(count);
}

// The file, and where each sample's data starts.
std::vector<uint8_t> build(const ItSong& song, std::vector<size_t>* dataOffsets) {
    Bytes b;
    b.text("IMPM", 4);
    b.text(song.title, 26);
    b.u16(0x1004);
    b.u16(countOr(song.orderCountOverride, song.orders.size()));
    b.u16(countOr(song.instrumentCountOverride, song.instruments.size()));
    b.u16(countOr(song.sampleCountOverride, song.samples.size()));
    b.u16(countOr(song.patternCountOverride, song.patterns.size()));
    b.u16(song.createdWith);
    b.u16(song.compatibleWith);
    b.u16(song.flags);
    unsigned special = song.message.empty() ? 0 : 1;
    if (song.editHistory) special |= 2;
    if (!song.midiConfig.empty()) special |= 8;
    b.u16(special);
    b.u8(song.globalVolume);
    b.u8(song.mixVolume);
    b.u8(song.speed);
    b.u8(song.tempo);
    b.u8(song.separation);
    b.u8(0);
    b.u16(static_cast<unsigned>(song.message.size() + (song.message.empty() ? 0 : 1)));
    const size_t messageOffsetAt = b.size();
    b.u32(0);
    b.u32(0);
    for (uint8_t pan : song.channelPanning) b.u8(pan);
    for (uint8_t volume : song.channelVolume) b.u8(volume);
    for (uint8_t order : song.orders) b.u8(order);
    const size_t offsetsAt = b.size();
    const size_t tableEntries =
        song.instruments.size() + song.samples.size() + song.patterns.size();
    for (size_t k = 0; k < tableEntries; ++k) b.u32(0);
    if (song.editHistory) {
        b.u16(2);
        b.text("", 16);
    }
    b.out.insert(b.out.end(), song.midiConfig.begin(), song.midiConfig.end());
    if (!song.message.empty()) {
        b.put32(messageOffsetAt, static_cast<uint32_t>(b.size()));
        for (char c : song.message) b.u8(c == '\n' ? '\r' : static_cast<uint8_t>(c));
        b.u8(0);
    }
    size_t entry = offsetsAt;
    for (const ItInstrument& ins : song.instruments) {
        b.put32(entry, static_cast<uint32_t>(b.size()));
        entry += 4;
        putInstrument(b, ins, song.compatibleWith < 0x200);
    }
    std::vector<size_t> headerAt;
    for (const ItSample& s : song.samples) {
        b.put32(entry, static_cast<uint32_t>(b.size()));
        entry += 4;
        headerAt.push_back(b.size());
        putSampleHeader(b, s, 0);
    }
    for (const ItPattern& p : song.patterns) {
        if (!p.empty) b.put32(entry, static_cast<uint32_t>(b.size()));
        entry += 4;
        if (!p.empty) putPattern(b, p, song.channels);
    }
    for (size_t k = 0; k < song.samples.size(); ++k) {
        const ItSample& s = song.samples[k];
        if (s.dataOffsetOverride < 0) b.put32(headerAt[k] + 0x48, static_cast<uint32_t>(b.size()));
        if (dataOffsets) dataOffsets->push_back(b.size());
        std::vector<uint8_t> data = sampleData(s);
        b.out.insert(b.out.end(), data.begin(), data.end());
    }
    return b.out;
}

}  // namespace

ItSong makeItSong(int channels, int patternCount) {
    ItSong song;
    song.channels = channels;
    memset(song.channelPanning, 32, sizeof song.channelPanning);
    memset(song.channelVolume, 64, sizeof song.channelVolume);
    song.orders.clear();
    for (int p = 0; p < patternCount; ++p) {
        ItPattern pattern;
        pattern.cells.resize(static_cast<size_t>(64 * channels));
        song.patterns.push_back(pattern);
        song.orders.push_back(static_cast<uint8_t>(p));
    }
    song.orders.push_back(255);
    return song;
}

ItCell& itCellAt(ItSong& song, int pattern, int row, int channel) {
    return song.patterns[pattern].cells[static_cast<size_t>(row) * song.channels + channel];
}

ItSample makeItSample(std::vector<int16_t> frames, bool looped) {
    ItSample s;
    s.frames = std::move(frames);
    s.loop = looped;
    s.loopEnd = looped ? static_cast<uint32_t>(s.frames.size()) : 0;
    return s;
}

ItInstrument makeItInstrument(int sample) {
    ItInstrument ins;
    for (int n = 0; n < 120; ++n) {
        ins.keyboard[n][0] = static_cast<uint8_t>(n);
        ins.keyboard[n][1] = static_cast<uint8_t>(sample);
    }
    return ins;
}

std::vector<uint8_t> writeIt(const ItSong& song) { return build(song, nullptr); }

size_t itSampleDataOffset(const ItSong& song, int sample) {
    std::vector<size_t> offsets;
    build(song, &offsets);
    return offsets.at(static_cast<size_t>(sample));
}

std::vector<uint8_t> compressItSample(const std::vector<int16_t>& frames, int bits,
                                      bool doubleDelta) {
    const size_t blockFrames = bits == 8 ? 0x8000 : 0x4000;
    std::vector<uint8_t> out;
    for (size_t at = 0; at < frames.size(); at += blockFrames) {
        const size_t count = frames.size() - at < blockFrames ? frames.size() - at : blockFrames;
        std::vector<uint8_t> block =
            compressBlock(frames.data() + at, count, bits, doubleDelta, true);
        // Changing width at almost every frame can take more bytes than a block's size holds.
        if (block.size() > 0xFFFF)
            block = compressBlock(frames.data() + at, count, bits, doubleDelta, false);
        out.push_back(static_cast<uint8_t>(block.size()));
        out.push_back(static_cast<uint8_t>(block.size() >> 8));
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}
