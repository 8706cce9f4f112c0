#include "media/ImageDecoders.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vortigo {
namespace {

// Reads a BMP from `device`: the header first, so an image too large for a
// background is refused before any pixels are decoded.
bool decodeFrom(QIODevice* device, DecodedImage& image) {
    QImageReader reader(device, "bmp");
    reader.setDecideFormatFromContent(false);
    // A top-down bitmap reports a negative height here.
    const QSize size = reader.size();
    if (!backgroundSizeAllowed(image, size.width(), std::abs(size.height()))) return false;
    // Qt has a budget of its own (256 MB unless told): ours decides.
    reader.setAllocationLimit(
        static_cast<int>(std::min<size_t>(image.byteLimit / (size_t{1} << 20) + 1, INT32_MAX)));
    QImage decoded = reader.read();
    if (decoded.isNull() || !backgroundSizeAllowed(image, decoded.width(), decoded.height()))
        return false;
    // 0xffRRGGBB words: blue, green, red, 255 in memory, top row first.
    decoded = std::move(decoded).convertToFormat(QImage::Format_RGB32);
    if (decoded.isNull()) return false;

    const int width = decoded.width();
    const int height = decoded.height();
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    ByteBuffer pixels(new (std::nothrow) uint8_t[rowBytes * height]);
    if (!pixels) return false;
    for (int y = 0; y < height; ++y)
        std::memcpy(pixels.get() + y * rowBytes, decoded.constScanLine(y), rowBytes);
    image.pixels = std::move(pixels);
    image.width = width;
    image.height = height;
    return true;
}

} // namespace

bool decodeBmp(const char* path, DecodedImage& image) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) return false;
    return decodeFrom(&file, image);
}

bool decodeBmpMemory(const uint8_t* data, size_t size, DecodedImage& image) {
    if (!data || size == 0 || size > static_cast<size_t>(INT32_MAX)) return false;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return false;
    return decodeFrom(&buffer, image);
}

} // namespace vortigo
