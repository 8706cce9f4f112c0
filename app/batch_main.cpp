// vortigo-render: renders the default project of the program folder without
// any window and writes the last frame as a binary PPM image.
//
//   vortigo-render [--size WIDTHxHEIGHT] [--frames N] [--out FILE.ppm]
#include "core/ProjectState.h"
#include "media/PpmWriter.h"
#include "render/HeadlessSession.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace vortigo;

int main(int argc, char** argv) {
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
        } else {
            std::fprintf(stderr, "usage: %s [--size WIDTHxHEIGHT] [--frames N] [--out FILE.ppm]\n",
                         argv[0]);
            return 2;
        }
    }
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "vortigo-render: the size must be positive\n");
        return 2;
    }

    std::vector<uint8_t> last;
    HeadlessRun run;
    run.frames = frames;
    run.flightMode = frames > 1 ? FLIGHT_FREE : FLIGHT_STOPPED;
    run.configure = [&] {
        state().imageWidth = width;
        state().imageHeight = height;
    };
    run.onFrame = [&](const FrameView& frame, int) {
        last.assign(frame.pixels,
                    frame.pixels + static_cast<size_t>(frame.width) * frame.height * 3);
    };
    const HeadlessResult result = renderHeadless(run);
    if (!result.ok) {
        std::fprintf(stderr, "vortigo-render: %s\n", result.error.c_str());
        return 1;
    }

    if (last.empty() || !writePpm(out, last.data(), width, height)) {
        std::fprintf(stderr, "vortigo-render: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%s: %d x %d, first frame after %.1f ms\n", out.c_str(), width, height,
                result.firstFrameMs);
    return 0;
}
