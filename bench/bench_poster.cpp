// Posters against single frames: a 4096 x 4096 still of the default project
// in 1024-pixel tiles against one 4096 x 4096 frame, both written as PNG
// through the same streamed writer (best of alternating rounds); then a
// 32768 x 32768 PNG poster (beyond llvmpipe's viewport, so the layers place
// their tiles through the tile uniform), its peak resident memory and its
// time per pixel against the 4096 tiled case.
//
// Run from the build folder: bin/bench_poster [rounds] [big side, 0 skips]
#include "core/ProjectFiles.h"
#include "media/PictureStream.h"
#include "render/HeadlessSession.h"
#include "render/Poster.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace vortigo;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void failed(const std::string& what) {
    std::fprintf(stderr, "bench_poster: %s\n", what.c_str());
    std::exit(1);
}

// One frame of side x side, its rows streamed into a PNG as a poster's are.
double singleFrameSeconds(int side, const std::string& out) {
    HeadlessRun run;
    run.flightMode = FLIGHT_FREE;
    run.configure = [side] {
        projectFiles().imageWidth = side;
        projectFiles().imageHeight = side;
    };
    std::string error;
    run.onFrame = [&](const FrameView& frame, int) {
        auto stream = PictureStream::open(out, PictureFormat::Png, side, side, error);
        if (!stream) return;
        const size_t row = static_cast<size_t>(side) * 3;
        std::vector<uint8_t> rgb(row);
        for (int y = side - 1; y >= 0 && error.empty(); --y) {
            const uint8_t* bgr = frame.pixels + row * static_cast<size_t>(y);
            for (size_t x = 0; x < row; x += 3) {
                rgb[x] = bgr[x + 2];
                rgb[x + 1] = bgr[x + 1];
                rgb[x + 2] = bgr[x];
            }
            stream->writeRows(rgb.data(), 1, error);
        }
        if (error.empty()) stream->finish(error);
    };
    const auto start = Clock::now();
    const HeadlessResult result = renderHeadless(run);
    if (!result.ok || !error.empty()) failed(result.error + error);
    return secondsSince(start);
}

double posterSeconds(int side, int tile, const std::string& out) {
    PosterRun run;
    run.session.configure = [side] {
        projectFiles().imageWidth = side;
        projectFiles().imageHeight = side;
    };
    run.session.timeoutMs = 3600 * 1000;
    run.tileSize = tile;
    run.out = out;
    const auto start = Clock::now();
    const PosterResult result = renderPoster(run);
    if (!result.ok) failed(result.error);
    return secondsSince(start);
}

long peakResidentMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int big = argc > 2 ? std::atoi(argv[2]) : 32768;
    const std::string folder = std::filesystem::temp_directory_path() / "bench_poster";
    std::filesystem::create_directories(folder);

    // The big poster first: the peak resident memory is the process's own.
    double bigSeconds = 0;
    long bigPeakMb = 0;
    if (big > 0) {
        bigSeconds = posterSeconds(big, 2048, folder + "/big.png");
        bigPeakMb = peakResidentMb();
        std::filesystem::remove(folder + "/big.png");
    }

    double frame = 1e9, tiled = 1e9;
    for (int r = 0; r < rounds; ++r) {
        frame = std::min(frame, singleFrameSeconds(4096, folder + "/frame.png"));
        tiled = std::min(tiled, posterSeconds(4096, 1024, folder + "/tiled.png"));
    }
    std::filesystem::remove_all(folder);
    std::printf("4096 x 4096, one frame:           %.2f s\n", frame);
    std::printf("4096 x 4096, 16 tiles of 1024:    %.2f s  (%.2fx the frame; goal at most 1.10x)\n",
                tiled, tiled / frame);
    if (big > 0) {
        const double perPixelBig = bigSeconds / (static_cast<double>(big) * big);
        const double perPixelTiled = tiled / (4096.0 * 4096.0);
        std::printf("%d x %d poster, tiles of 2048: %.1f s, peak resident %ld MB "
                    "(goal under 1024 MB)\n",
                    big, big, bigSeconds, bigPeakMb);
        std::printf("time per pixel against the 4096 tiled case: %.2fx (goal at most 1.2x)\n",
                    perPixelBig / perPixelTiled);
    }
    return 0;
}
