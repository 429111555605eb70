#include "tests/support/mod_writer.h"

namespace {

constexpr int ROWS = 64;

const uint16_t OCTAVE_PERIODS[3][12] = {
    {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453},
    {428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226},
    {214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113},
};

void putText(std::vector<uint8_t>& out, const std::string& text, size_t size) {
    for (size_t k = 0; k < size; ++k) {
        out.push_back(k < text.size() ? static_cast<uint8_t>(text[k]) : 0);
    }
}

void putBe16(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putSampleHeader(std::vector<uint8_t>& out, const ModSample& s) {
    putText(out, s.name, 22);
    const int words =
        s.lengthWordsOverride >= 0 ? s.lengthWordsOverride : static_cast<int>(s.data.size() / 2);
    putBe16(out, static_cast<unsigned>(words));
    out.push_back(s.finetune);
    out.push_back(s.volume);
    putBe16(out, s.loopStartWords);
    putBe16(out, s.loopLengthWords);
}

void putCell(std::vector<uint8_t>& out, const ModCell& cell) {
    out.push_back(static_cast<uint8_t>((cell.sample & 0xF0) | ((cell.period >> 8) & 0x0F)));
    out.push_back(static_cast<uint8_t>(cell.period));
    out.push_back(static_cast<uint8_t>((cell.sample & 0x0F) << 4 | (cell.effect & 0x0F)));
    out.push_back(cell.param);
}

// Channels first..first+count-1 of every row.
void putRows(std::vector<uint8_t>& out, const std::vector<ModCell>& cells, int channels, int first,
             int count) {
    for (int row = 0; row < ROWS; ++row) {
        for (int c = first; c < first + count; ++c) putCell(out, cells[row * channels + c]);
    }
}

}  // namespace

ModSong makeModSong(int channels, int patternCount) {
    ModSong song;
    song.channels = channels;
    if (channels == 4) {
        song.signature = "M.K.";
    } else if (channels < 10) {
        song.signature = std::to_string(channels) + "CHN";
    } else {
        song.signature = std::to_string(channels) + "CH";
    }
    song.orders.clear();
    for (int p = 0; p < patternCount; ++p) {
        song.patterns.emplace_back(ROWS * channels, ModCell{});
        song.orders.push_back(static_cast<uint8_t>(p));
    }
    if (song.orders.empty()) song.orders.push_back(0);
    return song;
}

ModCell& modCellAt(ModSong& song, int pattern, int row, int channel) {
    return song.patterns[pattern][row * song.channels + channel];
}

uint16_t modPeriod(int octave, int semitone) { return OCTAVE_PERIODS[octave - 1][semitone]; }

ModSample makeModSample(std::vector<int8_t> data, uint16_t loopStartWords,
                        uint16_t loopLengthWords) {
    ModSample s;
    s.data = std::move(data);
    s.loopStartWords = loopStartWords;
    s.loopLengthWords = loopLengthWords == 0 ? 1 : loopLengthWords;
    return s;
}

std::vector<int8_t> squareWave(int count, int period, int amplitude) {
    std::vector<int8_t> data(count);
    for (int k = 0; k < count; ++k) {
        data[k] = static_cast<int8_t>(k % period < period / 2 ? amplitude : -amplitude);
    }
    return data;
}

std::vector<uint8_t> writeMod(const ModSong& song) {
    const bool paired = song.signature == "FLT8";
    const size_t sampleCount = song.signature.empty() ? 15 : 31;
    std::vector<uint8_t> out;
    putText(out, song.title, 20);
    for (size_t i = 0; i < sampleCount; ++i) {
        putSampleHeader(out, i < song.samples.size() ? song.samples[i] : ModSample{});
    }
    const int length = song.songLengthOverride >= 0 ? song.songLengthOverride
                                                    : static_cast<int>(song.orders.size());
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(song.restart);
    for (size_t i = 0; i < 128; ++i) {
        const uint8_t order = i < song.orders.size() ? song.orders[i] : 0;
        out.push_back(static_cast<uint8_t>(paired ? 2 * order : order));
    }
    putText(out, song.signature, song.signature.size());
    for (const std::vector<ModCell>& cells : song.patterns) {
        if (paired) {
            putRows(out, cells, song.channels, 0, 4);
            putRows(out, cells, song.channels, 4, 4);
        } else {
            putRows(out, cells, song.channels, 0, song.channels);
        }
    }
    for (size_t i = 0; i < sampleCount && i < song.samples.size(); ++i) {
        const std::vector<int8_t>& data = song.samples[i].data;
        for (size_t k = 0; k < data.size() / 2 * 2; ++k) {
            out.push_back(static_cast<uint8_t>(data[k]));
        }
    }
    return out;
}
