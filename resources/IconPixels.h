// The program's icon: the Mandelbrot set in the studio's colours. The About
// box draws it at run time and the build draws the desktop's icon files.
#pragma once

#include <cmath>
#include <cstdint>

namespace vortigo {

struct IconColour {
    double red, green, blue;
};

// The colour at (x, y) of a size x size icon, x and y in pixels (fractions
// allowed, for sampling).
inline IconColour iconColour(double x, double y, int size) {
    constexpr int LIMIT = 48;
    const double cr = -2.1 + 2.8 * x / size, ci = -1.4 + 2.8 * y / size;
    double zr = 0, zi = 0;
    int i = 0;
    for (; i < LIMIT && zr * zr + zi * zi < 16; ++i) {
        const double t = zr * zr - zi * zi + cr;
        zi = 2 * zr * zi + ci;
        zr = t;
    }
    if (i == LIMIT) return {8, 8, 24};
    const double t = static_cast<double>(i) / LIMIT;
    return {255 * std::sqrt(t), 200 * t, 90 + 120 * t};
}

} // namespace vortigo
