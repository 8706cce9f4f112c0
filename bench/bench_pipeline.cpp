// What the frame pipeline costs beyond the drawing itself: the same layer
// rendered through the real render and post-processing threads (flying, so
// the render thread asks for every next frame itself) and in a plain loop
// on one context that draws and reads back each frame, in the same run.
// Also: read-back as blue-green-red against four bytes repacked on the CPU,
// and the time from a compile request to the first finished frame.
//
// Run from the build folder: bin/bench_pipeline [frames]
#include "core/ProjectState.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "render/FramePipeline.h"
#include "render/FrameRenderer.h"
#include "render/GlContext.h"
#include "render/HeadlessSession.h"
#include "render/LayerPrograms.h"
#include "script/ScriptHost.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace vortigo;

namespace {

using Clock = std::chrono::steady_clock;

const char* const CONSTANT_SHADER = "void main() { gl_FragColor = vec4(0.2, 0.4, 0.6, 1.0); }\n";
const char* const PLAIN_VERTEX = "void main() { gl_Position = gl_Vertex; }\n";

struct Layer {
    const char* name;
    const char* vertex; // null: the default project's own texts
    const char* fragment;
};

void useLayer(const Layer& layer) {
    if (!layer.vertex) return;
    std::strcpy(state().layers[0].vertexText.get(), layer.vertex);
    std::strcpy(state().layers[0].fragmentText.get(), layer.fragment);
}

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Frames per second through the real threads, after the first frame.
double pipelineFps(const Layer& layer, int width, int height, int frames, double* firstMs) {
    HeadlessRun run;
    run.frames = frames + 1;
    run.flightMode = FLIGHT_FREE;
    run.configure = [&] {
        state().imageWidth = width;
        state().imageHeight = height;
        useLayer(layer);
    };
    const HeadlessResult result = renderHeadless(run);
    if (!result.ok) {
        std::fprintf(stderr, "pipeline: %s\n", result.error.c_str());
        std::exit(1);
    }
    if (firstMs) *firstMs = result.firstFrameMs;
    return frames / ((result.totalMs - result.firstFrameMs) / 1000.0);
}

// Frames per second of drawing and reading back in one loop on one thread.
double plainFps(const Layer& layer, int width, int height, int frames) {
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    initialiseProjectState();
    state().imageWidth = width;
    state().imageHeight = height;
    useLayer(layer);
    double fps = 0;
    std::thread thread([&] {
        GlState& gl = glState();
        if (!createGlContext(gl, state().maxWidth, state().maxHeight, WindowId::None) ||
            !allocateFrameBuffers() || !compileScript(state().scriptText.get()) ||
            !buildLayerPrograms(gl, WindowId::None)) {
            std::fprintf(stderr, "plain loop: cannot set up\n");
            std::exit(1);
        }
        uint8_t* frame = state().frameRing[0].get();
        drawFrame(0, frame);
        const auto start = Clock::now();
        for (int i = 0; i < frames; ++i)
            drawFrame(0, frame);
        fps = frames / seconds(start);
        shutDownScript();
        releaseGlContext(gl);
    });
    thread.join();
    releaseProjectBuffers();
    return fps;
}

// Milliseconds per read-back of a cleared frame, both ways the renderer can
// read: three bytes straight from the driver, or four bytes into the staging
// buffer and packed to three here.
void readBackFormats(int width, int height, int frames) {
    std::thread thread([&] {
        GlState& gl = glState();
        if (!createGlContext(gl, width, height, WindowId::None)) return;
        std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
        glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
        auto timeOf = [&](bool staged) {
            prepareReadBack(staged ? width : 0, staged ? height : 0);
            readBackFrame(frame.data(), width, height);
            const auto start = Clock::now();
            for (int i = 0; i < frames; ++i) {
                glClear(GL_COLOR_BUFFER_BIT);
                readBackFrame(frame.data(), width, height);
            }
            return seconds(start) * 1000.0 / frames;
        };
        const double direct = timeOf(false);
        const double staged = timeOf(true);
        std::printf("read-back %4dx%-4d  BGR %.3f ms   BGRA+repack %.3f ms   ratio %.2f\n", width,
                    height, direct, staged, staged / direct);
        prepareReadBack(0, 0);
        releaseGlContext(gl);
    });
    thread.join();
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    const Layer layers[] = {{"constant colour", PLAIN_VERTEX, CONSTANT_SHADER},
                            {"default Mandelbrot", nullptr, nullptr}};
    const int sizes[][2] = {{640, 480}, {1920, 1080}};
    std::printf("%d frames each; pipeline fps / plain-loop fps\n", frames);
    for (const Layer& layer : layers) {
        for (const auto& size : sizes) {
            const int count = size[0] > 1000 || layer.vertex == nullptr ? frames / 4 : frames;
            const double plain = plainFps(layer, size[0], size[1], count);
            const double piped = pipelineFps(layer, size[0], size[1], count, nullptr);
            std::printf("%-20s %4dx%-4d  plain %8.1f fps  pipeline %8.1f fps  ratio %.3f\n",
                        layer.name, size[0], size[1], plain, piped, piped / plain);
        }
    }
    readBackFormats(640, 480, frames);
    readBackFormats(1920, 1080, frames / 4);

    double latencies[5];
    for (double& latency : latencies)
        pipelineFps(layers[1], 640, 480, 1, &latency);
    std::sort(latencies, latencies + 5);
    std::printf(
        "compile request to first finished frame, default project 640x480: median %.1f ms\n",
        latencies[2]);
    return 0;
}
