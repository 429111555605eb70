#include "background.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr int HORIZON = 128;  // the first row of the floor
constexpr int SUN_X = 160;
constexpr int SUN_Y = 100;
constexpr int SUN_RADIUS = 42;

struct Colour {
    double r, g, b;
};

Colour mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb toRgb(Colour c) {
    auto channel = [](double v) {
        return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
    };
    return {channel(c.r), channel(c.g), channel(c.b)};
}

// A fixed pseudo-random value in 0..1 for a pixel, so the stars are the same on every build.
double hash(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return ((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
}

Colour sky(int x, int y) {
    const Colour top{6, 4, 28}, middle{70, 22, 96}, low{236, 96, 84};
    double t = static_cast<double>(y) / HORIZON;
    Colour c = t < 0.55 ? mix(top, middle, t / 0.55) : mix(middle, low, (t - 0.55) / 0.45);
    // Stars fade out toward the horizon's glow.
    double star = hash(x, y);
    if (t < 0.6 && star > 0.994)
        c = mix(c, {255, 255, 255}, (star - 0.994) / 0.006 * (1 - t / 0.6));
    return c;
}

// The sun: yellow at the top to pink at the bottom, cut by bands that widen downwards.
bool sun(int x, int y, Colour* c) {
    double dx = x - SUN_X, dy = y - SUN_Y;
    if (dx * dx + dy * dy > SUN_RADIUS * SUN_RADIUS) return false;
    int below = y - (SUN_Y - 6);
    if (below >= 0) {
        int band = below / 8;
        if (below % 8 < 1 + band) return false;
    }
    double t = (dy + SUN_RADIUS) / (2.0 * SUN_RADIUS);
    *c = mix({255, 236, 110}, {255, 60, 140}, t);
    return true;
}

// Ridge heights: sums of sines, the far ridge higher and softer than the near one.
double farRidge(int x) {
    return HORIZON - 24 - 9 * sin(x * 0.029 + 1.0) - 6 * sin(x * 0.071 + 2.3) - 2.5 * sin(x * 0.23);
}
double nearRidge(int x) {
    return HORIZON - 8 - 6 * sin(x * 0.043 + 4.0) - 4 * sin(x * 0.11 + 0.7) - 1.5 * sin(x * 0.37);
}

// The floor: a grid of glowing lines seen in perspective, fading into the distance.
Colour floorAt(int x, int y) {
    double t = static_cast<double>(y - HORIZON) / (PICTURE_HEIGHT - HORIZON);
    Colour base = mix({48, 10, 64}, {8, 2, 20}, t);
    double depth = 40.0 / (y - HORIZON + 1);  // distance of this row
    double nextDepth = 40.0 / (y - HORIZON + 2);
    bool crossLine = std::floor(depth * 2) != std::floor(nextDepth * 2);
    double side = (x - SUN_X + 0.5) * depth / 40.0;  // sideways position on the floor
    double sideNext = (x - SUN_X + 1.5) * depth / 40.0;
    bool lengthLine = std::floor(side) != std::floor(sideNext);
    if (!crossLine && !lengthLine) return base;
    double glow = 1.0 / (1.0 + depth * 0.35);
    return mix(base, {255, 70, 210}, 0.25 + 0.75 * glow);
}

// Chrome letters: light sky at the top, a dark edge in the middle, a warm ground below.
Colour chrome(int row) {
    const Colour stops[] = {
        {230, 250, 255}, {120, 170, 240}, {30, 20, 90}, {250, 150, 90}, {255, 230, 200}};
    double t = row / 31.0 * 4.0;
    int i = static_cast<int>(t);
    if (i >= 4) return stops[4];
    return mix(stops[i], stops[i + 1], t - i);
}

void paintTitle(Rgb* picture, GlyphInk glyphInk) {
    const char title[] = "BROM";
    const int scale = 4, left = 96, top = 6;
    for (int pass = 0; pass < 2; ++pass) {  // the shadow first, then the letters over it
        for (int letter = 0; title[letter]; ++letter) {
            for (int y = 0; y < 8 * scale; ++y) {
                for (int x = 0; x < 8 * scale; ++x) {
                    if (!glyphInk(title[letter], x / scale, y / scale)) continue;
                    int offset = pass == 0 ? 2 : 0;
                    int px = left + letter * 8 * scale + x + offset, py = top + y + offset;
                    Rgb* p = &picture[py * PICTURE_WIDTH + px];
                    *p = pass == 0 ? Rgb{10, 4, 24} : toRgb(chrome(y));
                }
            }
        }
    }
}

}  // namespace

void paintBackground(Rgb* picture, GlyphInk glyphInk) {
    for (int y = 0; y < PICTURE_HEIGHT; ++y) {
        for (int x = 0; x < PICTURE_WIDTH; ++x) {
            Colour c;
            if (y >= HORIZON) {
                c = floorAt(x, y);
            } else if (y >= nearRidge(x)) {
                c = mix({40, 12, 58}, {20, 6, 36}, (y - nearRidge(x)) / 16.0);
            } else if (y >= farRidge(x)) {
                c = mix({96, 36, 110}, {58, 20, 80}, (y - farRidge(x)) / 30.0);
            } else if (!sun(x, y, &c)) {
                c = sky(x, y);
            }
            picture[y * PICTURE_WIDTH + x] = toRgb(c);
        }
    }
    paintTitle(picture, glyphInk);
}
