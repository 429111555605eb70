// brom-make-art: turns the readable art in assets/ into the demo's stored forms, as one C++ source
// compiled into the program.
//
//     brom-make-art ASSETS_DIR OUTPUT.cpp [PREVIEW_DIR]
//
// font.txt becomes the 1-bit font picture, sprite.txt the sprite, scroll-text.txt the framed scroll
// text, and the background is painted by assets/background.cpp. With PREVIEW_DIR the background
// and the sprite are also written there as PPM pictures.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "assets/background.h"

namespace {

constexpr int FONT_SIZE = 64;
constexpr int SPRITE_SIDE = 32;
constexpr int LEADING_SPACES = 54;
constexpr int TRAILING_SPACES = 53;

bool fontInk[64][8][8];  // [glyph][row][column], rows top to bottom

bool fail(const std::string& message) {
    fprintf(stderr, "brom-make-art: %s\n", message.c_str());
    return false;
}

bool readLines(const std::string& path, std::vector<std::string>* lines) {
    std::ifstream in(path);
    if (!in) return fail("cannot read " + path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines->push_back(line);
    }
    return true;
}

bool isNote(const std::string& line) { return line.empty() || line[0] == '#'; }

// Blocks of a quoted character and eight rows of '#' and '.', for the codes 32 to 95 in order.
bool readFont(const std::string& path) {
    std::vector<std::string> lines;
    if (!readLines(path, &lines)) return false;
    int glyph = 0;
    for (size_t i = 0; i < lines.size();) {
        const std::string& line = lines[i];
        if (line.size() != 3 || line[0] != '\'' || line[2] != '\'') {
            if (isNote(line)) {
                ++i;
                continue;
            }
            return fail(path + ":" + std::to_string(i + 1) + ": expected a quoted character");
        }
        if (glyph >= 64 || line[1] != 32 + glyph)
            return fail(path + ":" + std::to_string(i + 1) + ": expected '" +
                        std::string(1, static_cast<char>(32 + glyph)) + "'");
        for (int row = 0; row < 8; ++row) {
            size_t n = i + 1 + row;
            if (n >= lines.size() || lines[n].size() != 8 ||
                lines[n].find_first_not_of("#.") != std::string::npos)
                return fail(path + ":" + std::to_string(n + 1) + ": expected 8 of '#' and '.'");
            for (int col = 0; col < 8; ++col) fontInk[glyph][row][col] = lines[n][col] == '#';
        }
        i += 9;
        ++glyph;
    }
    if (glyph != 64) return fail(path + ": " + std::to_string(glyph) + " glyphs, expected 64");
    return true;
}

bool glyphInk(int code, int x, int y) {
    if (code < 32 || code > 95 || x < 0 || x > 7 || y < 0 || y > 7) return false;
    return fontInk[code - 32][y][x];
}

// 64 x 64 pixels, 1 bit each with 0 for ink, most significant bit leftmost, bottom row first.
std::vector<uint8_t> storeFont() {
    std::vector<uint8_t> stored(FONT_SIZE * FONT_SIZE / 8, 0xFF);
    for (int y = 0; y < FONT_SIZE; ++y) {
        for (int x = 0; x < FONT_SIZE; ++x) {
            int glyph = (y / 8) * 8 + x / 8;
            if (!fontInk[glyph][y % 8][x % 8]) continue;
            int storedRow = FONT_SIZE - 1 - y;
            stored[storedRow * 8 + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
        }
    }
    return stored;
}

// Rows of blue-green-red triples, bottom row first.
std::vector<uint8_t> storePicture(const std::vector<Rgb>& picture, int width, int height) {
    std::vector<uint8_t> stored;
    stored.reserve(picture.size() * 3);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const Rgb& p = picture[y * width + x];
            stored.insert(stored.end(), {p.blue, p.green, p.red});
        }
    }
    return stored;
}

// 32 rows of 32 characters: '.' see-through (magenta), '0' to 'f' greys.
bool readSprite(const std::string& path, std::vector<Rgb>* sprite) {
    std::vector<std::string> lines;
    if (!readLines(path, &lines)) return false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (isNote(line)) continue;
        if (line.size() != SPRITE_SIDE)
            return fail(path + ":" + std::to_string(i + 1) + ": expected 32 pixels");
        for (char c : line) {
            if (c == '.') {
                sprite->push_back({255, 0, 255});
                continue;
            }
            int level = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (level < 0) return fail(path + ":" + std::to_string(i + 1) + ": unknown pixel");
            uint8_t grey = static_cast<uint8_t>(17 * level);
            sprite->push_back({grey, grey, grey});
        }
    }
    if (sprite->size() != SPRITE_SIDE * SPRITE_SIDE) return fail(path + ": expected 32 rows");
    return true;
}

// The lines joined with single spaces, framed by spaces; only codes the font has.
bool readScrollText(const std::string& path, std::string* text) {
    std::vector<std::string> lines;
    if (!readLines(path, &lines)) return false;
    std::string message;
    for (const std::string& line : lines) {
        if (isNote(line)) continue;
        if (!message.empty()) message += ' ';
        message += line;
    }
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] < 32 || message[i] > 95)
            return fail(path + ": the font has no '" + std::string(1, message[i]) +
                        "' (use capitals)");
    }
    if (message.empty()) return fail(path + ": no text");
    *text = std::string(LEADING_SPACES, ' ') + message + std::string(TRAILING_SPACES, ' ');
    return true;
}

void writeArray(std::ostream& out, const char* declaration, const std::vector<uint8_t>& bytes) {
    out << declaration << " = {";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 24 == 0) out << "\n   ";
        out << ' ' << static_cast<int>(bytes[i]) << ',';
    }
    out << "\n};\n\n";
}

void writeText(std::ostream& out, const std::string& text) {
    out << "const char scrollText[] =";
    for (size_t i = 0; i < text.size(); i += 72) {
        out << "\n    \"";
        for (char c : text.substr(i, 72)) {
            if (c == '"' || c == '\\') out << '\\';
            out << c;
        }
        out << '"';
    }
    out << ";\n";
}

bool writePpm(const std::string& path, const std::vector<Rgb>& picture, int width, int height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    out.write(reinterpret_cast<const char*>(picture.data()),
              static_cast<std::streamsize>(picture.size() * 3));
    return out.good() || fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: brom-make-art ASSETS_DIR OUTPUT.cpp [PREVIEW_DIR]\n");
        return 2;
    }
    std::string assets = argv[1];
    std::vector<Rgb> sprite;
    std::string text;
    if (!readFont(assets + "/font.txt") || !readSprite(assets + "/sprite.txt", &sprite) ||
        !readScrollText(assets + "/scroll-text.txt", &text))
        return 1;
    std::vector<Rgb> background(PICTURE_WIDTH * PICTURE_HEIGHT);
    paintBackground(background.data(), glyphInk);

    std::ostringstream out;
    out << "// Made by brom-make-art from assets/: do not edit.\n#include \"demo/art.h\"\n\n";
    writeArray(out, "const uint8_t backgroundImage[FRAME_WIDTH * FRAME_HEIGHT * 3]",
               storePicture(background, PICTURE_WIDTH, PICTURE_HEIGHT));
    writeArray(out, "const uint8_t spriteImage[SPRITE_SIZE * SPRITE_SIZE * 3]",
               storePicture(sprite, SPRITE_SIDE, SPRITE_SIDE));
    writeArray(out, "const uint8_t fontBitmap[FONT_SHEET_SIZE * FONT_SHEET_SIZE / 8]", storeFont());
    writeText(out, text);

    std::ofstream file(argv[2], std::ios::binary);
    file << out.str();
    if (!file.good()) return fail(std::string("cannot write ") + argv[2]) ? 0 : 1;
    if (argc == 4) {
        std::string dir = argv[3];
        if (!writePpm(dir + "/background.ppm", background, PICTURE_WIDTH, PICTURE_HEIGHT) ||
            !writePpm(dir + "/sprite.ppm", sprite, SPRITE_SIDE, SPRITE_SIDE))
            return 1;
    }
    return 0;
}
