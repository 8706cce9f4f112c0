// Pictures written a band of rows at a time, for stills far larger than
// memory: PNG through libpng's row writer, BigTIFF through libtiff (tiled,
// deflate), both with 8 or 16 bits a sample, and OpenEXR half float
// (media/ExrStream.h) from 16-bit frames. The bytes go to the whole-or-nothing temporary file
// beside the target (platform/AtomicFile.h): the picture appears under its name only when finish()
// succeeds; an object destroyed before that (a failed write, a cancel, an exception) removes the
// temporary file.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vortigo {

// The extension of a file name in lower case, "" when it has none.
std::string lowerExtension(const std::string& path);

enum class PictureFormat { Png, Tiff, Exr };

// The format a name asks for by its extension (.png, .tif, .tiff, .exr);
// false for any other.
bool pictureFormatFor(const std::string& path, PictureFormat& format);

// PNG stores sides up to 2^31 - 1, but readers (libpng's own among them)
// refuse pictures whose rows do not fit their size types; a picture of more
// than this many pixels in all is written as TIFF.
constexpr int64_t PNG_PIXEL_LIMIT = (int64_t{1} << 31) - 1;

class PictureStream {
  public:
    virtual ~PictureStream() = default;
    // Starts the temporary file of `path` for samples of `bits` bits (8 or
    // 16; OpenEXR only from 16); null with `error` set when it cannot be
    // started.
    static std::unique_ptr<PictureStream> open(const std::string& path, PictureFormat format,
                                               int width, int height, std::string& error,
                                               int bits = 8);
    // Appends `rows` rows, top row first, each width x 3 samples of red,
    // green and blue: bytes, or with 16 bits uint16_t values in the
    // machine's byte order (`rgb` then 2-byte aligned). False with `error`
    // set; the stream is then unusable.
    virtual bool writeRows(const uint8_t* rgb, int rows, std::string& error) = 0;
    // Ends the file and renames it to its name; every row must have been
    // written.
    virtual bool finish(std::string& error) = 0;
};

} // namespace vortigo
