// Soak: the default project through the real render and post-processing
// threads for many frames, with a hostile script: it allocates and frees and
// asks for a data texture in every udPre, starts and joins a thread of its
// own every 1000 frames, writes one element past udef every 5000th frame
// (which stops that udPre), faults in every 1000th udPostFrame, and is
// compiled again after each fault and every 5000th frame. Prints resident
// memory after the warm-up and at the end, and whether every frame reached
// post-processing in time.
//
// Not a test: run from the build folder, bin/bench_soak [frames] [width] [height]
#include "control/TraceKeys.h"
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
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
#include <string>
#include <unistd.h>

using namespace vortigo;

namespace {

// The frame count and the frames of the last thread and overrun live in the
// last udef entries (MaxUdef 32, the default), so they survive the compiles.
const char* const SOAK_SCRIPT = R"(
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <vortigo.h>
static float *u;
static float texels[64 * 4];
static void *work(void *arg) {
    int i, sum = 0;
    char *block = malloc(4096);
    for (i = 0; i < 4096; i++) sum += block[i] = (char)i;
    free(block);
    return (void *)(long)sum;
}
void udSetup(void *trace, float *udef, float *anim, int *frame, char *line) {
    u = udef;
}
void udPre(unsigned char *b, float *f) {
    int i, n = (int)u[31];
    char *p[16];
    pthread_t thread;
    for (i = 0; i < 16; i++) { p[i] = malloc(64 << (i % 8)); memset(p[i], i, 64); }
    for (i = 0; i < 16; i++) free(p[i]);
    SetupDataTex(texels, 64, 1, 4, 1, 2);
    if (n % 1000 == 500 && n != (int)u[29]) {
        u[29] = n;
        if (pthread_create(&thread, 0, work, 0) == 0) pthread_join(thread, 0);
    }
    if (n % 5000 == 2500 && n != (int)u[30]) {
        u[30] = n;
        u[32] = 1;
    }
}
void udPostFrame(unsigned char *pixels) {
    int n = (int)++u[31];
    if (n % 1000 == 0) { volatile int *nowhere = (int *)16; *nowhere = 1; }
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
    const int width = argc > 2 ? std::atoi(argv[2]) : 64;
    const int height = argc > 3 ? std::atoi(argv[3]) : 48;
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
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    files.imageWidth = width;
    files.imageHeight = height;
    std::strcpy(files.scriptText.get(), SOAK_SCRIPT);

    std::atomic<long> delivered{0}, compiles{0};
    std::atomic<size_t> boxesSeen{0};
    std::atomic<long> preFaults{0}, postFaults{0}, otherBoxes{0};
    std::atomic<long> warmKb{0}, lowKb{0}, highKb{0};
    setFrameSink([&](const FrameView&) {
        const long n = ++delivered;
        if (n == warmUp) warmKb = lowKb = highKb = residentKb();
        if (n > warmUp && n % 500 == 0) {
            const long kb = residentKb();
            lowKb = std::min(lowKb.load(), kb);
            highKb = std::max(highKb.load(), kb);
        }
        const auto records = headless.messageBoxes();
        const size_t boxes = records.size();
        const bool faulted = boxes != boxesSeen;
        for (size_t i = boxesSeen; i < boxes; ++i) {
            const std::string& text = records[i].text;
            if (text.rfind("udPre", 0) == 0)
                ++preFaults;
            else if (text.rfind("udPostFrame", 0) == 0)
                ++postFaults;
            else
                ++otherBoxes;
        }
        if (boxes > 100) headless.clearRecords();
        boxesSeen = headless.messageBoxes().size();
        if (n >= frames) {
            cameraView().flightMode = FLIGHT_STOPPED;
        } else if (faulted || n % 5000 == 0) {
            ++compiles;
            runState().scriptReady.clear();
            runState().compileRequest.set();
        }
        notifyFlagChange();
    });

    camera.flightMode = FLIGHT_FREE;
    runState().runAfterCompile.set();
    startWorkers();
    runState().compileRequest.set();
    runState().resizeRequest.set();
    const auto start = Clock::now();
    waitUntil([&] { return delivered >= frames || renderContextFailed(); }, 24 * 3600 * 1000);
    waitUntil([&] { return stopFlightAndCheckParked(); }, 10000);
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
    std::printf("faults stopped %ld udPre calls (writes past udef) and %ld udPostFrame calls; "
                "%ld other messages\n",
                preFaults.load(), postFaults.load(), otherBoxes.load());
    runExitPath();
    setFrameSink(nullptr);
    setPlatform(nullptr);
    return delivered >= frames && timeOuts == 0 && highKb - warmKb < 5 * 1024 ? 0 : 1;
}
