// Soak: the default project through the real render and post-processing
// threads for many frames, with a script that allocates and frees in every
// udPre, faults in every 1000th udPostFrame and is compiled again after each
// fault and every 5000th frame. Prints resident memory after the warm-up and
// at the end, and whether every frame reached post-processing in time.
//
// Not a test: run from the build folder, bin/bench_soak [frames] [width] [height]
#include "core/ProjectState.h"
#include "flight/FlightControls.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "render/FramePipeline.h"
#include "render/Workers.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

using namespace vortigo;

namespace {

const char* const SOAK_SCRIPT = R"(
#include <stdlib.h>
#include <string.h>
static int frames;
void udPre(unsigned char *b, float *f) {
    int i;
    char *p[16];
    for (i = 0; i < 16; i++) { p[i] = malloc(64 << (i % 8)); memset(p[i], i, 64); }
    for (i = 0; i < 16; i++) free(p[i]);
}
void udPostFrame(unsigned char *pixels) {
    if (++frames % 1000 == 0) { volatile int *nowhere = (int *)16; *nowhere = 1; }
}
)";

long residentKb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 100000;
    const int width = argc > 2 ? std::atoi(argv[2]) : 320;
    const int height = argc > 3 ? std::atoi(argv[3]) : 240;
    const int warmUp = std::min(5000, frames / 4);

    HeadlessPlatform headless;
    headless.setImmediate(true);
    std::atomic<long> advances{0};
    headless.setHandler(WindowId::Trace, [&](const WindowMessage& message) {
        if (message.type != MSG_ADVANCE) return;
        ++advances;
        handleAdvanceMessage();
    });
    setPlatform(&headless);
    if (!initialiseProjectState()) return 1;
    ProjectState& s = state();
    s.imageWidth = width;
    s.imageHeight = height;
    std::strcpy(s.scriptText.get(), SOAK_SCRIPT);

    std::atomic<long> delivered{0}, compiles{0};
    std::atomic<size_t> boxesSeen{0};
    std::atomic<long> warmKb{0}, lowKb{0}, highKb{0};
    setFrameSink([&](const FrameView&) {
        const long n = ++delivered;
        if (n == warmUp) warmKb = lowKb = highKb = residentKb();
        if (n > warmUp && n % 500 == 0) {
            const long kb = residentKb();
            lowKb = std::min(lowKb.load(), kb);
            highKb = std::max(highKb.load(), kb);
        }
        const size_t boxes = headless.messageBoxes().size();
        const bool faulted = boxes != boxesSeen;
        if (boxes > 100) headless.clearRecords();
        boxesSeen = headless.messageBoxes().size();
        if (n >= frames) {
            state().flightMode = FLIGHT_STOPPED;
        } else if (faulted || n % 5000 == 0) {
            ++compiles;
            state().scriptReady.clear();
            state().compileRequest.set();
        }
        notifyFlagChange();
    });

    s.flightMode = FLIGHT_FREE;
    s.runAfterCompile.set();
    startWorkers();
    s.compileRequest.set();
    s.resizeRequest.set();
    const auto start = Clock::now();
    waitUntil([&] { return delivered >= frames || renderContextFailed(); }, 24 * 3600 * 1000);
    waitUntil([&] { return idleTest(); }, 10000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%ld frames of %dx%d in %.1f s (%.0f fps), %ld compiles\n", delivered.load(), width,
                height, seconds, delivered / seconds, compiles.load() + 1);
    std::printf("resident memory after %d frames %ld kB, then between %ld and %ld kB, at the end "
                "%ld kB: growth %+ld kB\n",
                warmUp, warmKb.load(), lowKb.load(), highKb.load(), residentKb(),
                highKb.load() - warmKb.load());
    // A frame that never reached post-processing would have held the render
    // thread at its hand-over until the time-out beep (1000 Hz, 250 ms; a
    // compile beeps otherwise for each empty layer).
    size_t timeOuts = 0;
    for (const auto& beep : headless.beeps())
        if (beep.hz == 1000 && beep.ms == 250) ++timeOuts;
    std::printf("frames finished %ld of %d wanted, advances handled %ld (one that meets a pending "
                "compile draws nothing), hand-over time-outs %zu: %s\n",
                delivered.load(), frames, advances.load(), timeOuts,
                delivered >= frames && timeOuts == 0 ? "no frame lost" : "FRAMES LOST");
    runExitPath();
    setFrameSink(nullptr);
    setPlatform(nullptr);
    return delivered >= frames && timeOuts == 0 && highKb - warmKb < 5 * 1024 ? 0 : 1;
}
