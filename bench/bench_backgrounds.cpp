// Background decoding against bare library baselines timed in the same run:
//  - JPEG: decodeJpeg of a 1920 x 1080 photo-like picture against a bare
//    libjpeg-turbo decode of the same file to BGRX (goal: at least 0.95x);
//  - video: AVIGrab reading and converting every frame of a 1920 x 1080
//    Motion JPEG AVI against `ffmpeg -threads 1 -i bg.avi -f null -` on the
//    same file, timed by its own -benchmark (goal: at least 0.90x of its
//    frames per second);
//  - allocations counted while the reader runs in its steady state.
// The test files are made with the ffmpeg tool in a temporary folder.
//
// Run from the build folder: bin/bench_backgrounds [repetitions]
#include "core/ProjectTypes.h"
#include "media/AviGrab.h"
#include "media/ImageDecoders.h"
#include "platform/HeadlessPlatform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

// Every heap allocation of the process, FFmpeg's included, is counted here.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}
namespace {
std::atomic<long> g_allocations{0};
}
extern "C" {
void* malloc(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : 12;
}
void* aligned_alloc(size_t alignment, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* memalign(size_t alignment, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
}

using namespace vortigo;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kVideoFrames = 100;

double nowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// The plainest libjpeg-turbo decode to BGRX. Like any decode that hands out
// a new picture, it allocates the block it returns.
bool bareDecode(const char* path, std::unique_ptr<uint8_t[]>& out) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    const size_t rowBytes = static_cast<size_t>(info.output_width) * 4;
    out.reset(new uint8_t[rowBytes * info.output_height]);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.get() + info.output_scanline * rowBytes;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return true;
}

// Runs `ffmpeg -threads 1 -i path -f null -` with -benchmark and returns the
// real time it reports for its decode loop in milliseconds (0 on failure).
double ffmpegDecodeMs(const std::string& path) {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -benchmark -threads 1 -i " + path + " -f null - 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 0;
    double rtime = 0;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe))
        if (const char* at = std::strstr(line, "rtime=")) rtime = std::atof(at + 6);
    pclose(pipe);
    return rtime * 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(3, std::atoi(argv[1])) : 9;
    static HeadlessPlatform headless;
    setPlatform(&headless);

    char folder[] = "/tmp/vortigo-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string dir = folder;
    const std::string photo = dir + "/photo.jpg";
    const std::string video = dir + "/bg.avi";
    const std::string source = "-f lavfi -i mandelbrot=s=" + std::to_string(kWidth) + "x" +
                               std::to_string(kHeight) + ":r=25 ";
    if (!run("ffmpeg -nostdin -v error -y " + source + "-frames:v 1 -q:v 3 " + photo) ||
        !run("ffmpeg -nostdin -v error -y " + source + "-frames:v " + std::to_string(kVideoFrames) +
             " -c:v mjpeg -pix_fmt yuvj420p -q:v 3 " + video)) {
        std::fprintf(stderr, "bench_backgrounds: the ffmpeg tool could not make the files\n");
        return 1;
    }

    // JPEG, alternating the two so both see the same machine state.
    std::unique_ptr<uint8_t[]> bare;
    std::vector<double> oursMs, bareMs;
    for (int i = 0; i < repetitions; ++i) {
        double start = nowMs();
        DecodedImage image;
        if (!decodeJpeg(photo.c_str(), image)) return 1;
        oursMs.push_back(nowMs() - start);
        start = nowMs();
        if (!bareDecode(photo.c_str(), bare)) return 1;
        bareMs.push_back(nowMs() - start);
    }
    const double jpegRatio = median(bareMs) / median(oursMs);
    std::printf("jpeg 1920x1080: decodeJpeg %.2f ms, bare libjpeg-turbo %.2f ms, speed ratio %.3f "
                "(goal >= 0.95)\n",
                median(oursMs), median(bareMs), jpegRatio);

    // Video: every frame once, in order, as with divisor 1.
    std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
    std::vector<double> readerFps, ffmpegFps;
    long steadyAllocations = 0;
    for (int i = 0; i < std::max(3, repetitions / 3); ++i) {
        AVIGrab reader;
        if (!reader.open(WindowId::None, video.c_str())) return 1;
        int32_t counter = 0;
        reader.frameCounter = &counter;
        reader.targetPixels = pixels.data();
        reader.divisor = 1;
        double start = nowMs();
        long allocationsBefore = 0;
        for (int f = 0; f < kVideoFrames; ++f) {
            if (f == 2) allocationsBefore = g_allocations.load();
            if (!reader.nextFrame()) return 1;
        }
        steadyAllocations = g_allocations.load() - allocationsBefore;
        readerFps.push_back(kVideoFrames * 1000.0 / (nowMs() - start));

        // ffmpeg's own timing of its decode loop, without its start-up.
        const double ffmpegMs = ffmpegDecodeMs(video);
        if (ffmpegMs <= 0) return 1;
        ffmpegFps.push_back(kVideoFrames * 1000.0 / ffmpegMs);
    }
    const double videoRatio = median(readerFps) / median(ffmpegFps);
    std::printf("mjpeg 1920x1080: reader %.1f frames/s, ffmpeg -threads 1 -f null %.1f frames/s, "
                "ratio %.3f (goal >= 0.90)\n",
                median(readerFps), median(ffmpegFps), videoRatio);
    std::printf("allocations per frame in the steady state (FFmpeg's included): %.2f\n",
                static_cast<double>(steadyAllocations) / (kVideoFrames - 2));

    run("rm -rf " + dir);
    return 0;
}
