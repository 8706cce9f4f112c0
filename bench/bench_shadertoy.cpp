// The cost of the image-shader wrapper: one Mandelbulb ray-marcher written
// twice, as a pasted image shader (mainImage, iResolution, iTime) and as a
// layer of the studio's own form (main, size, time), drawn by the real frame
// renderer and read back, in alternating rounds in one context. Prints the
// frames per second of both and their ratio (image / own form; 0.98 or more
// means the wrapper costs nothing measurable) at 640x480 and 1920x1080.
//
// Run from the build folder: bin/bench_shadertoy [frames per round]
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using namespace vortigo;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int ROUNDS = 5;

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

void useForm(bool image) {
    LayerSlot& layer = projectFiles().layers[0];
    const std::string fragment =
        std::string(MANDELBULB) + (image ? IMAGE_FORM_ENTRY : OWN_FORM_ENTRY);
    std::strcpy(layer.vertexText.get(), image ? "" : PLAIN_VERTEX);
    std::strcpy(layer.fragmentText.get(), fragment.c_str());
}

struct Figures {
    double ownFps = 0, imageFps = 0;
};

// Alternating rounds of both forms at one size; the best round of each.
Figures measure(int width, int height, int frames) {
    ProjectFiles& files = projectFiles();
    files.imageWidth = width;
    files.imageHeight = height;
    Figures best;
    std::thread thread([&] {
        GlState& gl = glState();
        if (!createGlContext(gl, std::max(files.maxWidth, width), std::max(files.maxHeight, height),
                             WindowId::None) ||
            !allocateFrameBuffers() || !compileScript("")) {
            std::fprintf(stderr, "bench_shadertoy: cannot set up the renderer\n");
            std::exit(1);
        }
        uint8_t* frame = frameQueue().target();
        for (int round = 0; round < ROUNDS; ++round) {
            for (const bool image : {false, true}) {
                useForm(image);
                if (!buildLayerPrograms(gl, WindowId::None)) {
                    std::fprintf(stderr, "bench_shadertoy: the %s form does not build\n",
                                 image ? "image-shader" : "own");
                    std::exit(1);
                }
                drawFrame(0, frame); // the driver's first use of the program
                const auto start = Clock::now();
                for (int i = 0; i < frames; ++i)
                    drawFrame(0, frame);
                const double fps = frames / seconds(start);
                double& slot = image ? best.imageFps : best.ownFps;
                slot = std::max(slot, fps);
            }
        }
        shutDownScript();
        releaseGlContext(gl);
    });
    thread.join();
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    if (!initialiseProjectState()) return 1;
    std::printf("Mandelbulb, %d frames a round, best of %d alternating rounds\n", frames, ROUNDS);
    std::printf("size        own form fps  image shader fps  ratio image / own\n");
    for (const auto& [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        const Figures f = measure(width, height, frames);
        std::printf("%4dx%-4d   %12.2f  %16.2f  %17.3f\n", width, height, f.ownFps, f.imageFps,
                    f.imageFps / f.ownFps);
    }
    releaseProjectBuffers();
    return 0;
}
