// Renders the program icon (the Mandelbrot set in the studio's colours) as
// PNG files for the desktop's icon theme: make_icons OUTDIR SIZE...
// writes OUTDIR/SIZExSIZE/apps/vortigo.png for each size.
#include "resources/IconPixels.h"

#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>

namespace {

using vortigo::IconColour;
using vortigo::iconColour;

QImage renderIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    const int samples = size < 64 ? 3 : 2; // smooth edges at small sizes
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double r = 0, g = 0, b = 0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const IconColour c =
                        iconColour(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples, size);
                    r += c.red, g += c.green, b += c.blue;
                }
            }
            const double n = samples * samples;
            image.setPixel(x, y, qRgb(int(r / n), int(g / n), int(b / n)));
        }
    }
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0) return 2;
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(argv[1]).arg(size);
        if (!QDir().mkpath(folder) || !renderIcon(size).save(folder + "/vortigo.png", "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
