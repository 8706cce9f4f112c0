// vortigo-render: renders a project without any window, through the same
// core and threads as the studio. `vortigo-render --help` lists the options.
#include "core/ProjectState.h"
#include "flight/FlightControls.h"
#include "flight/FlightRecord.h"
#include "media/Capture.h"
#include "media/PngWriter.h"
#include "media/PpmWriter.h"
#include "media/Stills.h"
#include "persist/FlightFile.h"
#include "persist/ProjectDefaults.h"
#include "persist/ProjectFile.h"
#include "platform/HeadlessPlatform.h"
#include "render/HeadlessSession.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vortigo;

namespace {

constexpr const char* USAGE = R"(Usage: vortigo-render [PROJECT.vort] [options]
Renders the animation of a project (the default project without one) through
the studio's own renderer, without any window.

  --describe          print the project's fields, one KEY=value a line, and exit
                      (exit code 1 when the project cannot be loaded)
Frames
  --size WxH          frame size (default: the options file's Width and Height)
  --frames N          render frames 0 to N-1 (default 1)
  --from K --to M     render frames K to M only (a range of a longer run)
  --warm-up           draw the frames before --from too, without writing them:
                      needed when the script keeps state from frame to frame
  --fps N             frames per second of the animation and of the video
Camera
  --flight FILE.vorn  the flight recording to replay (else the project's)
  --replay MODE       step: one flight record a frame (the E key);
                      time: the time-based replay (Ctrl+E);
                      none: the script's own animation, camera standing (default)
  --fly               fly forward from the start (the Up key)
Post-processing
  --super-sample, --despeckle, --dof, --motion-blur
Output
  --out FILE          FILE.avi: a video through the capture writer;
                      FILE.tga: numbered TGA stills through the capture writer;
                      FILE.ppm, FILE.png or FILE.bmp: the last frame, or every
                      frame when FILE holds %d (numbered by frame index);
                      -: raw frames (bgr24, top row first) on standard output
Capture (AVI and TGA)
  --codec NAME        raw, mjpeg (default), ffv1, mpeg4 or h264
  --quality N         1 (smallest) to 100 (best), default 90
  --max-frames N      split the AVI: every file but the last holds N + 1 frames
  --sound FILE.wav    a PCM sound track, added to the last file
  --quiet             no progress line
  --help, --version

Raw frames feed other tools, for example:
  vortigo-render --size 640x480 --frames 250 --fly --out - |
    ffmpeg -f rawvideo -pix_fmt bgr24 -s 640x480 -r 25 -i - out.mp4
)";

enum class Replay { None, Step, Time };
enum class OutputKind { Nothing, Picture, Raw, Capture };

struct Options {
    std::string project; // absolute, so the files stored beside it are found
    bool describe = false;
    std::string flight;
    int width = 0, height = 0; // 0: the options file's size
    int first = 0, last = 0;   // absolute frame indices
    bool rangeGiven = false;
    bool warmUp = false;
    int fps = 0; // 0: the options file's rate
    Replay replay = Replay::None;
    bool fly = false;
    bool superSample = false, despeckle = false, dof = false, motionBlur = false;
    std::string out;
    OutputKind output = OutputKind::Nothing;
    bool series = false; // the output name numbers every frame
    CompressionChoice compression;
    int maxFrames = 0;
    std::string sound;
    bool quiet = false;
};

// A usage error: one line, exit code 2.
struct UsageError {
    std::string text;
};

int parseCount(const std::string& option, const char* text, int minimum) {
    int value = 0;
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    if (result.ec != std::errc() || result.ptr != end || value < minimum)
        throw UsageError{option + " needs a whole number of at least " + std::to_string(minimum) +
                         ", not \"" + text + "\""};
    return value;
}

void parseSize(const char* text, int& width, int& height) {
    const std::string s = text;
    const auto x = s.find('x');
    if (x == std::string::npos) throw UsageError{"--size needs WIDTHxHEIGHT, not \"" + s + "\""};
    width = parseCount("--size", s.substr(0, x).c_str(), 1);
    height = parseCount("--size", s.substr(x + 1).c_str(), 1);
}

std::string extensionOf(const std::string& path) {
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Exactly one %d and no other conversion, so the name is a safe format.
bool isSeriesName(const std::string& name) {
    const auto d = name.find("%d");
    if (d == std::string::npos) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (name[i] == '%' && i != d) throw UsageError{"--out may hold one %d and no other %"};
    return true;
}

VideoCodec parseCodec(const std::string& name) {
    static const char* const names[VIDEO_CODEC_COUNT] = {"raw", "mjpeg", "ffv1", "mpeg4", "h264"};
    for (int c = 0; c < VIDEO_CODEC_COUNT; ++c) {
        if (name != names[c]) continue;
        const auto codec = static_cast<VideoCodec>(c);
        if (!codecAvailable(codec)) throw UsageError{"this FFmpeg has no " + name + " encoder"};
        return codec;
    }
    throw UsageError{"--codec needs raw, mjpeg, ffv1, mpeg4 or h264, not \"" + name + "\""};
}

Options parseOptions(int argc, char** argv) {
    Options o;
    std::optional<int> frames, from, to;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "--size")
            parseSize(value(), o.width, o.height);
        else if (arg == "--frames")
            frames = parseCount(arg, value(), 1);
        else if (arg == "--from")
            from = parseCount(arg, value(), 0);
        else if (arg == "--to")
            to = parseCount(arg, value(), 0);
        else if (arg == "--fps")
            o.fps = parseCount(arg, value(), 1);
        else if (arg == "--warm-up")
            o.warmUp = true;
        else if (arg == "--fly")
            o.fly = true;
        else if (arg == "--super-sample")
            o.superSample = true;
        else if (arg == "--despeckle")
            o.despeckle = true;
        else if (arg == "--dof")
            o.dof = true;
        else if (arg == "--motion-blur")
            o.motionBlur = true;
        else if (arg == "--quiet")
            o.quiet = true;
        else if (arg == "--describe")
            o.describe = true;
        else if (arg == "--flight")
            o.flight = std::filesystem::absolute(value()).lexically_normal().string();
        else if (arg == "--quality")
            o.compression.quality = std::min(100, parseCount(arg, value(), 1));
        else if (arg == "--max-frames")
            o.maxFrames = parseCount(arg, value(), 0);
        else if (arg == "--sound")
            o.sound = value();
        else if (arg == "--codec")
            o.compression.codec = parseCodec(value());
        else if (arg == "--out")
            o.out = value();
        else if (arg == "--replay") {
            const std::string mode = value();
            if (mode == "step")
                o.replay = Replay::Step;
            else if (mode == "time")
                o.replay = Replay::Time;
            else if (mode == "none")
                o.replay = Replay::None;
            else
                throw UsageError{"--replay needs step, time or none, not \"" + mode + "\""};
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            throw UsageError{"unknown option " + arg};
        } else if (o.project.empty()) {
            o.project = std::filesystem::absolute(arg).lexically_normal().string();
        } else {
            throw UsageError{"more than one project named (" + o.project + ", " + arg + ")"};
        }
    }
    if (o.fly && o.replay != Replay::None)
        throw UsageError{"--fly and --replay exclude each other"};
    if (from || to) {
        if (!from || !to) throw UsageError{"--from and --to go together"};
        if (*to < *from) throw UsageError{"--to must not be below --from"};
        if (frames && *frames != *to - *from + 1)
            throw UsageError{"--frames does not match --from and --to"};
        o.first = *from;
        o.last = *to;
        o.rangeGiven = true;
    } else {
        o.first = 0;
        o.last = frames.value_or(1) - 1;
    }
    if (o.describe && o.project.empty()) throw UsageError{"--describe needs a PROJECT.vort"};
    if (o.warmUp && !o.rangeGiven) throw UsageError{"--warm-up needs --from and --to"};

    if (o.out == "-") {
        o.output = OutputKind::Raw;
    } else if (!o.out.empty()) {
        const std::string ext = extensionOf(o.out);
        if (ext == "avi" || ext == "tga") {
            o.output = OutputKind::Capture;
        } else if (ext == "ppm" || ext == "png" || ext == "bmp") {
            o.output = OutputKind::Picture;
            o.series = isSeriesName(o.out);
        } else {
            throw UsageError{"--out: unknown picture or video type \"" + o.out + "\""};
        }
        if (access(folderOf(o.out).c_str(), W_OK) != 0)
            throw UsageError{"--out: cannot write into " + folderOf(o.out) + ": " +
                             std::strerror(errno)};
    }
    return o;
}

// The camera's motion for the chosen replay, and the steps that bring a range
// to its first frame: frame k of a run is drawn after k + 1 motion steps.
void setUpFlight(const Options& o) {
    ProjectState& s = state();
    s.timeRunning = 0;
    switch (o.replay) {
    case Replay::Step:
        s.flightHead = flightIndexInRange(s.flightStart);
        s.flightMode = FLIGHT_STEP_FORWARD;
        break;
    case Replay::Time:
        s.flightHead = flightIndexInRange(s.flightStart);
        startTimedReplay();
        break;
    case Replay::None:
        // Free flight without velocity or pointer stands still; the running
        // time moves the script's animation.
        s.flightMode = FLIGHT_FREE;
        for (float& v : s.flightVelocity)
            v = 0;
        s.timeRunning = o.fly ? 0 : 1;
        if (o.fly) s.flightVelocity[2] = s.flightAcceleration;
        break;
    }
}

class Progress {
  public:
    Progress(const Options& o, int total)
        : m_show(!o.quiet && isatty(STDERR_FILENO)), m_total(total), m_start(Clock::now()) {}
    void frameDone(int done) {
        if (!m_show) return;
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        const double fps = seconds > 0 ? done / seconds : 0;
        const double left = fps > 0 ? (m_total - done) / fps : 0;
        std::fprintf(stderr, "\rframe %d of %d, %.1f frames/s, %.0f s left   ", done, m_total, fps,
                     left);
        if (done == m_total) std::fputc('\n', stderr);
    }

  private:
    bool m_show;
    int m_total;
    Clock::time_point m_start;
};

// Writes each delivered frame where the options send it. Runs on the
// post-processing thread; the first failure is kept and ends the run.
class FrameWriter {
  public:
    explicit FrameWriter(const Options& o) : m_options(o) {}

    void write(const FrameView& frame, int absoluteIndex) {
        if (!m_error.empty()) return;
        switch (m_options.output) {
        case OutputKind::Nothing:
            break;
        case OutputKind::Raw:
            writeRaw(frame);
            break;
        case OutputKind::Capture:
            writeCapture(frame, absoluteIndex);
            break;
        case OutputKind::Picture:
            if (m_options.series)
                writePicture(frame, seriesName(absoluteIndex));
            else if (absoluteIndex == m_options.last)
                writePicture(frame, m_options.out);
            break;
        }
    }
    const std::string& error() const { return m_error; }

  private:
    std::string seriesName(int index) const {
        char name[4096];
        std::snprintf(name, sizeof name, m_options.out.c_str(), index);
        return name;
    }

    // The capture writer runs on the post-processing thread, as in the studio.
    void writeCapture(const FrameView& frame, int absoluteIndex) {
        Capture& writer = theCapture();
        if (absoluteIndex == m_options.first) {
            writer.start(WindowId::None, m_options.out.c_str(), frame.width, frame.height,
                         state().aviFps, m_options.maxFrames,
                         m_options.sound.empty() ? nullptr : m_options.sound.c_str());
            if (!writer.isActive()) {
                m_error = "the capture into " + m_options.out + " could not start";
                return;
            }
        }
        if (!writer.captureFrame(frame.pixels)) {
            m_error = "the capture into " + m_options.out + " failed";
            return;
        }
        if (absoluteIndex == m_options.last) writer.finish();
    }

    void writePicture(const FrameView& frame, const std::string& path) {
        const std::string ext = extensionOf(path);
        if (ext == "png") {
            writePng(path, frame.pixels, frame.width, frame.height, m_error);
        } else if (ext == "bmp") {
            if (!writeBmpSnapshot(path, frame.pixels, frame.width, frame.height))
                m_error = "cannot write " + path + ": " + std::strerror(errno);
        } else if (!writePpm(path, frame.pixels, frame.width, frame.height)) {
            m_error = "cannot write " + path + ": " + std::strerror(errno);
        }
    }

    void writeRaw(const FrameView& frame) {
        const size_t row = static_cast<size_t>(frame.width) * 3;
        for (int y = frame.height - 1; y >= 0; --y) {
            if (std::fwrite(frame.pixels + row * static_cast<size_t>(y), 1, row, stdout) != row) {
                m_error = std::string("cannot write the frames to standard output: ") +
                          std::strerror(errno);
                return;
            }
        }
    }

    const Options& m_options;
    std::string m_error;
};

// Loads the project on the headless platform and prints what it holds; the
// messages of the load go to standard error. 1 when it cannot be loaded.
int describe(const Options& o) {
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    if (!initialiseProjectState()) return 1;
    headless.clearRecords();
    const bool loaded = loadProject(o.project);
    for (const auto& box : headless.messageBoxes())
        std::fprintf(stderr, "vortigo-render: %s: %s\n", box.caption.c_str(), box.text.c_str());
    if (loaded) std::fputs(describeProject().c_str(), stdout);
    return loaded ? 0 : 1;
}

int render(const Options& o) {
    const int wanted = o.last - o.first + 1;
    const int skipped = o.warmUp ? o.first : 0; // drawn, not written
    Progress progress(o, wanted);
    FrameWriter writer(o);
    std::atomic<bool> writeFailed{false};

    HeadlessRun run;
    run.frames = skipped + wanted;
    run.endWithTheFlight = o.replay != Replay::None;
    run.timeoutMs = 600000;
    std::string setupError;
    run.configure = [&] {
        ProjectState& s = state();
        if (o.width > 0) {
            s.imageWidth = o.width;
            s.imageHeight = o.height;
        }
        if (o.fps > 0) s.aviFps = o.fps;
        s.superSample = o.superSample;
        s.despeckle = o.despeckle;
        s.dofEnabled = o.dof;
        s.useMotionBlur = o.motionBlur;
        // A project or flight that cannot be loaded shows its message, which
        // ends the run with it.
        if (!o.project.empty() && !loadProject(o.project)) return;
        if (!o.flight.empty() && !loadFlightData(o.flight)) return;
        setUpFlight(o);
        if (!o.warmUp)
            for (int k = 0; k < o.first && s.flightMode != FLIGHT_STOPPED; ++k)
                motionStep();
    };
    run.flightMode = -1; // configure chooses it
    run.onFrame = [&](const FrameView& frame, int index) {
        if (index < skipped || writeFailed) return;
        writer.write(frame, o.first + index - skipped);
        if (!writer.error().empty()) writeFailed = true;
        progress.frameDone(index - skipped + 1);
    };
    if (o.output == OutputKind::Capture) {
        const CompressionChoice choice = o.compression;
        setCompressionChooser([choice](CompressionChoice& chosen) {
            chosen = choice;
            return true;
        });
    }
    const HeadlessResult result = renderHeadless(run);
    if (!writer.error().empty()) {
        // The capture writer's own message says why; it comes first.
        if (!result.error.empty())
            std::fprintf(stderr, "vortigo-render: %s\n", result.error.c_str());
        std::fprintf(stderr, "vortigo-render: %s\n", writer.error().c_str());
        return 1;
    }
    if (!result.ok) {
        std::fprintf(stderr, "vortigo-render: %s\n", result.error.c_str());
        return 1;
    }
    if (result.flightEnded)
        std::fprintf(stderr, "vortigo-render: the recording ended after %d frames\n",
                     result.framesDelivered - skipped);
    if (o.output == OutputKind::Raw && std::fflush(stdout) != 0) {
        std::fprintf(stderr, "vortigo-render: cannot write the frames to standard output\n");
        return 1;
    }
    if (!o.quiet) {
        // From the first frame to the last: the rate without start-up and compile.
        const int frames = result.framesDelivered;
        const double ms = result.totalMs - result.firstFrameMs;
        std::fprintf(stderr, "vortigo-render: %d frames, %.1f frames/s after the first\n",
                     frames - skipped, frames > 1 && ms > 0 ? (frames - 1) * 1000.0 / ms : 0.0);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("vortigo-render %s\n", VORTIGO_VERSION);
            return 0;
        }
    }
    try {
        const Options options = parseOptions(argc, argv);
        return options.describe ? describe(options) : render(options);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "vortigo-render: %s (see vortigo-render --help)\n",
                     error.text.c_str());
        return 2;
    }
}
