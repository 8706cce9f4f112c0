// vortigo-render: renders a project without any window, through the same
// core and threads as the studio. `vortigo-render --help` lists the options.
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/ShaderParams.h"
#include "core/ThreadRole.h"
#include "flight/FlightControls.h"
#include "flight/FlightRecord.h"
#include "media/Capture.h"
#include "media/PngWriter.h"
#include "media/PpmWriter.h"
#include "media/Stills.h"
#include "media/Wav.h"
#include "persist/FlightFile.h"
#include "persist/ParamEntries.h"
#include "persist/ProjectDefaults.h"
#include "persist/ProjectFile.h"
#include "platform/AtomicFile.h"
#include "platform/HeadlessPlatform.h"
#include "platform/Waits.h"
#include "render/HeadlessSession.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

using namespace vortigo;

namespace {

constexpr const char* USAGE = R"(Usage: vortigo-render [PROJECT.vort] [options]
Renders the animation of a project (the default project without one) through
the studio's own renderer, without any window.

  --describe          print the project's fields, one KEY=value a line, and exit
                      (exit code 1 when it or a file it names cannot be loaded);
                      its shader parameters as PARAM<layer>.NAME=VALUE
  --param L.NAME=V    set shader parameter NAME of layer L (1 to 4) to V (one
                      number, or one a component separated by commas);
                      repeatable
Frames
  --size WxH          frame size (default: the project's, else the options
                      file's Width and Height)
  --frames N          render frames 0 to N-1 (default 1); the script runs for
                      exactly these frames
  --from K --to M     render frames K to M only (a range of a longer run)
  --warm-up           draw the frames before --from too, without writing them:
                      needed when the script keeps state from frame to frame
  --fps N             frames per second of the animation and of the video
  The options above and below that name a project field (--size, --fps,
  --flight and the post-processing switches) replace the project's value.
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
                      frame when FILE holds %d or %04d (numbered by frame
                      index; %% is a percent sign);
                      -: raw frames (bgr24, top row first) on standard output
Capture (AVI and TGA)
  --codec NAME        raw, mjpeg (default), ffv1, mpeg4 or h264
  --quality N         1 (smallest) to 100 (best), default 90
  --max-frames N      split the AVI: every file but the last holds N + 1 frames
  --sound FILE.wav    a PCM sound track, added to the last AVI file
  --quiet             no progress line
  --help, --version

File names are at most 259 bytes long. Every input (project, flight, sound
track, backgrounds, the range of a replay, the codec's frame size) is checked
before the first frame: a problem ends the run with exit code 1.

Raw frames feed other tools, for example:
  vortigo-render --size 640x480 --frames 250 --fly --out - |
    ffmpeg -f rawvideo -pix_fmt bgr24 -s 640x480 -r 25 -i - -pix_fmt yuv420p out.mp4
)";

// Raw frames go to a duplicate of the standard output taken before any
// script runs; descriptor 1 then points at standard error, so that what a
// script prints never mixes into the frames.
std::FILE* g_frameStream = stdout;

bool separateFrameStream() {
    std::fflush(stdout);
    const int frames = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (frames < 0) return false;
    g_frameStream = fdopen(frames, "wb");
    if (!g_frameStream) {
        close(frames);
        g_frameStream = stdout;
        return false;
    }
    if (dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) return true;
    // No standard error to share: what the script prints is dropped.
    const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const bool moved = nowhere >= 0 && dup2(nowhere, STDOUT_FILENO) >= 0;
    if (nowhere >= 0) close(nowhere);
    return moved;
}

// SIGINT or SIGTERM ends the run after the frame in hand, with the outputs
// finished; a second one ends the process at once. The handler only notes
// the signal: the waiting thread sees it within moments.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int signal) {
    if (g_stopSignal.exchange(signal) != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

// A signal the starter ignores (nohup, `&` in a script) stays ignored.
void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction inherited {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
}

enum class Replay { None, Step, Time };
enum class OutputKind { Nothing, Picture, Raw, Capture };

struct Options {
    std::string project;     // absolute, so the files stored beside it are found
    std::string projectName; // as given, for messages
    bool describe = false;
    std::string flight;
    std::string flightName;
    int width = 0, height = 0; // 0: the project's or the options file's size
    int first = 0, last = 0;   // absolute frame indices
    bool rangeGiven = false;
    bool warmUp = false;
    int fps = 0; // 0: the project's or the options file's rate
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
    std::vector<ParamAssignment> params;
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

// A picture name holds at most one %d, or %0Nd for a zero-padded width, and
// no other conversion but %%: a safe format for one int. With one, every
// frame is written.
bool isSeriesName(const std::string& name) {
    int numbers = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') continue;
        size_t j = i + 1;
        if (j < name.size() && name[j] == '%') {
            i = j;
            continue;
        }
        // %0N: one or two digits of width after the zero.
        if (j + 1 < name.size() && name[j] == '0' &&
            std::isdigit(static_cast<unsigned char>(name[j + 1]))) {
            j += 2;
            if (j < name.size() && std::isdigit(static_cast<unsigned char>(name[j]))) ++j;
        }
        if (j >= name.size() || name[j] != 'd')
            throw UsageError{"--out: \"" + name + "\" holds a % that is not %d, %04d or %%"};
        ++numbers;
        i = j;
    }
    if (numbers > 1) throw UsageError{"--out: \"" + name + "\" holds more than one %d"};
    return numbers == 1;
}

// A name the studio could not keep whole would be cut and change meaning.
std::string checkedName(const std::string& option, const std::string& name) {
    if (name.size() >= static_cast<size_t>(PATH_SIZE))
        throw UsageError{option + ": \"" + name + "\" is " + std::to_string(name.size()) +
                         " bytes long, names of at most " + std::to_string(PATH_SIZE - 1) +
                         " bytes work"};
    return name;
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
        else if (arg == "--param") {
            const std::string text = value();
            ParamAssignment assignment;
            std::string why;
            if (!parseParamAssignment(text, assignment, why)) {
                std::string line = "--param: \"";
                line += text;
                line += "\" ";
                line += why;
                throw UsageError{line};
            }
            o.params.push_back(assignment);
        } else if (arg == "--flight") {
            o.flightName = checkedName(arg, value());
            o.flight = checkedName(arg, std::filesystem::absolute(o.flightName).lexically_normal());
        } else if (arg == "--quality")
            o.compression.quality = std::min(100, parseCount(arg, value(), 1));
        else if (arg == "--max-frames")
            o.maxFrames = parseCount(arg, value(), 0);
        else if (arg == "--sound")
            o.sound = checkedName(arg, value());
        else if (arg == "--codec")
            o.compression.codec = parseCodec(value());
        else if (arg == "--out")
            o.out = checkedName(arg, value());
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
            o.projectName = checkedName("the project", arg);
            o.project =
                checkedName("the project", std::filesystem::absolute(arg).lexically_normal());
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

    if (!o.sound.empty() && o.out.empty()) throw UsageError{"--sound needs --out FILE.avi"};
    if (o.out == "-") {
        if (!o.sound.empty()) throw UsageError{"--sound needs --out FILE.avi"};
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
        if (!o.sound.empty() && ext != "avi") throw UsageError{"--sound needs --out FILE.avi"};
        if (access(folderOf(o.out).c_str(), W_OK) != 0)
            throw UsageError{"--out: cannot write into " + folderOf(o.out) + ": " +
                             std::generic_category().message(errno)};
    }
    return o;
}

// The camera's motion for the chosen replay, and the steps that bring a range
// to its first frame: frame k of a run is drawn after k + 1 motion steps.
void setUpFlight(const Options& o) {
    CameraFlight& camera = cameraFlight();
    camera.timeRunning = 0;
    switch (o.replay) {
    case Replay::Step:
        camera.flightHead = flightIndexInRange(camera.flightStart);
        camera.flightMode = FLIGHT_STEP_FORWARD;
        break;
    case Replay::Time:
        camera.flightHead = flightIndexInRange(camera.flightStart);
        startTimedReplay();
        break;
    case Replay::None:
        // Free flight without velocity or pointer stands still; the running
        // time moves the script's animation.
        camera.flightMode = FLIGHT_FREE;
        for (float& v : camera.flightVelocity)
            v = 0;
        camera.timeRunning = o.fly ? 0 : 1;
        if (o.fly) camera.flightVelocity[2] = camera.flightAcceleration;
        break;
    }
}

// The project fields the options name replace the loaded project's values;
// a switch not given keeps the project's (or the options file's) setting.
void applyOverrides(const Options& o) {
    ProjectFiles& files = projectFiles();
    CaptureState& capture = captureState();
    if (o.width > 0) {
        files.imageWidth = o.width;
        files.imageHeight = o.height;
    }
    if (o.fps > 0) capture.aviFps = o.fps;
    if (o.superSample) files.superSample = 1;
    if (o.despeckle) files.despeckle = 1;
    if (o.dof) files.dofEnabled = 1;
    if (o.motionBlur) capture.useMotionBlur = 1;
}

// Why a file that exists by name could not be used: the system's reason
// when it cannot be opened, else `otherwise`.
std::string whyUnusable(const std::string& path, const std::string& otherwise) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::generic_category().message(errno);
    std::fclose(file);
    return otherwise;
}

// The studio's messages leave out the file, which a box beside the window
// makes plain; a line in a render log must name it.
std::string namedMessage(const HeadlessPlatform::MessageBoxRecord& box, const std::string& project,
                         const std::string& projectPath, const std::string& flight) {
    if (box.text == "Could not open file.")
        return "Could not open file: " + project + ": " +
               whyUnusable(projectPath, "it cannot be read");
    if (box.text == "Not a proper .vort file:") return "Not a proper .vort file: " + project;
    if (box.text == "Could not read from file")
        return "Could not read from file: " + flight + ": " +
               whyUnusable(flight, "it is not a flight recording");
    return box.caption + ": " + box.text;
}

// Declares the parameters the layer texts annotate, so the project's values
// and --param are checked before the first frame (the compile declares the
// same ones again and keeps the values); "" or the first --param that names
// no parameter or gives the wrong number of values.
std::string applyParams(const Options& o) {
    ProjectFiles& files = projectFiles();
    ShaderParams& params = shaderParams();
    std::string refused;
    for (int i = 0; i < LAYER_COUNT; ++i) {
        const LayerSlot& layer = files.layers[i];
        if (!layer.active()) {
            params.declare(i, {});
            continue;
        }
        const LayerParamScan scan =
            scanLayerParams(layer.vertexText.get(), layer.fragmentText.get());
        params.declare(i, scan.params);
        for (const auto& [kind, issues] :
             {std::pair{"vertex", &scan.vertexIssues}, std::pair{"fragment", &scan.fragmentIssues}})
            for (const ParamIssue& issue : *issues)
                refused += formatC("vortigo-render: layer %d %s shader, line %d: %s; the uniform "
                                   "is no parameter\n",
                                   i + 1, kind, issue.line, issue.message.c_str());
    }
    for (const ParamAssignment& a : o.params) {
        ParamValues now{};
        const int count = params.get(a.layer, a.name, now);
        if (count < 0)
            return formatC("--param: layer %d declares no parameter %s", a.layer + 1,
                           a.name.c_str());
        if (count != a.count)
            return formatC("--param: %s of layer %d takes %d value%s, not %d", a.name.c_str(),
                           a.layer + 1, count, count == 1 ? "" : "s", a.count);
        params.set(a.layer, a.name, a.values, a.count);
    }
    // Only a run that goes on says what it passed over.
    std::fputs(refused.c_str(), stderr);
    return {};
}

// The declared parameters with their values, as --param takes them.
std::string describeParams() {
    std::string text;
    for (int i = 0; i < LAYER_COUNT; ++i) {
        for (const ParamEntry& entry : shaderParams().entries(i)) {
            if (!entry.declared) continue;
            text += formatC("PARAM%d.%s=", i + 1, entry.decl.name.c_str());
            for (int c = 0; c < entry.count; ++c)
                text += formatC(c ? ",%.9g" : "%.9g",
                                static_cast<double>(entry.values[static_cast<size_t>(c)]) + 0.0);
            text += '\n';
        }
    }
    return text;
}

// Loads the project and the flight the options name and applies the options
// over them: "" or the first problem, naming its file. The studio shows a
// background that cannot be loaded as none; a render would silently differ.
std::string loadInputs(const Options& o, HeadlessPlatform& headless) {
    ProjectFiles& files = projectFiles();
    const size_t before = headless.messageBoxes().size();
    const bool loaded = o.project.empty() || loadProject(o.project);
    for (int i = 0; loaded && !o.project.empty() && i < LAYER_COUNT; ++i) {
        const LayerSlot& layer = files.layers[i];
        if (!layer.backgroundFile[0] || layer.backgroundPixels) continue;
        const std::string ext = extensionOf(layer.backgroundFile);
        const bool known = ext == "jpg" || ext == "tga" || ext == "bmp" || ext == "avi";
        return formatC("Could not load the background of layer %d: %s: %s", i + 1,
                       layer.backgroundFile,
                       whyUnusable(layer.backgroundFile,
                                   known ? "it is no " + ext + " file that can be read"
                                         : "backgrounds are .jpg, .tga, .bmp or .avi files")
                           .c_str());
    }
    const auto boxes = headless.messageBoxes();
    if (boxes.size() > before)
        return namedMessage(boxes[before], o.projectName, o.project, files.flightFile);
    if (!o.flight.empty() && !loadFlightData(o.flight))
        return "Could not read from file: " + o.flightName + ": " +
               whyUnusable(o.flight, "it is not a flight recording");
    applyOverrides(o);
    return applyParams(o);
}

// The sound track is added when the last file is complete: a track that
// cannot be used must not wait for the whole render to say so.
std::string checkSound(const Options& o) {
    if (o.sound.empty()) return {};
    WavSound sound;
    const WavResult read = readWavFile(o.sound.c_str(), sound);
    std::string why;
    switch (read.status) {
    case WavStatus::Ok:
        if (sound.data.empty())
            why = "it holds no sound";
        else if (sound.bitsPerSample != 8 && sound.bitsPerSample != 16 &&
                 sound.bitsPerSample != 24 && sound.bitsPerSample != 32)
            why = formatC("it has %d-bit samples; a sound track takes 8, 16, 24 or 32",
                          sound.bitsPerSample);
        break;
    case WavStatus::CannotOpen:
        why = whyUnusable(o.sound, "it cannot be read");
        break;
    case WavStatus::NotRiff:
        why = "it is not a RIFF file";
        break;
    case WavStatus::NotWave:
        why = "it is not a WAVE file";
        break;
    case WavStatus::NoFmt:
        why = "its fmt chunk is missing";
        break;
    case WavStatus::NotPcm:
        why = "only PCM wave files can be used";
        break;
    case WavStatus::Unreadable:
        why = read.reason;
        break;
    }
    return why.empty() ? std::string() : "The sound track cannot be used: " + o.sound + ": " + why;
}

// A range must begin within the replay: one that ends before frame --from
// would draw nothing of the range. The replay is tried on the camera and
// put back, so that a warm-up draws it from the start.
std::string checkRange(const Options& o) {
    if (o.replay == Replay::None || o.first == 0) return {};
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    const float position[3] = {camera.xCenter, camera.yCenter, camera.zLens};
    const float animTime = camera.animTime;
    float quat[4], udef[4];
    double matrix[3][3];
    std::memcpy(quat, camera.cameraQuat, sizeof quat);
    std::memcpy(matrix, camera.cameraMatrix, sizeof matrix);
    std::memcpy(udef, camera.udef.get(), sizeof udef);
    const int32_t head = camera.flightHead;

    setUpFlight(o);
    int steps = 0;
    while (steps < o.first && camera.flightMode != FLIGHT_STOPPED) {
        motionStep();
        ++steps;
    }
    const bool beyond = camera.flightMode == FLIGHT_STOPPED && steps < o.first;

    camera.xCenter = position[0];
    camera.yCenter = position[1];
    camera.zLens = position[2];
    camera.animTime = animTime;
    std::memcpy(camera.cameraQuat, quat, sizeof quat);
    std::memcpy(camera.cameraMatrix, matrix, sizeof matrix);
    std::memcpy(camera.udef.get(), udef, sizeof udef);
    camera.flightHead = head;
    camera.flightMode = FLIGHT_STOPPED;
    if (!beyond) return {};
    const std::string recording =
        files.flightFile[0] ? std::string(files.flightFile) : "the project";
    return formatC("--from %d is beyond the end of the recording in %s: its replay ends with "
                   "frame %d",
                   o.first, recording.c_str(), steps);
}

// The encoder is tried on the frame size before the first frame, in a file
// of its own, so that a size it cannot take ends the run before it starts.
std::string checkCodec(const Options& o) {
    if (o.output != OutputKind::Capture || extensionOf(o.out) != "avi" ||
        o.compression.codec == VideoCodec::Raw)
        return {};
    const ProjectFiles& files = projectFiles();
    const CaptureState& capture = captureView();
    const std::string probePath = (std::filesystem::temp_directory_path() /
                                   ("vortigo-render-" + std::to_string(getpid()) + "-probe.avi"))
                                      .string();
    AviVideoFile probe;
    if (probe.create(probePath) != AviOpenError::None) return {}; // the capture says why
    const AviOpenError started = probe.startVideo(files.imageWidth, files.imageHeight,
                                                  std::max(capture.aviFps, 1), o.compression);
    probe.abandon();
    if (started == AviOpenError::None) return {};
    const VideoCodec codec = o.compression.codec;
    const bool odd = files.imageWidth % 2 != 0 || files.imageHeight % 2 != 0;
    if (odd && (codec == VideoCodec::H264 || codec == VideoCodec::Mpeg4))
        return formatC("Could not start %s: %s needs an even frame width and height, not "
                       "%d x %d",
                       o.out.c_str(), codecTitle(codec), files.imageWidth, files.imageHeight);
    return formatC("Could not start %s: the %s encoder cannot take a frame of %d x %d pixels",
                   o.out.c_str(), codecTitle(codec), files.imageWidth, files.imageHeight);
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
        ++m_written;
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
            if (m_options.series || absoluteIndex == m_options.last)
                writePicture(frame, pictureName(absoluteIndex));
            break;
        }
    }
    const std::string& error() const { return m_error; }
    void fail(const std::string& why) {
        if (m_error.empty()) m_error = why;
    }

  private:
    // The name is a format for the index either way (%% is a percent sign).
    std::string pictureName(int index) const {
        char name[4096];
        std::snprintf(name, sizeof name, m_options.out.c_str(), index);
        return name;
    }

    // The capture writer runs on the post-processing thread, as in the studio.
    void writeCapture(const FrameView& frame, int absoluteIndex) {
        Capture& writer = theCapture();
        if (absoluteIndex == m_options.first) {
            writer.start(WindowId::None, m_options.out.c_str(), frame.width, frame.height,
                         captureView().aviFps, m_options.maxFrames,
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
                m_error = "cannot write " + path + ": " + fileErrorText(errno);
        } else if (!writePpm(path, frame.pixels, frame.width, frame.height)) {
            m_error = "cannot write " + path + ": " + fileErrorText(errno);
        }
    }

    void writeRaw(const FrameView& frame) {
        const size_t row = static_cast<size_t>(frame.width) * 3;
        for (int y = frame.height - 1; y >= 0; --y) {
            if (std::fwrite(frame.pixels + row * static_cast<size_t>(y), 1, row, g_frameStream) !=
                row) {
                m_error = std::string("cannot write the frames to standard output: ") +
                          std::generic_category().message(errno);
                return;
            }
        }
    }

    const Options& m_options;
    std::string m_error;
    int m_written = 0;

  public:
    int written() const { return m_written; }
};

// Loads the project on the headless platform with the options applied and
// prints what it holds; 1 when it or a file it names cannot be loaded.
int describe(const Options& o) {
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    if (!initialiseProjectState()) return 1;
    headless.clearRecords();
    const std::string problem = loadInputs(o, headless);
    if (!problem.empty()) {
        std::fprintf(stderr, "vortigo-render: %s\n", problem.c_str());
        return 1;
    }
    std::fputs(describeProject().c_str(), stdout);
    std::fputs(describeParams().c_str(), stdout);
    return 0;
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
        setupError = loadInputs(o, dynamic_cast<HeadlessPlatform&>(platform()));
        if (setupError.empty()) setupError = checkSound(o);
        if (setupError.empty()) setupError = checkRange(o);
        if (setupError.empty()) setupError = checkCodec(o);
        if (!setupError.empty()) return;
        setUpFlight(o);
        if (!o.warmUp)
            for (int k = 0; k < o.first && cameraView().flightMode != FLIGHT_STOPPED; ++k)
                motionStep();
    };
    run.check = [&] { return setupError; };
    run.stop = &g_stopSignal;
    run.flightMode = -1; // configure chooses it
    run.onFrame = [&](const FrameView& frame, int index) {
        if (index < skipped || writeFailed) return;
        try {
            writer.write(frame, o.first + index - skipped);
        } catch (const std::bad_alloc&) {
            // Near an address-space limit (ulimit -v): a write error, not an
            // exception through the post-processing thread.
            writer.fail("not enough memory to write the frame");
        }
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
    if (result.stopped) {
        // What was written is complete: the exit path has finished the capture.
        if (o.output == OutputKind::Raw) std::fflush(g_frameStream);
        const int signal = g_stopSignal.load();
        std::fprintf(stderr, "vortigo-render: stopped by %s after %d frames\n",
                     signal == SIGINT ? "SIGINT" : "SIGTERM", writer.written());
        return 128 + signal;
    }
    if (!result.ok) {
        std::fprintf(stderr, "vortigo-render: %s\n", result.error.c_str());
        return 1;
    }
    if (result.flightEnded)
        std::fprintf(stderr, "vortigo-render: the recording ended after %d frames\n",
                     result.framesDelivered - skipped);
    if (o.output == OutputKind::Raw && std::fflush(g_frameStream) != 0) {
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
    // This thread reads the options and the project and sets the flight up;
    // the session's render thread steps it.
    registerThreadRole(ThreadRole::Ui);
    claimMotion();
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
        if (options.describe) return describe(options);
        if (options.output == OutputKind::Raw && !separateFrameStream()) {
            std::fprintf(stderr, "vortigo-render: cannot set up standard output: %s\n",
                         std::generic_category().message(errno).c_str());
            return 1;
        }
        catchStopSignals();
        return render(options);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "vortigo-render: %s (see vortigo-render --help)\n",
                     error.text.c_str());
        return 2;
    }
}
