// What the frame pipeline costs beyond what the hardware needs: the same
// layer rendered through the real render and post-processing threads
// (flying, so the render thread asks for every next frame itself) against a
// bare EGL loop (its own context of the frame's size, its own constant-colour
// program, a clear with depth, one rectangle, a four-byte read-back with the
// same repack) and against the renderer's own drawing loop, in the same run.
// Also: a small frame after a large one, read-back as blue-green-red against
// four bytes repacked on the CPU, and the time from a compile request to the
// first finished frame.
//
// Run from the build folder: bin/bench_pipeline [frames]
#include "core/CameraFlight.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
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
constexpr int ROUNDS = 5;

const char* const CONSTANT_SHADER = "void main() { gl_FragColor = vec4(0.2, 0.4, 0.6, 1.0); }\n";
const char* const PLAIN_VERTEX = "void main() { gl_Position = gl_Vertex; }\n";

struct Layer {
    const char* name;
    const char* vertex; // null: the default project's own texts
    const char* fragment;
};

void useLayer(const Layer& layer) {
    if (!layer.vertex) return;
    std::strcpy(projectFiles().layers[0].vertexText.get(), layer.vertex);
    std::strcpy(projectFiles().layers[0].fragmentText.get(), layer.fragment);
}

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Frames per second of `frames` calls of drawOne, the best of three rounds:
// on a shared machine the slower rounds measure the neighbours.
template <typename F> double bestFps(int frames, F&& drawOne) {
    double best = 0;
    const int perRound = std::max(1, frames / 3);
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        for (int i = 0; i < perRound; ++i)
            drawOne();
        best = std::max(best, perRound / seconds(start));
    }
    return best;
}

// Frames per second through the real threads, after the first frame.
double pipelineFps(const Layer& layer, int width, int height, int frames, double* firstMs) {
    HeadlessRun run;
    run.frames = frames + 1;
    run.flightMode = FLIGHT_FREE;
    run.configure = [&] {
        projectFiles().imageWidth = width;
        projectFiles().imageHeight = height;
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
    projectFiles().imageWidth = width;
    projectFiles().imageHeight = height;
    useLayer(layer);
    double fps = 0;
    std::thread thread([&] {
        GlState& gl = glState();
        if (!createGlContext(gl, projectFiles().maxWidth, projectFiles().maxHeight,
                             WindowId::None) ||
            !allocateFrameBuffers() || !compileScript(projectFiles().scriptText.get()) ||
            !buildLayerPrograms(gl, WindowId::None)) {
            std::fprintf(stderr, "plain loop: cannot set up\n");
            std::exit(1);
        }
        uint8_t* frame = frameQueue().target();
        drawFrame(0, frame);
        fps = bestFps(frames, [&] { drawFrame(0, frame); });
        shutDownScript();
        releaseGlContext(gl);
    });
    thread.join();
    releaseProjectBuffers();
    return fps;
}

GLuint buildProgram(const GlEntryPoints& gl, const char* vertex, const char* fragment) {
    const GLuint vertexShader = gl.glCreateShader(GL_VERTEX_SHADER);
    const GLuint fragmentShader = gl.glCreateShader(GL_FRAGMENT_SHADER);
    gl.glShaderSource(vertexShader, 1, &vertex, nullptr);
    gl.glShaderSource(fragmentShader, 1, &fragment, nullptr);
    gl.glCompileShader(vertexShader);
    gl.glCompileShader(fragmentShader);
    const GLuint program = gl.glCreateProgram();
    gl.glAttachShader(program, vertexShader);
    gl.glAttachShader(program, fragmentShader);
    gl.glLinkProgram(program);
    GLint linked = 0;
    gl.glGetProgramiv(program, GL_LINK_STATUS, &linked);
    return linked ? program : 0;
}

// Frames per second of the least a frame of the layer needs: clear with
// depth, one rectangle with the layer's shaders and the project's uniforms
// (set once), a four-byte read-back and the repack to three.
double bareFps(const Layer& layer, int width, int height, int frames) {
    HeadlessPlatform headless;
    setPlatform(&headless);
    initialiseProjectState();
    useLayer(layer);
    double fps = 0;
    std::thread thread([&] {
        GlState gls;
        if (!createGlContext(gls, width, height, WindowId::None)) {
            std::fprintf(stderr, "bare loop: %s\n", lastGlContextError().c_str());
            std::exit(1);
        }
        const ProjectFiles& files = projectFiles();
        const CameraFlight& camera = cameraView();
        const GlEntryPoints& gl = gls.gl;
        const GLuint program =
            buildProgram(gl, files.layers[0].vertexText.get(), files.layers[0].fragmentText.get());
        if (!program) {
            std::fprintf(stderr, "bare loop: the program does not link\n");
            std::exit(1);
        }
        gl.glUseProgram(program);
        auto at = [&](const char* name) { return gl.glGetUniformLocation(program, name); };
        const GLint size[2] = {width, height};
        const float eye[3] = {camera.xCenter, camera.yCenter, camera.zLens};
        const GLint zero = 0, one = 1, two = 2;
        gl.glUniform2iv(at("size"), 1, size);
        gl.glUniform1fv(at("time"), 1, &camera.animTime);
        gl.glUniform3fv(at("eye"), 1, eye);
        gl.glUniform4fv(at("rot"), 1, camera.cameraQuat);
        gl.glUniform1fv(at("udef"), files.maxUdef, camera.udef.get());
        gl.glUniform1fv(at("maxDepth"), 1, &files.maxDepth);
        gl.glUniform1iv(at("superSample"), 1, &zero);
        gl.glUniform1iv(at("tex"), 1, &zero);
        gl.glUniform1iv(at("datatex"), 1, &one);
        gl.glUniform1iv(at("voltex"), 1, &two);
        std::vector<uint8_t> staging(static_cast<size_t>(width) * height * 4);
        std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
        glViewport(0, 0, width, height);
        glEnable(GL_DEPTH_TEST);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        auto drawOne = [&] {
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glRecti(-1, -1, 1, 1);
            glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, staging.data());
            for (int y = 0; y < height; ++y)
                repackPixels(staging.data() + static_cast<size_t>(y) * width * 4,
                             frame.data() + static_cast<size_t>(y) * width * 3, width);
        };
        drawOne();
        fps = bestFps(frames, drawOne);
        gl.glDeleteProgram(program);
        releaseGlContext(gls);
    });
    thread.join();
    releaseProjectBuffers();
    setPlatform(nullptr);
    return fps;
}

// Frames per second of width x height frames drawn by the renderer on one
// thread, before and after one frame of bigWidth x bigHeight.
void smallAfterLarge(const Layer& layer, int width, int height, int bigWidth, int bigHeight,
                     int frames) {
    HeadlessPlatform headless;
    setPlatform(&headless);
    initialiseProjectState();
    useLayer(layer);
    double before = 0, after = 0;
    std::thread thread([&] {
        GlState& gl = glState();
        auto allocate = [&](int w, int h) {
            projectFiles().imageWidth = w;
            projectFiles().imageHeight = h;
            if (!allocateFrameBuffers()) {
                std::fprintf(stderr, "small after large: cannot allocate %dx%d\n", w, h);
                std::exit(1);
            }
        };
        auto measure = [&] {
            uint8_t* frame = frameQueue().target();
            drawFrame(0, frame);
            return bestFps(frames, [&] { drawFrame(0, frame); });
        };
        if (!createGlContext(gl, projectFiles().maxWidth, projectFiles().maxHeight,
                             WindowId::None) ||
            !compileScript(projectFiles().scriptText.get()) ||
            !buildLayerPrograms(gl, WindowId::None)) {
            std::fprintf(stderr, "small after large: cannot set up\n");
            std::exit(1);
        }
        allocate(width, height);
        before = measure();
        allocate(bigWidth, bigHeight);
        drawFrame(0, frameQueue().target());
        allocate(width, height);
        after = measure();
        shutDownScript();
        releaseGlContext(gl);
    });
    thread.join();
    releaseProjectBuffers();
    setPlatform(nullptr);
    std::printf("%-20s %4dx%-4d  before %8.1f fps  after a %dx%d frame %8.1f fps  ratio %.3f\n",
                layer.name, width, height, before, bigWidth, bigHeight, after, after / before);
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
    std::printf("%d frames each; ratios: pipeline fps / bare EGL loop fps (the bare loop "
                "draws the same layer), pipeline fps / plain drawFrame loop fps\n",
                frames);
    for (const Layer& layer : layers) {
        for (const auto& size : sizes) {
            const int count = size[0] > 1000 || layer.vertex == nullptr ? frames / 4 : frames;
            // The best of alternating rounds: on a shared machine the slower
            // rounds measure the neighbours, and one round of each in turn
            // keeps a passing load from falling on one side only.
            double bare = 0, plain = 0, piped = 0;
            for (int round = 0; round < ROUNDS; ++round) {
                bare = std::max(bare, bareFps(layer, size[0], size[1], count));
                plain = std::max(plain, plainFps(layer, size[0], size[1], count));
                piped = std::max(piped, pipelineFps(layer, size[0], size[1], count, nullptr));
            }
            std::printf("%-20s %4dx%-4d  bare %8.1f  plain %8.1f  pipeline %8.1f fps  "
                        "pipeline/bare %.3f  pipeline/plain %.3f\n",
                        layer.name, size[0], size[1], bare, plain, piped, piped / bare,
                        piped / plain);
        }
    }
    smallAfterLarge(layers[0], 640, 480, 4000, 4000, frames);
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
