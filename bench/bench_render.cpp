// vortigo-render against the frame pipeline it is built on: the default
// project flying forward, frames per second after the first frame, rendered
// in this process through the headless session and by the vortigo-render
// program (which reports the same measure), alternately, medians of three.
// Then the in-process capture writer against the same frames piped into the
// ffmpeg tool: wall-clock time of each whole command, Motion JPEG at the
// same quality.
//
// Run from the build folder: bin/bench_render [frames]
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "render/HeadlessSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vortigo;

namespace {

double inProcessFps(int width, int height, int frames) {
    HeadlessRun run;
    run.frames = frames;
    run.flightMode = FLIGHT_FREE;
    run.configure = [&] {
        projectFiles().imageWidth = width;
        projectFiles().imageHeight = height;
        cameraFlight().flightVelocity[2] = cameraView().flightAcceleration;
    };
    const HeadlessResult result = renderHeadless(run);
    if (!result.ok) {
        std::fprintf(stderr, "bench_render: %s\n", result.error.c_str());
        std::exit(1);
    }
    return (frames - 1) * 1000.0 / (result.totalMs - result.firstFrameMs);
}

// The rate vortigo-render reports on its last line of standard error.
double programFps(const std::string& command) {
    FILE* pipe = popen((command + " 2>&1 >/dev/null").c_str(), "r");
    if (!pipe) std::exit(1);
    char line[512];
    double fps = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        int frames = 0;
        if (std::sscanf(line, "vortigo-render: %d frames, %lf frames/s", &frames, &fps) == 2) break;
    }
    if (pclose(pipe) != 0 || fps <= 0) {
        std::fprintf(stderr, "bench_render: %s failed\n", command.c_str());
        std::exit(1);
    }
    return fps;
}

double commandSeconds(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        std::fprintf(stderr, "bench_render: %s failed\n", command.c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const std::string program =
        std::string(argv[0]).substr(0, std::string(argv[0]).rfind('/') + 1) + "vortigo-render";
    std::printf("%-10s %12s %14s %8s\n", "size", "pipeline fps", "program fps", "ratio");
    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        const std::string command = program + " --fly --size " + std::to_string(w) + "x" +
                                    std::to_string(h) + " --frames " + std::to_string(frames);
        std::vector<double> pipeline, cli;
        for (int round = 0; round < 3; ++round) {
            pipeline.push_back(inProcessFps(w, h, frames));
            cli.push_back(programFps(command));
        }
        const double p = median(pipeline), c = median(cli);
        std::printf("%4dx%-5d %12.1f %14.1f %8.3f\n", w, h, p, c, c / p);
    }

    std::printf("\n%-10s %14s %14s %8s\n", "size", "in-process s", "piped s", "ratio");
    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        const std::string base = program + " --quiet --fly --fps 25 --size " + size + " --frames " +
                                 std::to_string(frames);
        const std::string inProcess =
            base + " --codec mjpeg --quality 90 --out /tmp/bench_render.avi";
        // Quality 90 is the capture writer's q:v 4 for Motion JPEG.
        const std::string piped = base +
                                  " --out - | ffmpeg -loglevel error -y -f rawvideo "
                                  "-pix_fmt bgr24 -s " +
                                  size + " -r 25 -i - -c:v mjpeg -q:v 4 /tmp/bench_render_pipe.avi";
        std::vector<double> a, b;
        for (int round = 0; round < 3; ++round) {
            a.push_back(commandSeconds(inProcess));
            b.push_back(commandSeconds(piped));
        }
        const double x = median(a), y = median(b);
        std::printf("%-10s %14.2f %14.2f %8.3f\n", size.c_str(), x, y, y / x);
    }
    std::remove("/tmp/bench_render.avi");
    std::remove("/tmp/bench_render.AVI");
    std::remove("/tmp/bench_render_pipe.avi");
    return 0;
}
