// vortigo-render: renders the default project of the program folder without
// any window and writes the last frame as a binary PPM image, or every frame
// through the capture writer (an AVI file or numbered TGA stills).
//
//   vortigo-render [--size WIDTHxHEIGHT] [--frames N] [--out FILE.ppm|FILE.avi|FILE.tga]
//                  [--codec raw|mjpeg|ffv1|mpeg4|h264] [--quality 1-100] [--fps N]
//                  [--max-frames N] [--sound FILE.wav] [--motion-blur]
#include "core/ProjectState.h"
#include "media/Capture.h"
#include "media/PpmWriter.h"
#include "render/HeadlessSession.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

using namespace vortigo;

namespace {

// The capture options; the output goes through the capture writer unless
// its extension is PPM.
struct CaptureOptions {
    CompressionChoice choice;
    int fps = 25;
    int maxFrames = 0;
    std::string sound;
    bool motionBlur = false;
};

bool isPpmName(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && strcasecmp(name.c_str() + dot + 1, "ppm") == 0;
}

// Consumes one capture option at argv[i]; false when it is not one (or its
// value is wrong).
bool parseCaptureOption(int argc, char** argv, int& i, CaptureOptions& options) {
    const std::string arg = argv[i];
    if (arg == "--motion-blur") {
        options.motionBlur = true;
        return true;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[i + 1];
    static const char* const codecs[] = {"raw", "mjpeg", "ffv1", "mpeg4", "h264"};
    if (arg == "--codec") {
        for (int c = 0; c < VIDEO_CODEC_COUNT; ++c)
            if (std::strcmp(value, codecs[c]) == 0) {
                options.choice.codec = static_cast<VideoCodec>(c);
                ++i;
                return true;
            }
        return false;
    }
    int* number = arg == "--quality"      ? &options.choice.quality
                  : arg == "--fps"        ? &options.fps
                  : arg == "--max-frames" ? &options.maxFrames
                                          : nullptr;
    if (number) {
        char* end = nullptr;
        const long parsed = std::strtol(value, &end, 10);
        if (end == value || *end != 0 || parsed < 0 || parsed > 1000000) return false;
        *number = static_cast<int>(parsed);
        ++i;
        return true;
    }
    if (arg == "--sound") {
        options.sound = value;
        ++i;
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    CaptureOptions capture;
    int width = 640, height = 480, frames = 1;
    std::string out = "frame.ppm";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--size" && hasValue && std::sscanf(argv[++i], "%dx%d", &width, &height) == 2) {
        } else if (arg == "--frames" && hasValue) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--out" && hasValue) {
            out = argv[++i];
        } else if (!parseCaptureOption(argc, argv, i, capture)) {
            std::fprintf(stderr,
                         "usage: %s [--size WIDTHxHEIGHT] [--frames N] [--out "
                         "FILE.ppm|FILE.avi|FILE.tga]\n"
                         "       [--codec raw|mjpeg|ffv1|mpeg4|h264] [--quality 1-100] [--fps N]\n"
                         "       [--max-frames N] [--sound FILE.wav] [--motion-blur]\n",
                         argv[0]);
            return 2;
        }
    }
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "vortigo-render: the size must be positive\n");
        return 2;
    }

    const bool capturing = !isPpmName(out);
    if (capturing) {
        const CompressionChoice choice = capture.choice;
        setCompressionChooser([choice](CompressionChoice& chosen) {
            chosen = choice;
            return true;
        });
    }

    std::vector<uint8_t> last;
    std::atomic<bool> captureFailed{false};
    Path audio{};
    std::snprintf(audio, sizeof audio, "%s", capture.sound.c_str());
    HeadlessRun run;
    run.frames = frames;
    run.flightMode = frames > 1 ? FLIGHT_FREE : FLIGHT_STOPPED;
    run.configure = [&] {
        state().imageWidth = width;
        state().imageHeight = height;
        state().useMotionBlur = capture.motionBlur;
    };
    run.onFrame = [&](const FrameView& frame, int index) {
        if (!capturing) {
            last.assign(frame.pixels,
                        frame.pixels + static_cast<size_t>(frame.width) * frame.height * 3);
            return;
        }
        // The writer runs on the post-processing thread, as in the studio.
        Capture& writer = theCapture();
        if (index == 0)
            writer.start(WindowId::None, out.c_str(), frame.width, frame.height, capture.fps,
                         capture.maxFrames, audio);
        if (captureFailed) return;
        if (!writer.captureFrame(frame.pixels))
            captureFailed = true;
        else if (index + 1 == frames)
            writer.finish();
    };
    const HeadlessResult result = renderHeadless(run);
    if (!result.ok) {
        std::fprintf(stderr, "vortigo-render: %s\n", result.error.c_str());
        return 1;
    }
    if (capturing) {
        if (captureFailed) {
            std::fprintf(stderr, "vortigo-render: the capture into %s failed\n", out.c_str());
            return 1;
        }
        std::printf("%s: %d frames of %d x %d\n", out.c_str(), frames, width, height);
        return 0;
    }

    if (last.empty() || !writePpm(out, last.data(), width, height)) {
        std::fprintf(stderr, "vortigo-render: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%s: %d x %d, first frame after %.1f ms\n", out.c_str(), width, height,
                result.firstFrameMs);
    return 0;
}
