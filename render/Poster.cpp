#include "render/Poster.h"

#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "media/PictureStream.h"
#include "platform/AtomicFile.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

namespace vortigo {
namespace {

// Copies the tile's part of a finished frame (blue-green-red, bottom row
// first) into `rgb` (red-green-blue, top row first, `stride` samples a row).
template <typename Sample>
void cropSamples(const FrameView& frame, const PixelRect& frameRect, const PixelRect& tile,
                 Sample* rgb, size_t stride) {
    const auto* pixels = reinterpret_cast<const Sample*>(frame.pixels);
    const size_t frameRow = static_cast<size_t>(frame.width) * 3;
    for (int r = 0; r < tile.height; ++r) {
        const int fromTop = tile.y + r - frameRect.y;
        const Sample* from = pixels + frameRow * static_cast<size_t>(frame.height - 1 - fromTop) +
                             static_cast<size_t>(tile.x - frameRect.x) * 3;
        Sample* to = rgb + stride * static_cast<size_t>(r);
        for (int x = 0; x < tile.width; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
}

// The same into bytes: `stride` and the place `rgb` points at count bytes.
void cropTile(const FrameView& frame, const PixelRect& frameRect, const PixelRect& tile,
              uint8_t* rgb, size_t stride) {
    if (frame.sampleBytes == 2)
        cropSamples(frame, frameRect, tile, reinterpret_cast<uint16_t*>(rgb), stride / 2);
    else
        cropSamples(frame, frameRect, tile, rgb, stride);
}

// Tile files are binary PPM: bytes, or big-endian words (maximum 65535)
// for deep tiles, as Netpbm stores them.
std::string ppmHeader(int width, int height, int sampleBytes) {
    return "P6\n" + std::to_string(width) + " " + std::to_string(height) +
           (sampleBytes == 2 ? "\n65535\n" : "\n255\n");
}

void swapWords(uint8_t* bytes, size_t count) {
    if constexpr (std::endian::native == std::endian::little)
        for (size_t i = 0; i + 1 < count; i += 2)
            std::swap(bytes[i], bytes[i + 1]);
}

// Reads a tile file written by storeTileFile: red-green-blue, top row
// first, samples of `sampleBytes` in the machine's order.
bool readTileFile(const std::string& path, int& width, int& height, int& sampleBytes,
                  std::vector<uint8_t>& rgb, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + fileErrorText(errno);
        return false;
    }
    std::string magic;
    int maxValue = 0;
    in >> magic >> width >> height >> maxValue;
    if (!in || magic != "P6" || (maxValue != 255 && maxValue != 65535) || width <= 0 ||
        height <= 0 || width > MAX_POSTER_SIDE || height > MAX_POSTER_SIDE || in.get() != '\n') {
        error = path + " is not a tile file (a binary PPM)";
        return false;
    }
    sampleBytes = maxValue == 65535 ? 2 : 1;
    rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3 * sampleBytes);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    if (!in) {
        error = path + " is cut short";
        return false;
    }
    if (sampleBytes == 2) swapWords(rgb.data(), rgb.size());
    return true;
}

bool storeTileFile(const std::string& path, const FrameView& frame, const TileGrid& grid, int index,
                   std::string& error) {
    const PixelRect tile = grid.tile(index);
    const std::string header = ppmHeader(tile.width, tile.height, frame.sampleBytes);
    const size_t row = static_cast<size_t>(tile.width) * 3 * frame.sampleBytes;
    // Cropped apart from the header, so that words lie at even addresses.
    std::vector<uint8_t> pixels(row * tile.height);
    cropTile(frame, grid.frame(index), tile, pixels.data(), row);
    if (frame.sampleBytes == 2) swapWords(pixels.data(), pixels.size());
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    if (writeWholeFile(path, bytes.data(), bytes.size())) return true;
    error = "cannot write " + path + ": " + fileErrorText(errno);
    return false;
}

std::string megabytes(uintmax_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

} // namespace

BandAssembler::BandAssembler(const TileGrid& grid, std::unique_ptr<PictureStream> stream,
                             int sampleBytes)
    : m_grid(grid), m_stream(std::move(stream)), m_pixelBytes(3 * sampleBytes),
      m_band(static_cast<size_t>(grid.pictureWidth) * m_pixelBytes *
             static_cast<size_t>(std::min(grid.tileSize, grid.pictureHeight))) {}

BandAssembler::~BandAssembler() = default;

bool BandAssembler::add(const FrameView& frame, int index, std::string& error) {
    const PixelRect tile = m_grid.tile(index);
    if (frame.sampleBytes * 3 != m_pixelBytes) {
        error = "a frame of another depth than the picture's";
        return false;
    }
    const size_t stride = static_cast<size_t>(m_grid.pictureWidth) * m_pixelBytes;
    cropTile(frame, m_grid.frame(index), tile,
             m_band.data() + static_cast<size_t>(tile.x) * m_pixelBytes, stride);
    if (index % m_grid.columns != m_grid.columns - 1) return true;
    return m_stream->writeRows(m_band.data(), tile.height, error);
}

bool BandAssembler::finish(std::string& error) {
    return m_stream->finish(error);
}

std::string tileFileName(const std::string& out, int index) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tile%05d.ppm", index);
    return out + suffix;
}

std::string checkPosterSpace(const std::string& out, int width, int height, int bytesPerPixel) {
    std::error_code failed;
    std::filesystem::path folder = std::filesystem::absolute(out, failed).parent_path();
    const std::filesystem::space_info space = std::filesystem::space(folder, failed);
    if (failed) return {}; // the write itself will say what is wrong
    const uintmax_t needed = static_cast<uintmax_t>(width) * static_cast<uintmax_t>(height) *
                             static_cast<uintmax_t>(bytesPerPixel);
    if (needed <= space.available) return {};
    return "the poster of " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels may take up to " + megabytes(needed) + ", and " + folder.string() + " has " +
           megabytes(space.available) + " free";
}

PosterResult renderPoster(const PosterRun& run) {
    PosterResult result;
    HeadlessRun session = run.session;
    const bool deep = run.session.deep;
    std::string planError;
    std::unique_ptr<BandAssembler> assembler;
    int first = 0, last = -1;
    std::atomic<bool> storeFailed{false};
    std::string storeError; // post-processing thread until the session ends
    std::atomic<int> stored{0};

    session.configure = [&] {
        if (run.session.configure) run.session.configure();
        planError = run.session.check ? run.session.check() : std::string();
        if (!planError.empty()) return;
        const ProjectFiles& files = projectFiles();
        const int width = files.imageWidth, height = files.imageHeight;
        if (width < 1 || height < 1 || width > MAX_POSTER_SIDE || height > MAX_POSTER_SIDE) {
            planError = "a poster is 1 to " + std::to_string(MAX_POSTER_SIDE) +
                        " pixels a side, not " + std::to_string(width) + " x " +
                        std::to_string(height);
            return;
        }
        const FilterReach reach =
            filterReach(files.superSample != 0, files.despeckle != 0, files.dofEnabled != 0,
                        files.dofScale, files.dofOffset, width, height);
        int tileSize = std::max(run.tileSize, 1);
        const DriverLimits limits = queryDriverLimits();
        const int largest = std::min(limits.viewportWidth, limits.viewportHeight);
        if (largest <= 2 * reach.margin) {
            planError = largest > 0 ? "the graphics driver cannot draw a tile with the margin "
                                      "the filters need"
                                    : "no OpenGL context could be created";
            return;
        }
        if (static_cast<int64_t>(tileSize) + 2 * static_cast<int64_t>(reach.margin) > largest) {
            tileSize = largest - 2 * reach.margin;
            if (run.note)
                run.note("the tile size is lowered to " + std::to_string(tileSize) +
                         " pixels: with the filters' margin that is the largest frame the "
                         "graphics driver can draw");
        }
        result.grid = planTiles(width, height, tileSize, reach);
        const int count = result.grid.count();
        first = run.lastTile < 0 ? 0 : run.firstTile;
        last = run.lastTile < 0 ? count - 1 : run.lastTile;
        if (first < 0 || last < first || last >= count) {
            planError = "tiles " + std::to_string(first) + " to " + std::to_string(last) +
                        " do not lie in the poster's " + std::to_string(count) + " tiles (0 to " +
                        std::to_string(count - 1) + ")";
            return;
        }
        if (run.lastTile < 0) {
            PictureFormat format = PictureFormat::Png;
            if (!pictureFormatFor(run.out, format) || (format == PictureFormat::Exr && !deep)) {
                planError = "a poster is written as .png or .tif" +
                            std::string(deep ? " or .exr" : "") + ", not " + run.out;
                return;
            }
            auto stream =
                PictureStream::open(run.out, format, width, height, planError, deep ? 16 : 8);
            if (!stream) return;
            try {
                assembler =
                    std::make_unique<BandAssembler>(result.grid, std::move(stream), deep ? 2 : 1);
            } catch (const std::bad_alloc&) {
                planError = "not enough memory for a band of tiles";
                return;
            }
        }
        // The frame in hand when the run starts is the first tile; the camera
        // and time hold still from tile to tile.
        CameraFlight& camera = cameraFlight();
        if (camera.flightMode == FLIGHT_STOPPED) camera.flightMode = FLIGHT_FREE;
        setTiledDrawing(&result.grid, first);
        // Read by the session from here on: one frame a tile.
        session.frames = last - first + 1;
    };
    session.check = [&] { return planError; };
    session.frames = std::max(last - first + 1, 1);
    session.holdCamera = true;
    session.flightMode = -1;
    // A failed write stops the flight: the run then ends after the frame in hand.
    session.endWithTheFlight = true;
    session.onFrame = [&](const FrameView& frame, int index) {
        if (storeFailed) return;
        const int tile = first + index;
        std::string error;
        const bool ok =
            assembler ? assembler->add(frame, tile, error)
                      : storeTileFile(tileFileName(run.out, tile), frame, result.grid, tile, error);
        if (!ok) {
            storeError = error;
            storeFailed = true;
            cameraView().flightMode = FLIGHT_STOPPED;
            return;
        }
        stored = index + 1;
        if (run.progress) run.progress(index + 1, last - first + 1);
    };
    const HeadlessResult ended = renderHeadless(session);
    setTiledDrawing(nullptr);
    result.tilesStored = stored.load();
    result.stopped = ended.stopped;
    if (storeFailed) {
        result.error = storeError;
    } else if (!ended.error.empty()) {
        result.error = ended.error;
    } else if (!ended.stopped && result.tilesStored < last - first + 1) {
        result.error = "the render ended after " + std::to_string(result.tilesStored) + " of " +
                       std::to_string(last - first + 1) + " tiles";
    }
    if (result.error.empty() && !result.stopped && assembler && !assembler->finish(result.error))
        return result;
    result.ok = result.error.empty() && !result.stopped;
    return result;
}

bool joinTiles(const std::string& out, int width, int height, std::string& error) {
    PictureFormat format = PictureFormat::Png;
    if (!pictureFormatFor(out, format)) {
        error = "a poster is written as .png, .tif or .exr, not " + out;
        return false;
    }
    int tileWidth = 0, tileHeight = 0, sampleBytes = 1;
    std::vector<uint8_t> pixels;
    if (!readTileFile(tileFileName(out, 0), tileWidth, tileHeight, sampleBytes, pixels, error))
        return false;
    if (format == PictureFormat::Exr && sampleBytes != 2) {
        error = "an OpenEXR poster is joined from tiles of 16 bits a channel (--depth 16)";
        return false;
    }
    const int tileSize = width > tileWidth ? tileWidth : std::max(tileWidth, tileHeight);
    const TileGrid grid = planTiles(width, height, tileSize, FilterReach{});
    // Every tile is checked before the picture is started.
    for (int i = 0; i < grid.count(); ++i) {
        const std::string name = tileFileName(out, i);
        std::ifstream in(name, std::ios::binary);
        std::string magic;
        int w = 0, h = 0, maxValue = 0;
        in >> magic >> w >> h >> maxValue;
        const PixelRect expected = grid.tile(i);
        if (!in) {
            error = "tile " + std::to_string(i) + " is missing: " + name;
            return false;
        }
        if (maxValue != (sampleBytes == 2 ? 65535 : 255)) {
            error = name + " has another depth than tile 0";
            return false;
        }
        if (magic != "P6" || w != expected.width || h != expected.height) {
            error = name + " is not tile " + std::to_string(i) + " of a " + std::to_string(width) +
                    " x " + std::to_string(height) + " poster: it should be " +
                    std::to_string(expected.width) + " x " + std::to_string(expected.height) +
                    " pixels";
            return false;
        }
    }
    auto stream = PictureStream::open(out, format, width, height, error, sampleBytes * 8);
    if (!stream) return false;
    const size_t pixelBytes = static_cast<size_t>(3) * sampleBytes;
    const size_t stride = static_cast<size_t>(width) * pixelBytes;
    std::vector<uint8_t> band(stride * static_cast<size_t>(std::min(grid.tileSize, height)));
    for (int row = 0; row < grid.rows; ++row) {
        int rows = 0;
        for (int column = 0; column < grid.columns; ++column) {
            const int index = row * grid.columns + column;
            const PixelRect tile = grid.tile(index);
            int w = 0, h = 0, depth = 0;
            if (!readTileFile(tileFileName(out, index), w, h, depth, pixels, error)) return false;
            for (int y = 0; y < h; ++y)
                std::copy_n(pixels.data() + static_cast<size_t>(y) * w * pixelBytes,
                            static_cast<size_t>(w) * pixelBytes,
                            band.data() + stride * static_cast<size_t>(y) +
                                static_cast<size_t>(tile.x) * pixelBytes);
            rows = h;
        }
        if (!stream->writeRows(band.data(), rows, error)) return false;
    }
    return stream->finish(error);
}

} // namespace vortigo
