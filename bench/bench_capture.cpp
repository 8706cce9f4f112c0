// What capturing costs. First the writer against the FFmpeg command-line
// tool encoding the same raw frames with the same thread count (Motion JPEG
// and uncompressed, 640x480 and 1920x1080); then the pipeline with capture
// on against the serial bound 1 / (1/fps_without_capture + 1/fps_encoder)
// and against min(fps_without_capture, fps_encoder), all in one run, the
// encoder timed on frames the pipeline drew.
//
// Run from the build folder: bin/bench_capture [frames] [threads]
// (defaults 300 frames, threads = the processor count).
#include "core/ProjectFiles.h"
#include "media/Capture.h"
#include "platform/HeadlessPlatform.h"
#include "render/HeadlessSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace vortigo;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int DISTINCT_FRAMES = 10;
constexpr int QUALITY = 90; // the writer's scale 4 in FFmpeg's -q:v
constexpr int FFMPEG_Q = 4;
constexpr int KEPT_FRAMES = 60;
constexpr int ROUNDS = 5;

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

std::vector<std::vector<uint8_t>> makeFrames(int width, int height) {
    std::vector<std::vector<uint8_t>> frames(DISTINCT_FRAMES);
    for (int f = 0; f < DISTINCT_FRAMES; ++f) {
        frames[f].resize(static_cast<size_t>(width) * height * 3);
        for (size_t i = 0; i < frames[f].size(); ++i)
            frames[f][i] = static_cast<uint8_t>((i % (width * 3)) / 3 + i / (width * 3) + f * 9);
    }
    return frames;
}

CompressionChoice choiceOf(VideoCodec codec, int threads) {
    CompressionChoice c;
    c.codec = codec;
    c.quality = QUALITY;
    c.threads = threads;
    return c;
}

// Frames per second written by the capture writer.
double writerFps(const std::string& path, const std::vector<std::vector<uint8_t>>& frames,
                 int width, int height, int count, const CompressionChoice& choice) {
    const size_t distinct = frames.size();
    setCompressionChooser([choice](CompressionChoice& c) {
        c = choice;
        return true;
    });
    const auto start = Clock::now();
    theCapture().start(WindowId::None, path.c_str(), width, height, 25, 0, "");
    for (int i = 0; i < count; ++i)
        if (!theCapture().captureFrame(frames[i % distinct].data())) {
            std::fprintf(stderr, "capture failed at frame %d\n", i);
            std::exit(1);
        }
    theCapture().finish();
    return count / seconds(start);
}

// Frames per second of the ffmpeg tool on the same frames, start-up included.
double ffmpegFps(const std::string& raw, const std::string& out, int width, int height, int count,
                 VideoCodec codec, int threads) {
    const std::string codecArgs =
        codec == VideoCodec::Raw ? "-c:v rawvideo" : "-c:v mjpeg -q:v " + std::to_string(FFMPEG_Q);
    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s " +
                                std::to_string(width) + "x" + std::to_string(height) +
                                " -r 25 -stream_loop -1 -i " + raw + " -frames:v " +
                                std::to_string(count) + " " + codecArgs + " -threads " +
                                std::to_string(threads) + " " + out;
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", command.c_str());
        std::exit(1);
    }
    return count / seconds(start);
}

// Frames per second through the real render and post-processing threads,
// with each finished frame captured or not; or with the first frames copied
// into `kept` (a run not to be timed): the encoder alone is timed on the very pictures
// the pipeline makes, since a detailed fractal costs far more to compress
// than a synthetic gradient.
double pipelineFps(int width, int height, int count, bool capture, const CompressionChoice& choice,
                   const std::string& path, std::vector<std::vector<uint8_t>>* kept) {
    setCompressionChooser([choice](CompressionChoice& c) {
        c = choice;
        return true;
    });
    HeadlessRun run;
    run.frames = count + 1;
    run.flightMode = FLIGHT_FREE;
    run.configure = [&] {
        projectFiles().imageWidth = width;
        projectFiles().imageHeight = height;
    };
    if (capture)
        run.onFrame = [&](const FrameView& frame, int index) {
            if (index == 0)
                theCapture().start(WindowId::None, path.c_str(), frame.width, frame.height, 25, 0,
                                   "");
            theCapture().captureFrame(frame.pixels);
            if (index == count) theCapture().finish();
        };
    else if (kept)
        run.onFrame = [&](const FrameView& frame, int index) {
            if (index >= KEPT_FRAMES) return;
            const size_t bytes = static_cast<size_t>(frame.width) * frame.height * 3;
            kept->emplace_back(frame.pixels, frame.pixels + bytes);
        };
    const HeadlessResult result = renderHeadless(run);
    if (!result.ok) {
        std::fprintf(stderr, "pipeline: %s\n", result.error.c_str());
        std::exit(1);
    }
    return count / ((result.totalMs - result.firstFrameMs) / 1000.0);
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(20, std::atoi(argv[1])) : 300;
    const int threads =
        argc > 2 ? std::atoi(argv[2]) : static_cast<int>(std::thread::hardware_concurrency());
    HeadlessPlatform headless;
    setPlatform(&headless);
    const std::string dir = std::filesystem::temp_directory_path() / "vortigo-bench-capture";
    std::filesystem::create_directories(dir);
    const int sizes[][2] = {{640, 480}, {1920, 1080}};

    std::printf("%d frames, %d encoder threads; writer fps / ffmpeg fps\n", frames, threads);
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        const auto source = makeFrames(w, h);
        const std::string raw = dir + "/in.raw";
        {
            std::ofstream out(raw, std::ios::binary);
            for (const auto& f : source)
                out.write(reinterpret_cast<const char*>(f.data()), static_cast<long>(f.size()));
        }
        for (VideoCodec codec : {VideoCodec::Mjpeg, VideoCodec::Raw}) {
            const CompressionChoice choice = choiceOf(codec, threads);
            const double ours = writerFps(dir + "/ours.avi", source, w, h, frames, choice);
            const double tool = ffmpegFps(raw, dir + "/tool.avi", w, h, frames, codec, threads);
            std::printf("%-28s %4dx%-4d  writer %7.1f fps  ffmpeg %7.1f fps  ratio %.3f\n",
                        codecTitle(codec), w, h, ours, tool, ours / tool);
            std::filesystem::remove(dir + "/ours.AVI");
            std::filesystem::remove(dir + "/tool.avi");
        }
        std::filesystem::remove(raw);
    }

    std::printf("pipeline with Motion JPEG capture (default project, flying)\n");
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        const int count = w > 1000 ? frames / 3 : frames;
        const CompressionChoice choice = choiceOf(VideoCodec::Mjpeg, threads);
        std::vector<std::vector<uint8_t>> rendered;
        pipelineFps(w, h, KEPT_FRAMES, false, choice, "", &rendered); // not timed: copies
        // The best of alternating rounds: on a shared machine the slower
        // rounds measure the neighbours.
        double without = 0, encoder = 0, with = 0;
        for (int round = 0; round < ROUNDS; ++round) {
            without = std::max(without, pipelineFps(w, h, count, false, choice, "", nullptr));
            encoder =
                std::max(encoder, writerFps(dir + "/alone.avi", rendered, w, h, count, choice));
            with =
                std::max(with, pipelineFps(w, h, count, true, choice, dir + "/piped.avi", nullptr));
        }
        const double serial = 1.0 / (1.0 / without + 1.0 / encoder);
        std::printf("%4dx%-4d  without %6.1f  encoder %6.1f  with %6.1f fps  "
                    "with/serial %.3f  with/min %.3f\n",
                    w, h, without, encoder, with, with / serial, with / std::min(without, encoder));
    }
    std::filesystem::remove_all(dir);
    setCompressionChooser(nullptr);
    setPlatform(nullptr);
    return 0;
}
