// The cost of the image-shader wrapper: one Mandelbulb ray-marcher written
// twice, as a pasted image shader (mainImage, iResolution, iTime) and as a
// layer of the studio's own form (main, size, time), drawn by the real frame
// renderer and read back, frame by frame in turn in one context. Prints the
// frames per second of both and the median ratio of pairs (image / own form;
// 0.98 or more means the wrapper costs nothing measurable) at 640x480 and
// 1920x1080.
//
// Run from the build folder: bin/bench_shadertoy [pairs of frames]
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "render/FramePipeline.h"
#include "render/FrameRenderer.h"
#include "render/GlContext.h"
#include "render/LayerPrograms.h"
#include "script/ScriptHost.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace vortigo;

namespace {

using Clock = std::chrono::steady_clock;

// The distance estimate and the shading, shared by both forms; written in
// the common subset of GLSL 1.10 and 3.30 (float literals throughout).
const char* const MANDELBULB = R"(
float bulb(vec3 p) {
    vec3 z = p;
    float dr = 1.0;
    float r = 0.0;
    for (int i = 0; i < 8; i++) {
        r = length(z);
        if (r > 2.0) break;
        float theta = acos(clamp(z.z / r, -1.0, 1.0)) * 8.0;
        float phi = atan(z.y, z.x) * 8.0;
        dr = pow(r, 7.0) * 8.0 * dr + 1.0;
        z = pow(r, 8.0) * vec3(sin(theta) * cos(phi), sin(phi) * sin(theta), cos(theta)) + p;
    }
    return 0.5 * log(r) * r / dr;
}

vec3 normalAt(vec3 p) {
    vec2 e = vec2(0.001, 0.0);
    return normalize(vec3(bulb(p + e.xyy) - bulb(p - e.xyy), bulb(p + e.yxy) - bulb(p - e.yxy),
                          bulb(p + e.yyx) - bulb(p - e.yyx)));
}

vec3 shade(vec2 pixel, vec3 resolution, float t) {
    vec2 uv = (2.0 * pixel - resolution.xy) / resolution.y;
    float a = 0.3 * t;
    vec3 ro = vec3(2.4 * sin(a), 0.6, 2.4 * cos(a));
    vec3 fw = normalize(-ro);
    vec3 rt = normalize(cross(fw, vec3(0.0, 1.0, 0.0)));
    vec3 up = cross(rt, fw);
    vec3 rd = normalize(uv.x * rt + uv.y * up + 1.8 * fw);
    float d = 0.0;
    float steps = 0.0;
    for (int i = 0; i < 80; i++) {
        float h = bulb(ro + d * rd);
        if (h < 0.001 || d > 6.0) break;
        d += h;
        steps += 1.0;
    }
    if (d > 6.0) return vec3(0.05, 0.06, 0.1) + 0.1 * uv.y;
    vec3 p = ro + d * rd;
    vec3 n = normalAt(p);
    float diffuse = max(dot(n, normalize(vec3(0.6, 0.8, -0.4))), 0.0);
    float glow = 1.0 - steps / 80.0;
    return vec3(0.9, 0.7, 0.5) * diffuse * glow + vec3(0.1, 0.12, 0.2) * glow;
}
)";

const char* const OWN_FORM_ENTRY = R"(
uniform ivec2 size;
uniform float time;
void main() {
    gl_FragColor = vec4(shade(gl_FragCoord.xy, vec3(float(size.x), float(size.y), 1.0), time), 1.0);
}
)";

const char* const IMAGE_FORM_ENTRY = R"(
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    fragColor = vec4(shade(fragCoord, iResolution, iTime), 1.0);
}
)";

const char* const PLAIN_VERTEX = "void main() { gl_Position = gl_Vertex; }\n";

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

struct Figures {
    double ownFps = 0, imageFps = 0, ratio = 0;
    int maxDifference = 0; // largest difference of a colour byte
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Both forms are built once, as layers 1 and 2; each frame draws one of
// them through the real renderer, the other layer set aside. Frames of the
// two forms alternate, so that a neighbour's load on a shared machine falls
// on both alike, and each pair gives one ratio; the median ratio counts.
Figures measure(int width, int height, int pairs) {
    ProjectFiles& files = projectFiles();
    files.imageWidth = width;
    files.imageHeight = height;
    const std::string own = std::string(MANDELBULB) + OWN_FORM_ENTRY;
    const std::string image = std::string(MANDELBULB) + IMAGE_FORM_ENTRY;
    std::strcpy(files.layers[0].vertexText.get(), PLAIN_VERTEX);
    std::strcpy(files.layers[0].fragmentText.get(), own.c_str());
    files.layers[1].vertexText[0] = 0;
    std::strcpy(files.layers[1].fragmentText.get(), image.c_str());
    Figures figures;
    std::thread thread([&] {
        GlState& gl = glState();
        if (!createGlContext(gl, std::max(files.maxWidth, width), std::max(files.maxHeight, height),
                             WindowId::None) ||
            !allocateFrameBuffers() || !compileScript("") ||
            !buildLayerPrograms(gl, WindowId::None)) {
            std::fprintf(stderr, "bench_shadertoy: cannot set up the renderer\n");
            std::exit(1);
        }
        const LayerProgram programs[2] = {gl.layers[0], gl.layers[1]};
        uint8_t* frame = frameQueue().target();
        auto frameSeconds = [&](int form) {
            gl.layers[0] = programs[form];
            gl.layers[1] = LayerProgram{};
            const auto start = Clock::now();
            drawFrame(0, frame); // the read-back waits for the drawing
            return seconds(start);
        };
        frameSeconds(0); // the driver's first use of each program
        frameSeconds(1);
        std::vector<double> ownTimes, imageTimes, ratios;
        for (int i = 0; i < pairs; ++i) {
            // The order within a pair alternates too.
            const double first = frameSeconds(i % 2);
            const double second = frameSeconds(1 - i % 2);
            const double ownTime = i % 2 ? second : first;
            const double imageTime = i % 2 ? first : second;
            ownTimes.push_back(ownTime);
            imageTimes.push_back(imageTime);
            ratios.push_back(ownTime / imageTime);
        }
        figures = {1 / median(ownTimes), 1 / median(imageTimes), median(ratios), 0};
        // Both forms must draw the same picture, or the ratio compares
        // different work.
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
        frameSeconds(0);
        const std::vector<uint8_t> ownFrame(frame, frame + bytes);
        frameSeconds(1);
        for (size_t i = 0; i < bytes; ++i)
            figures.maxDifference =
                std::max(figures.maxDifference, std::abs(frame[i] - ownFrame[i]));
        gl.layers[0] = programs[0];
        gl.layers[1] = programs[1];
        shutDownScript();
        releaseGlContext(gl);
    });
    thread.join();
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    if (!initialiseProjectState()) return 1;
    std::printf("Mandelbulb, %d pairs of frames, medians\n", pairs);
    std::printf("size        own form fps  image shader fps  ratio image / own  max difference\n");
    for (const auto& [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        const Figures f = measure(width, height, pairs);
        std::printf("%4dx%-4d   %12.2f  %16.2f  %17.3f  %14d\n", width, height, f.ownFps,
                    f.imageFps, f.ratio, f.maxDifference);
    }
    releaseProjectBuffers();
    return 0;
}
