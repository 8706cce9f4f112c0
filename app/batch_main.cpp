// vortigo-render: renders a project (by default the program folder's) without
// any window and writes the last frame as a binary PPM image. --describe
// prints the project's fields instead, one KEY=value a line.
//
//   vortigo-render [PROJECT.vort] [--describe] [--size WIDTHxHEIGHT] [--frames N]
//                  [--out FILE.ppm]
#include "core/ProjectState.h"
#include "media/PpmWriter.h"
#include "persist/ProjectDefaults.h"
#include "persist/ProjectFile.h"
#include "platform/HeadlessPlatform.h"
#include "render/HeadlessSession.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace vortigo;

namespace {

// Loads the project on the headless platform and prints what it holds; the
// messages of the load go to standard error. 1 when it cannot be loaded.
int describe(const std::string& project) {
    HeadlessPlatform headless;
    setPlatform(&headless);
    if (!initialiseProjectState()) return 1;
    headless.clearRecords();
    const bool loaded = loadProject(project);
    for (const auto& box : headless.messageBoxes())
        std::fprintf(stderr, "vortigo-render: %s: %s\n", box.caption.c_str(), box.text.c_str());
    if (loaded) std::fputs(describeProject().c_str(), stdout);
    setPlatform(nullptr);
    return loaded ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    int width = 640, height = 480, frames = 1;
    bool sizeGiven = false, describeOnly = false;
    std::string out = "frame.ppm", project;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--describe") {
            describeOnly = true;
        } else if (arg.rfind("--", 0) != 0 && project.empty() && !arg.empty()) {
            // Absolute, so files stored beside the project are found there.
            project = std::filesystem::absolute(arg).lexically_normal().string();
        } else if (arg == "--size" && hasValue &&
                   std::sscanf(argv[++i], "%dx%d", &width, &height) == 2) {
            sizeGiven = true;
        } else if (arg == "--frames" && hasValue) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--out" && hasValue) {
            out = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: %s [PROJECT.vort] [--describe] [--size WIDTHxHEIGHT] [--frames N] "
                         "[--out FILE.ppm]\n",
                         argv[0]);
            return 2;
        }
    }
    if (describeOnly) {
        if (!project.empty()) return describe(project);
        std::fprintf(stderr, "vortigo-render: --describe needs a PROJECT.vort\n");
        return 2;
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
        // A project that cannot be loaded shows its message, which ends the run.
        if (!project.empty()) loadProject(project);
        if (project.empty() || sizeGiven) {
            state().imageWidth = width;
            state().imageHeight = height;
        }
    };
    run.onFrame = [&](const FrameView& frame, int) {
        width = frame.width;
        height = frame.height;
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
