#include "media/PictureStream.h"

#include "media/ExrStream.h"
#include "platform/AtomicFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vortigo {

std::string lowerExtension(const std::string& path) {
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

namespace {

std::string cannotWrite(const std::string& path, int error) {
    return "cannot write " + path + ": " + fileErrorText(error);
}

// libpng reports errors by a long jump: the functions that call it hold no
// object with a destructor between the jump's setting and its landing.
class PngStream final : public PictureStream {
  public:
    PngStream(std::string path, int width, int height, int bits)
        : m_path(std::move(path)), m_width(width), m_height(height), m_bits(bits) {}
    ~PngStream() override {
        if (m_png) png_destroy_write_struct(&m_png, &m_info);
    }
    PngStream(const PngStream&) = delete;
    PngStream& operator=(const PngStream&) = delete;

    bool start(std::string& error) {
        if (!m_file.open(m_path, LinkPolicy::Replace)) {
            error = cannotWrite(m_path, errno);
            return false;
        }
        m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, onError, onWarning);
        if (m_png) m_info = png_create_info_struct(m_png);
        if (!m_png || !m_info) {
            error = "out of memory for the PNG writer";
            return false;
        }
        if (!writeHeader()) return failed(error);
        return true;
    }

    bool writeRows(const uint8_t* rgb, int rows, std::string& error) override {
        if (m_broken || m_rows + rows > m_height) {
            error = m_broken ? m_message : "more rows than the picture holds";
            return false;
        }
        if (!writeRaw(rgb, rows)) return failed(error);
        m_rows += rows;
        return true;
    }

    bool finish(std::string& error) override {
        if (m_broken || m_rows != m_height) {
            error = m_broken ? m_message : "the picture is not complete";
            return false;
        }
        if (!writeEnd()) return failed(error);
        if (!m_file.commit()) {
            error = cannotWrite(m_path, errno);
            return false;
        }
        return true;
    }

  private:
    static void onError(png_structp png, png_const_charp message) {
        auto* self = static_cast<PngStream*>(png_get_error_ptr(png));
        if (self->m_message.empty()) self->m_message = message;
        png_longjmp(png, 1);
    }
    static void onWarning(png_structp, png_const_charp) {}
    static void onWrite(png_structp png, png_bytep data, size_t length) {
        auto* self = static_cast<PngStream*>(png_get_io_ptr(png));
        if (!self->m_file.write(data, length)) {
            self->m_message = cannotWrite(self->m_path, errno);
            png_error(png, "write failed");
        }
    }
    static void onFlush(png_structp) {}

    bool writeHeader() {
        if (setjmp(png_jmpbuf(m_png))) return false;
        png_set_write_fn(m_png, this, onWrite, onFlush);
        png_set_IHDR(m_png, m_info, static_cast<png_uint_32>(m_width),
                     static_cast<png_uint_32>(m_height), m_bits, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        // Posters are large: a faster level costs a few percent of size.
        png_set_compression_level(m_png, 4);
        png_write_info(m_png, m_info);
        // PNG's samples are big-endian; the rows come in the machine's order.
        if (m_bits == 16 && std::endian::native == std::endian::little) png_set_swap(m_png);
        return true;
    }
    bool writeRaw(const uint8_t* rgb, int rows) {
        if (setjmp(png_jmpbuf(m_png))) return false;
        const size_t stride = static_cast<size_t>(m_width) * 3 * (m_bits / 8);
        for (int y = 0; y < rows; ++y)
            png_write_row(m_png, rgb + stride * static_cast<size_t>(y));
        return true;
    }
    bool writeEnd() {
        if (setjmp(png_jmpbuf(m_png))) return false;
        png_write_end(m_png, m_info);
        return true;
    }
    bool failed(std::string& error) {
        m_broken = true;
        if (m_message.empty()) m_message = "the PNG writer failed";
        error = m_message;
        return false;
    }

    AtomicFile m_file;
    std::string m_path;
    int m_width, m_height;
    int m_bits;
    int m_rows = 0;
    bool m_broken = false;
    std::string m_message;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

// libtiff reports through one process-wide handler; each thread keeps the
// first message of its own write.
thread_local std::string t_tiffMessage;

void onTiffError(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (t_tiffMessage.empty())
        t_tiffMessage = module ? std::string(module) + ": " + text : std::string(text);
}

class TiffStream final : public PictureStream {
  public:
    static constexpr int TILE = 256; // the TIFF's own tiles, a multiple of 16

    TiffStream(std::string path, int width, int height, int bits)
        : m_path(std::move(path)), m_width(width), m_height(height), m_pixelBytes(bits / 8 * 3) {}
    ~TiffStream() override {
        if (m_tiff) TIFFClose(m_tiff); // the temporary file goes with m_file
    }
    TiffStream(const TiffStream&) = delete;
    TiffStream& operator=(const TiffStream&) = delete;

    bool start(std::string& error) {
        static std::once_flag handler;
        std::call_once(handler, [] {
            TIFFSetErrorHandler(onTiffError);
            TIFFSetWarningHandler(nullptr);
        });
        t_tiffMessage.clear();
        if (!m_file.open(m_path, LinkPolicy::Replace)) {
            error = cannotWrite(m_path, errno);
            return false;
        }
        // libtiff closes the descriptor it is given; the file keeps its own.
        const int fd = dup(m_file.fd());
        if (fd < 0) {
            error = cannotWrite(m_path, errno);
            return false;
        }
        m_tiff = TIFFFdOpen(fd, m_file.temporaryPath().c_str(), "w8");
        if (!m_tiff) {
            close(fd);
            return failed(error);
        }
        const bool ok =
            TIFFSetField(m_tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(m_width)) &&
            TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(m_height)) &&
            TIFFSetField(m_tiff, TIFFTAG_SAMPLESPERPIXEL, 3) &&
            TIFFSetField(m_tiff, TIFFTAG_BITSPERSAMPLE, m_pixelBytes / 3 * 8) &&
            TIFFSetField(m_tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
            TIFFSetField(m_tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(m_tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
            TIFFSetField(m_tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
            TIFFSetField(m_tiff, TIFFTAG_TILEWIDTH, TILE) &&
            TIFFSetField(m_tiff, TIFFTAG_TILELENGTH, TILE);
        if (!ok) return failed(error);
        try {
            m_band.assign(static_cast<size_t>(m_width) * m_pixelBytes * TILE, 0);
            m_tile.assign(static_cast<size_t>(TILE) * TILE * m_pixelBytes, 0);
        } catch (const std::bad_alloc&) {
            error = "out of memory for the TIFF writer";
            return false;
        }
        return true;
    }

    bool writeRows(const uint8_t* rgb, int rows, std::string& error) override {
        if (m_broken || m_rows + m_bandRows + rows > m_height) {
            error = m_broken ? m_message : "more rows than the picture holds";
            return false;
        }
        const size_t stride = static_cast<size_t>(m_width) * m_pixelBytes;
        while (rows > 0) {
            const int take = std::min(rows, TILE - m_bandRows);
            std::memcpy(m_band.data() + stride * static_cast<size_t>(m_bandRows), rgb,
                        stride * static_cast<size_t>(take));
            m_bandRows += take;
            rgb += stride * static_cast<size_t>(take);
            rows -= take;
            if (m_bandRows == TILE && !flushBand()) return failed(error);
        }
        return true;
    }

    bool finish(std::string& error) override {
        if (m_broken) {
            error = m_message;
            return false;
        }
        // A short band only ever ends the picture: flushed early, it would
        // leave the rows after it out of step with the tiles.
        if (m_rows + m_bandRows != m_height) {
            error = "the picture is not complete";
            return false;
        }
        if (m_bandRows > 0 && !flushBand()) return failed(error);
        TIFF* tiff = std::exchange(m_tiff, nullptr);
        // TIFFClose writes the directory but cannot say whether it failed:
        // TIFFFlush first does, and says so.
        const bool flushed = TIFFFlush(tiff) == 1;
        TIFFClose(tiff);
        if (!flushed) return failed(error);
        if (!m_file.commit()) {
            error = cannotWrite(m_path, errno);
            return false;
        }
        return true;
    }

  private:
    // Cuts the band into the TIFF's tiles; rows below a short last band are
    // zero.
    bool flushBand() {
        const size_t pixel = static_cast<size_t>(m_pixelBytes);
        const size_t stride = static_cast<size_t>(m_width) * pixel;
        for (int x = 0; x < m_width; x += TILE) {
            const int columns = std::min(TILE, m_width - x);
            std::fill(m_tile.begin(), m_tile.end(), 0);
            for (int y = 0; y < m_bandRows; ++y)
                std::memcpy(m_tile.data() + static_cast<size_t>(y) * TILE * pixel,
                            m_band.data() + stride * static_cast<size_t>(y) +
                                static_cast<size_t>(x) * pixel,
                            static_cast<size_t>(columns) * pixel);
            const uint32_t tile = TIFFComputeTile(m_tiff, static_cast<uint32_t>(x),
                                                  static_cast<uint32_t>(m_rows), 0, 0);
            if (TIFFWriteEncodedTile(m_tiff, tile, m_tile.data(),
                                     static_cast<tmsize_t>(m_tile.size())) < 0)
                return false;
        }
        m_rows += m_bandRows;
        m_bandRows = 0;
        return true;
    }
    bool failed(std::string& error) {
        m_broken = true;
        m_message = t_tiffMessage.empty() ? cannotWrite(m_path, errno ? errno : EIO)
                                          : "cannot write " + m_path + ": " + t_tiffMessage;
        error = m_message;
        return false;
    }

    AtomicFile m_file;
    std::string m_path;
    int m_width, m_height;
    int m_pixelBytes;   // 3 or 6
    int m_rows = 0;     // rows in the file
    int m_bandRows = 0; // rows waiting in the band
    bool m_broken = false;
    std::string m_message;
    std::vector<uint8_t> m_band, m_tile;
    TIFF* m_tiff = nullptr;
};

} // namespace

bool pictureFormatFor(const std::string& path, PictureFormat& format) {
    const std::string ext = lowerExtension(path);
    if (ext == "png") {
        format = PictureFormat::Png;
        return true;
    }
    if (ext == "tif" || ext == "tiff") {
        format = PictureFormat::Tiff;
        return true;
    }
    if (ext == "exr") {
        format = PictureFormat::Exr;
        return true;
    }
    return false;
}

std::unique_ptr<PictureStream> PictureStream::open(const std::string& path, PictureFormat format,
                                                   int width, int height, std::string& error,
                                                   int bits) {
    if (width <= 0 || height <= 0) {
        error = "a picture needs a width and a height of at least 1";
        return nullptr;
    }
    if (bits != 8 && bits != 16) {
        error = "a picture has 8 or 16 bits a sample, not " + std::to_string(bits);
        return nullptr;
    }
    if (format == PictureFormat::Exr) {
        if (bits != 16) {
            error = "OpenEXR pictures are written from 16-bit frames";
            return nullptr;
        }
        return openExrStream(path, width, height, error);
    }
    if (format == PictureFormat::Png) {
        if (static_cast<int64_t>(width) * height > PNG_PIXEL_LIMIT) {
            error = "a picture of more than 2^31 - 1 pixels cannot be stored as PNG; write a "
                    ".tif instead";
            return nullptr;
        }
        auto stream = std::make_unique<PngStream>(path, width, height, bits);
        if (!stream->start(error)) return nullptr;
        return stream;
    }
    auto stream = std::make_unique<TiffStream>(path, width, height, bits);
    if (!stream->start(error)) return nullptr;
    return stream;
}

} // namespace vortigo
