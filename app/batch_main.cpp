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
#include "media/Backgrounds.h"
#include "media/Capture.h"
#include "media/FfmpegVideoWriter.h"
#include "media/FrameRate.h"
#include "media/PictureStream.h"
#include "media/PngWriter.h"
#include "media/PpmWriter.h"
#include "media/SoundTrack.h"
#include "media/Stills.h"
#include "media/Wav.h"
#include "persist/FlightFile.h"
#include "persist/ParamEntries.h"
#include "persist/ProjectDefaults.h"
#include "persist/ProjectFile.h"
#include "persist/TextFile.h"
#include "platform/AtomicFile.h"
#include "platform/HeadlessPlatform.h"
#include "platform/Waits.h"
#include "render/HeadlessSession.h"
#include "render/ImageShader.h"
#include "render/Poster.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <getopt.h>
#include <limits>
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
  --fps RATE          frames per second of the animation and of the video:
                      25, 12.5, 29.97 (read as 30000/1001) or 30000/1001
  The options above and below that name a project field (--size, --fps,
  --flight and the post-processing switches) replace the project's value.
Camera
  --flight FILE.vorn  the flight recording to replay (else the project's)
  --replay MODE       step: one flight record a frame (the E key);
                      time: the time-based replay (Ctrl+E);
                      none: the script's own animation, camera standing (default)
  --fly               fly forward from the start (the Up key)
Image shader
  --shader FILE.glsl  a text defining mainImage(out vec4, in vec2) and no main
                      draws layer 1 (with a project: replaces its fragment text)
  --channel0 IMAGE ... --channel3 IMAGE
                      the background of layer 1 to 4, which iChannel0 to
                      iChannel3 show (a .jpg, .tga, .bmp or .avi file)
  --time T            iTime of frame 0 in seconds (default with --shader: 0)
Post-processing
  --super-sample, --despeckle, --dof, --motion-blur
Output
  --out FILE          FILE.avi: a video through the capture writer;
                      FILE.mp4, .mkv, .mov or .webm: a video in that container;
                      FILE.tif: one still as a tiled BigTIFF (a poster);
                      FILE.exr: one still as OpenEXR, half float, linear
                      light (drawn with 16 bits a channel);
                      FILE.tga: numbered TGA stills through the capture writer;
                      FILE.ppm, FILE.png or FILE.bmp: the last frame, or every
                      frame when FILE holds %d or %04d (numbered by frame
                      index; %% is a percent sign);
                      -: raw frames (bgr24, top row first) on standard output
Posters (one still of any size, drawn in tiles and streamed to the file)
  --tile N            tile size in pixels (default 2048): a .png still larger
                      than a tile, and every .tif and .exr, is drawn in tiles
  --tiles-from I --tiles-to J
                      render tiles I to J (counted row by row from the top
                      left, from 0) into FILE.tileNNNNN.ppm beside FILE
  --join              put the tile files of --size WxH together into --out
  --depth 8|16        bits a channel of the drawing and of a .png or .tif
                      still (default 8): 16 keeps deep gradients from banding
Videos and stills
  --codec NAME        AVI: raw, mjpeg (default), ffv1, mpeg4 or h264;
                      MP4, MKV, MOV, WebM: h264, hevc, prores, vp9, av1, ffv1,
                      mjpeg or raw as FFmpeg and the container allow (defaults:
                      h264, ffv1, prores, vp9); --codec help lists them here
  --quality N         1 (smallest) to 100 (best), default 90
  --max-frames N      split the AVI: every file but the last holds N + 1 frames
  --sound FILE        a sound track (WAV, FLAC, MP3, Ogg, AAC, ...): PCM added
                      to the last AVI file; AAC in MP4 and MOV, Opus in MKV
                      and WebM, cut or filled with silence to the video's end
  --quiet             no progress line
  --help, --version

Values go after a space or an equals sign (--size 640x480, --size=640x480);
a unique abbreviation names its option; after -- every word is a project.
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
enum class OutputKind { Nothing, Picture, Raw, Capture, Video };

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
    FrameRate rate{0, 1}; // invalid: the project's or the options file's rate
    Replay replay = Replay::None;
    bool fly = false;
    bool superSample = false, despeckle = false, dof = false, motionBlur = false;
    std::string out;
    OutputKind output = OutputKind::Nothing;
    bool series = false; // the output name numbers every frame
    CompressionChoice compression;
    std::string codecName; // as given; read once the output's type is known
    bool codecHelp = false;
    int maxFrames = 0;
    std::string sound;
    bool quiet = false;
    bool help = false, version = false; // an abbreviation or a value like --out --help
    bool poster = false;                // one still drawn in tiles
    int tile = DEFAULT_POSTER_TILE;
    bool tileGiven = false;
    int tilesFirst = 0, tilesLast = -1; // -1: every tile, into the picture
    bool join = false;
    bool deep = false;  // 16 bits a channel
    int depthGiven = 0; // --depth as given; 0 without it
    std::vector<ParamAssignment> params;
    std::string shader;     // an image shader for layer 1
    std::string shaderText; // read before the run
    std::string channels[LAYER_COUNT];
    std::optional<double> time; // iTime of frame 0
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

double parseSeconds(const std::string& option, const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end || !std::isfinite(value) || std::fabs(value) > 1e7)
        throw UsageError{option + " needs a number of seconds, not \"" + text + "\""};
    return value;
}

void parseSize(const char* text, int& width, int& height) {
    const std::string s = text;
    const auto x = s.find('x');
    if (x == std::string::npos) throw UsageError{"--size needs WIDTHxHEIGHT, not \"" + s + "\""};
    width = parseCount("--size", s.substr(0, x).c_str(), 1);
    height = parseCount("--size", s.substr(x + 1).c_str(), 1);
    if (width > MAX_POSTER_SIDE || height > MAX_POSTER_SIDE)
        throw UsageError{"--size takes at most " + std::to_string(MAX_POSTER_SIDE) +
                         " pixels a side, not \"" + s + "\""};
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

// A codec the container cannot take here, or that this FFmpeg cannot
// encode, is refused naming those it can.
void checkVideoCodec(const std::string& codec, VideoContainer container, const std::string& out) {
    if (codec.empty() || videoCodecUsable(codec, container)) return;
    const std::string usable = usableVideoCodecs(container);
    const auto& known = videoCodecNames();
    std::string why = std::find(known.begin(), known.end(), codec) == known.end()
                          ? "--codec does not know \"" + codec + "\""
                      : videoEncoderName(codec).empty()
                          ? "this FFmpeg has no " + codec + " encoder"
                          : "--out " + out + ": this container cannot hold " + codec;
    throw UsageError{why + "; " + out + " can take " + (usable.empty() ? "none" : usable)};
}

// What --codec help prints: every codec, its encoder here, the containers
// that take it.
std::string codecListing() {
    std::string text = "Codecs for --out FILE.mp4, .mkv, .mov and .webm (default first):\n";
    for (const VideoContainer c :
         {VideoContainer::Mp4, VideoContainer::Mkv, VideoContainer::Mov, VideoContainer::Webm}) {
        text += formatC("  %-5s %s (default %s)\n", containerExtension(c),
                        usableVideoCodecs(c).c_str(), defaultVideoCodec(c));
    }
    text += "Encoders of this FFmpeg:\n";
    for (const std::string& codec : videoCodecNames()) {
        const std::string encoder = videoEncoderName(codec);
        text += formatC("  %-7s %s\n", codec.c_str(),
                        encoder.empty() ? "(none: not available here)" : encoder.c_str());
    }
    text += "Codecs for --out FILE.avi: raw, mjpeg (default), ffv1, mpeg4, h264\n";
    return text;
}

// A poster is one still: a .tif or .exr, a .png larger than a tile or
// drawn deep, or a range of tiles. --join only assembles tile files.
void checkPosterOptions(Options& o, const std::optional<int>& tilesFrom,
                        const std::optional<int>& tilesTo) {
    const bool png = o.output == OutputKind::Picture && lowerExtension(o.out) == "png";
    if (o.deep && !png && !o.poster && !o.join)
        throw UsageError{"--depth 16 needs --out NAME.png, NAME.tif or NAME.exr"};
    if (o.deep && o.series) throw UsageError{"--depth 16 draws one still: --out takes no %d"};
    // A deep still goes through the poster's writers, in one tile when it
    // fits one.
    if (png && !o.series && (o.deep || o.tileGiven || o.width > o.tile || o.height > o.tile))
        o.poster = true;
    if (tilesFrom || tilesTo) {
        if (!tilesFrom || !tilesTo) throw UsageError{"--tiles-from and --tiles-to go together"};
        if (*tilesTo < *tilesFrom) throw UsageError{"--tiles-to must not be below --tiles-from"};
        if (!png && !o.poster) throw UsageError{"--tiles-from needs --out NAME.png or NAME.tif"};
        o.poster = true;
        o.tilesFirst = *tilesFrom;
        o.tilesLast = *tilesTo;
    }
    if (o.join) {
        if (o.width <= 0 || (!png && !o.poster))
            throw UsageError{"--join needs --size WxH and --out NAME.png or NAME.tif"};
        o.poster = false;
        return;
    }
    if (!o.poster) {
        if (o.tileGiven) throw UsageError{"--tile needs --out NAME.png or NAME.tif"};
        return;
    }
    if (o.series) throw UsageError{"a poster is one still: --out takes no %d"};
    if (png && o.tilesLast < 0 && static_cast<int64_t>(o.width) * o.height > PNG_PIXEL_LIMIT)
        throw UsageError{"a PNG holds at most 2^31 - 1 pixels, not " + std::to_string(o.width) +
                         " x " + std::to_string(o.height) + ": write NAME.tif instead"};
    if (o.first != o.last || o.warmUp)
        throw UsageError{"a poster is one still: --frames, --from and --to name one frame"};
}

// Every option by its long name; each value outside the range of single
// characters identifies one case of parseOptions.
enum OptionId : int {
    OPT_SIZE = 256,
    OPT_FRAMES,
    OPT_FROM,
    OPT_TO,
    OPT_FPS,
    OPT_WARM_UP,
    OPT_FLY,
    OPT_SUPER_SAMPLE,
    OPT_DESPECKLE,
    OPT_DOF,
    OPT_MOTION_BLUR,
    OPT_QUIET,
    OPT_DESCRIBE,
    OPT_FLIGHT,
    OPT_QUALITY,
    OPT_MAX_FRAMES,
    OPT_SOUND,
    OPT_CODEC,
    OPT_OUT,
    OPT_REPLAY,
    OPT_TILE,
    OPT_TILES_FROM,
    OPT_TILES_TO,
    OPT_JOIN,
    OPT_DEPTH,
    OPT_SHADER,
    OPT_CHANNEL0,
    OPT_CHANNEL1,
    OPT_CHANNEL2,
    OPT_CHANNEL3,
    OPT_TIME,
    OPT_PARAM,
    OPT_HELP,
    OPT_VERSION,
};

constexpr option LONG_OPTIONS[] = {
    {"size", required_argument, nullptr, OPT_SIZE},
    {"frames", required_argument, nullptr, OPT_FRAMES},
    {"from", required_argument, nullptr, OPT_FROM},
    {"to", required_argument, nullptr, OPT_TO},
    {"fps", required_argument, nullptr, OPT_FPS},
    {"warm-up", no_argument, nullptr, OPT_WARM_UP},
    {"fly", no_argument, nullptr, OPT_FLY},
    {"super-sample", no_argument, nullptr, OPT_SUPER_SAMPLE},
    {"despeckle", no_argument, nullptr, OPT_DESPECKLE},
    {"dof", no_argument, nullptr, OPT_DOF},
    {"motion-blur", no_argument, nullptr, OPT_MOTION_BLUR},
    {"quiet", no_argument, nullptr, OPT_QUIET},
    {"describe", no_argument, nullptr, OPT_DESCRIBE},
    {"flight", required_argument, nullptr, OPT_FLIGHT},
    {"quality", required_argument, nullptr, OPT_QUALITY},
    {"max-frames", required_argument, nullptr, OPT_MAX_FRAMES},
    {"sound", required_argument, nullptr, OPT_SOUND},
    {"codec", required_argument, nullptr, OPT_CODEC},
    {"out", required_argument, nullptr, OPT_OUT},
    {"replay", required_argument, nullptr, OPT_REPLAY},
    {"tile", required_argument, nullptr, OPT_TILE},
    {"tiles-from", required_argument, nullptr, OPT_TILES_FROM},
    {"tiles-to", required_argument, nullptr, OPT_TILES_TO},
    {"join", no_argument, nullptr, OPT_JOIN},
    {"depth", required_argument, nullptr, OPT_DEPTH},
    {"shader", required_argument, nullptr, OPT_SHADER},
    {"channel0", required_argument, nullptr, OPT_CHANNEL0},
    {"channel1", required_argument, nullptr, OPT_CHANNEL1},
    {"channel2", required_argument, nullptr, OPT_CHANNEL2},
    {"channel3", required_argument, nullptr, OPT_CHANNEL3},
    {"time", required_argument, nullptr, OPT_TIME},
    {"param", required_argument, nullptr, OPT_PARAM},
    {"help", no_argument, nullptr, OPT_HELP},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

// Why getopt refused the word `word`: a value missing, a value given to a
// switch (--fly=1), or a name it does not know (or that abbreviates several).
[[noreturn]] void refuseOption(int code, const std::string& word) {
    const auto equals = word.find('=');
    if (code == ':') throw UsageError{word + " needs a value"};
    if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
        const std::string name = word.substr(2, equals - 2);
        for (const option& known : LONG_OPTIONS)
            if (known.name && name == known.name && known.has_arg == no_argument)
                throw UsageError{"--" + name + " takes no value"};
    }
    throw UsageError{"unknown option " + word};
}

// "--name" of an option, for its messages.
std::string optionName(int code) {
    for (const option& known : LONG_OPTIONS)
        if (known.name && known.val == code) return std::string("--") + known.name;
    return {};
}

void nameProject(Options& o, const std::string& arg) {
    if (!o.project.empty())
        throw UsageError{"more than one project named (" + o.project + ", " + arg + ")"};
    o.projectName = checkedName("the project", arg);
    o.project = checkedName("the project", std::filesystem::absolute(arg).lexically_normal());
}

// GNU rules through getopt_long: `--name value` or `--name=value`, unique
// abbreviations, and `--` ending the options. The leading '-' keeps the
// words in order (a project is code 1); ':' reports a missing value apart.
Options parseOptions(int argc, char** argv) {
    Options o;
    std::optional<int> frames, from, to, tilesFrom, tilesTo;
    opterr = 0;
    optind = 0;
    for (;;) {
        // No short options exist, so an error always concerns the word
        // getopt was about to read.
        const int word = optind == 0 ? 1 : optind;
        // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any other thread starts
        const int code = getopt_long(argc, argv, "-:", LONG_OPTIONS, nullptr);
        if (code == -1) break;
        const std::string arg = code >= OPT_SIZE ? optionName(code) : std::string(argv[word]);
        const char* value = optarg;
        switch (code) {
        case 1:
            nameProject(o, value);
            break;
        case OPT_SIZE:
            parseSize(value, o.width, o.height);
            break;
        case OPT_FRAMES:
            frames = parseCount(arg, value, 1);
            break;
        case OPT_FROM:
            from = parseCount(arg, value, 0);
            break;
        case OPT_TO:
            to = parseCount(arg, value, 0);
            break;
        case OPT_FPS:
            if (!parseFrameRate(value, o.rate))
                throw UsageError{"--fps needs a rate of at least 1 frame a second (25, 12.5, "
                                 "29.97 or 30000/1001), not \"" +
                                 std::string(value) + "\""};
            break;
        case OPT_WARM_UP:
            o.warmUp = true;
            break;
        case OPT_FLY:
            o.fly = true;
            break;
        case OPT_SUPER_SAMPLE:
            o.superSample = true;
            break;
        case OPT_DESPECKLE:
            o.despeckle = true;
            break;
        case OPT_DOF:
            o.dof = true;
            break;
        case OPT_MOTION_BLUR:
            o.motionBlur = true;
            break;
        case OPT_QUIET:
            o.quiet = true;
            break;
        case OPT_DESCRIBE:
            o.describe = true;
            break;
        case OPT_TILE:
            o.tile = parseCount(arg, value, 1);
            o.tileGiven = true;
            break;
        case OPT_TILES_FROM:
            tilesFrom = parseCount(arg, value, 0);
            break;
        case OPT_TILES_TO:
            tilesTo = parseCount(arg, value, 0);
            break;
        case OPT_DEPTH: {
            const int bits = parseCount(arg, value, 8);
            if (bits != 8 && bits != 16) throw UsageError{arg + " needs 8 or 16, not " + value};
            o.deep = bits == 16;
            o.depthGiven = bits;
            break;
        }
        case OPT_JOIN:
            o.join = true;
            break;
        case OPT_FLIGHT:
            o.flightName = checkedName(arg, value);
            o.flight = checkedName(arg, std::filesystem::absolute(o.flightName).lexically_normal());
            break;
        case OPT_QUALITY:
            o.compression.quality = std::min(100, parseCount(arg, value, 1));
            break;
        case OPT_MAX_FRAMES:
            o.maxFrames = parseCount(arg, value, 0);
            break;
        case OPT_SOUND:
            o.sound = checkedName(arg, value);
            break;
        case OPT_CODEC:
            o.codecName = value;
            o.codecHelp = o.codecName == "help";
            break;
        case OPT_OUT:
            o.out = checkedName(arg, value);
            break;
        case OPT_SHADER:
            o.shader = checkedName(arg, value);
            break;
        case OPT_CHANNEL0:
        case OPT_CHANNEL1:
        case OPT_CHANNEL2:
        case OPT_CHANNEL3:
            o.channels[code - OPT_CHANNEL0] = checkedName(arg, value);
            break;
        case OPT_TIME:
            o.time = parseSeconds(arg, value);
            break;
        case OPT_PARAM: {
            ParamAssignment assignment;
            std::string why;
            if (!parseParamAssignment(value, assignment, why))
                throw UsageError{"--param: \"" + std::string(value) + "\" " + why};
            o.params.push_back(assignment);
            break;
        }
        case OPT_REPLAY: {
            const std::string mode = value;
            if (mode == "step")
                o.replay = Replay::Step;
            else if (mode == "time")
                o.replay = Replay::Time;
            else if (mode == "none")
                o.replay = Replay::None;
            else
                throw UsageError{"--replay needs step, time or none, not \"" + mode + "\""};
            break;
        }
        case OPT_HELP:
            o.help = true;
            break;
        case OPT_VERSION:
            o.version = true;
            break;
        default:
            refuseOption(code, arg);
        }
    }
    if (o.help || o.version || o.codecHelp) return o;
    // After `--` every word is a project name, even one that starts with '-'.
    for (int i = optind; i < argc; ++i)
        nameProject(o, argv[i]);
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

    const char* soundNeeds = "--sound needs --out FILE.avi, .mp4, .mkv, .mov or .webm";
    if (!o.sound.empty() && o.out.empty()) throw UsageError{soundNeeds};
    VideoContainer container{};
    if (o.out == "-") {
        if (!o.sound.empty()) throw UsageError{soundNeeds};
        o.output = OutputKind::Raw;
    } else if (!o.out.empty()) {
        const std::string ext = lowerExtension(o.out);
        if (containerOf(o.out, container)) {
            o.output = OutputKind::Video;
        } else if (ext == "avi" || ext == "tga") {
            o.output = OutputKind::Capture;
        } else if (ext == "tif" || ext == "tiff" || ext == "exr") {
            o.output = OutputKind::Picture;
            o.poster = true;
            if (ext == "exr" && o.depthGiven == 8)
                throw UsageError{"an .exr still is drawn with 16 bits a channel, not --depth 8"};
            if (ext == "exr") o.deep = true;
        } else if (ext == "ppm" || ext == "png" || ext == "bmp") {
            o.output = OutputKind::Picture;
            o.series = isSeriesName(o.out);
        } else {
            throw UsageError{"--out: unknown picture or video type \"" + o.out + "\""};
        }
        if (!o.sound.empty() && ext != "avi" && o.output != OutputKind::Video)
            throw UsageError{soundNeeds};
        if (access(folderOf(o.out).c_str(), W_OK) != 0)
            throw UsageError{"--out: cannot write into " + folderOf(o.out) + ": " +
                             std::generic_category().message(errno)};
    }
    if (o.output == OutputKind::Video)
        checkVideoCodec(o.codecName, container, o.out);
    else if (!o.codecName.empty())
        o.compression.codec = parseCodec(o.codecName);
    checkPosterOptions(o, tilesFrom, tilesTo);
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
        // An image shader's time runs while it flies, as in the studio with T.
        camera.timeRunning = o.fly && o.shader.empty() ? 0 : 1;
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
    if (o.rate.valid()) capture.aviFps = o.rate.rounded();
    if (o.superSample) files.superSample = 1;
    if (o.despeckle) files.despeckle = 1;
    if (o.dof) files.dofEnabled = 1;
    if (o.motionBlur) capture.useMotionBlur = 1;
}

// The exact rate the options ask for, else the project's whole one.
FrameRate videoRate(const Options& o) {
    return o.rate.valid() ? o.rate : FrameRate{std::max(captureView().aviFps, 1), 1};
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

// --time, or 0 for an image shader: iTime of the first frame.
void setStartTime(const Options& o) {
    const std::optional<double> time = o.time             ? o.time
                                       : o.shader.empty() ? std::nullopt
                                                          : std::optional(0.0);
    if (time)
        cameraFlight().animTime = animTimeForImageShader(
            static_cast<float>(*time), cameraView().animationSpeed, captureView().aviFps);
}

// The image shader replaces layer 1's fragment text; each channel picture
// becomes its layer's background. "" or the first problem.
std::string loadImageShaderInputs(const Options& o) {
    ProjectFiles& files = projectFiles();
    if (!o.shader.empty()) {
        LayerSlot& first = files.layers[0];
        std::memcpy(first.fragmentText.get(), o.shaderText.c_str(), o.shaderText.size() + 1);
        first.fragmentFile[0] = 0;
    }
    for (int i = 0; i < LAYER_COUNT; ++i) {
        if (o.channels[i].empty()) continue;
        LayerSlot& layer = files.layers[i];
        layer.backgroundPixels.reset();
        storePath(layer.backgroundFile, o.channels[i]);
        std::string refusal;
        layer.backgroundChanged =
            loadBackground(i, layer.backgroundFile, layer.videoFrameCounter, &refusal);
        if (!refusal.empty()) return refusal;
        if (layer.backgroundPixels) continue;
        const std::string ext = lowerExtension(o.channels[i]);
        const bool known = ext == "jpg" || ext == "tga" || ext == "bmp" || ext == "avi";
        return formatC(
            "Could not load --channel%d: %s: %s", i, o.channels[i].c_str(),
            whyUnusable(o.channels[i], known ? "it is no " + ext + " file that can be read"
                                             : "pictures are .jpg, .tga, .bmp or .avi files")
                .c_str());
    }
    return {};
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
        const std::string ext = lowerExtension(layer.backgroundFile);
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
    std::string imageInputs = loadImageShaderInputs(o);
    if (!imageInputs.empty()) return imageInputs;
    if (!o.flight.empty() && !loadFlightData(o.flight))
        return "Could not read from file: " + o.flightName + ": " +
               whyUnusable(o.flight, "it is not a flight recording");
    applyOverrides(o);
    return applyParams(o);
}

// A sound that is no PCM WAV file the capture writer takes (FLAC, MP3, Ogg,
// a float WAV) goes into an AVI file as 16-bit PCM, through a WAV file of its
// own that the capture writer adds as it adds any. "" with `wavPath` set, or
// why not.
std::string convertSoundForAvi(const std::string& sound, std::string& wavPath) {
    SoundTrack track;
    WavSound pcm;
    // The capture's limit for one sound packet.
    if (!track.open(sound) || !track.readAllAsPcm16(INT32_MAX / 2, pcm)) return track.error();
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("vortigo-render-" + std::to_string(getpid()) + "-sound.wav"))
                                 .string();
    if (!writePcmWav(path, pcm)) return "it cannot be converted: " + fileErrorText(errno);
    wavPath = path;
    return {};
}

// The sound track is added when the last file is complete: a track that
// cannot be used must not wait for the whole render to say so. An AVI's
// sound that is not a WAV file the capture takes is converted into
// `aviSound`.
std::string checkSound(const Options& o, std::string& aviSound) {
    if (o.sound.empty()) return {};
    if (o.output == OutputKind::Video) {
        SoundTrack track;
        if (track.open(o.sound)) return {};
        return "The sound track cannot be used: " + o.sound + ": " + track.error();
    }
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
    if (!why.empty() && read.status != WavStatus::CannotOpen) {
        const std::string converted = convertSoundForAvi(o.sound, aviSound);
        if (converted.empty()) return {};
        // A file that is no WAV at all is judged as the decoder judged it.
        if (read.status == WavStatus::NotRiff) why = converted;
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

// The video encoder is tried on the frame size in a file of its own.
std::string checkVideoEncoder(const Options& o) {
    const ProjectFiles& files = projectFiles();
    const std::string probePath =
        (std::filesystem::temp_directory_path() /
         ("vortigo-render-" + std::to_string(getpid()) + "-probe." + lowerExtension(o.out)))
            .string();
    FfmpegVideoWriter probe;
    VideoSettings settings;
    settings.codec = o.codecName;
    settings.quality = o.compression.quality;
    if (probe.open(probePath, files.imageWidth, files.imageHeight, videoRate(o), settings)) {
        probe.abandon();
        return {};
    }
    return "Could not start " + o.out + ": " + probe.error();
}

// The encoder is tried on the frame size before the first frame, in a file
// of its own, so that a size it cannot take ends the run before it starts.
std::string checkCodec(const Options& o) {
    if (o.output == OutputKind::Video) return checkVideoEncoder(o);
    if (o.output != OutputKind::Capture || lowerExtension(o.out) != "avi" ||
        o.compression.codec == VideoCodec::Raw)
        return {};
    const ProjectFiles& files = projectFiles();
    const std::string probePath = (std::filesystem::temp_directory_path() /
                                   ("vortigo-render-" + std::to_string(getpid()) + "-probe.avi"))
                                      .string();
    AviVideoFile probe;
    if (probe.create(probePath) != AviOpenError::None) return {}; // the capture says why
    const AviOpenError started =
        probe.startVideo(files.imageWidth, files.imageHeight, videoRate(o), o.compression);
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
    // The sound the capture adds instead of the one named (converted to a
    // WAV file); set before the first frame.
    void useCaptureSound(const std::string& path) { m_captureSound = path; }

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
        case OutputKind::Video:
            writeVideo(frame, absoluteIndex);
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
    // Completes a video the run ended early (a signal, a script fault): it
    // holds the frames written. Called once the frames have stopped.
    void finishVideo() {
        if (m_video.isOpen() && !m_video.finish())
            fail("cannot write " + m_options.out + ": " + m_video.error());
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
                         videoRate(m_options), m_options.maxFrames,
                         m_captureSound.empty() ? nullptr : m_captureSound.c_str());
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

    void writeVideo(const FrameView& frame, int absoluteIndex) {
        if (absoluteIndex == m_options.first) {
            VideoSettings settings;
            settings.codec = m_options.codecName;
            settings.quality = m_options.compression.quality;
            settings.soundPath = m_options.sound;
            settings.firstFrame = m_options.first;
            if (!m_video.open(m_options.out, frame.width, frame.height, videoRate(m_options),
                              settings)) {
                m_error = "Could not start " + m_options.out + ": " + m_video.error();
                return;
            }
        }
        if (!m_video.writeFrame(frame.pixels)) {
            m_error = "cannot write " + m_options.out + ": " + m_video.error();
            return;
        }
        if (absoluteIndex == m_options.last) finishVideo();
    }

    void writePicture(const FrameView& frame, const std::string& path) {
        const std::string ext = lowerExtension(path);
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
    FfmpegVideoWriter m_video;
    std::string m_captureSound;

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

class PosterProgress {
  public:
    explicit PosterProgress(const Options& o)
        : m_show(!o.quiet && isatty(STDERR_FILENO)), m_start(Clock::now()) {}
    // Post-processing thread, after each tile.
    void tileDone(int done, int total) {
        if (!m_show) return;
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        const double left = done > 0 ? seconds / done * (total - done) : 0;
        std::fprintf(stderr, "\rtile %d of %d, %d left, %.0f s left   ", done, total, total - done,
                     left);
        if (done == total) std::fputc('\n', stderr);
    }

  private:
    bool m_show;
    Clock::time_point m_start;
};

// One still drawn in tiles and streamed into a PNG or TIFF, or a range of
// its tiles into files of their own.
int renderPosterStill(const Options& o) {
    PosterProgress progress(o);
    PosterRun run;
    std::string setupError;
    run.session.timeoutMs = std::numeric_limits<int>::max(); // hours are normal for a poster
    run.session.configure = [&] {
        setupError = loadInputs(o, dynamic_cast<HeadlessPlatform&>(platform()));
        if (setupError.empty()) setupError = checkRange(o);
        const ProjectFiles& files = projectFiles();
        if (setupError.empty() && o.tilesLast < 0)
            setupError =
                checkPosterSpace(o.out, files.imageWidth, files.imageHeight, o.deep ? 6 : 3);
        if (!setupError.empty()) return;
        setUpFlight(o);
        setStartTime(o);
        for (int k = 0; k < o.first && cameraView().flightMode != FLIGHT_STOPPED; ++k)
            motionStep();
    };
    run.session.check = [&] { return setupError; };
    run.session.stop = &g_stopSignal;
    run.session.deep = o.deep;
    run.tileSize = o.tile;
    run.out = o.out;
    run.firstTile = o.tilesFirst;
    run.lastTile = o.tilesLast;
    run.progress = [&](int done, int total) { progress.tileDone(done, total); };
    run.note = [](const std::string& note) {
        std::fprintf(stderr, "vortigo-render: note: %s\n", note.c_str());
    };
    const auto start = Clock::now();
    const PosterResult result = renderPoster(run);
    if (result.stopped) {
        const int signal = g_stopSignal.load();
        std::fprintf(stderr, "vortigo-render: stopped by %s after %d tiles; %s is not written\n",
                     signal == SIGINT ? "SIGINT" : "SIGTERM", result.tilesStored, o.out.c_str());
        return 128 + signal;
    }
    if (!result.ok) {
        std::fprintf(stderr, "vortigo-render: %s\n", result.error.c_str());
        return 1;
    }
    if (!o.quiet)
        std::fprintf(stderr, "vortigo-render: tiles %d to %d of %d (a %d x %d poster) in %.1f s\n",
                     o.tilesLast < 0 ? 0 : o.tilesFirst,
                     o.tilesLast < 0 ? result.grid.count() - 1 : o.tilesLast, result.grid.count(),
                     result.grid.pictureWidth, result.grid.pictureHeight,
                     std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
}

int joinPoster(const Options& o) {
    std::string error;
    if (!joinTiles(o.out, o.width, o.height, error)) {
        std::fprintf(stderr, "vortigo-render: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int render(const Options& o) {
    if (o.poster) return renderPosterStill(o);
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
    std::string convertedSound; // a temporary WAV file for an AVI's sound
    run.configure = [&] {
        setupError = loadInputs(o, dynamic_cast<HeadlessPlatform&>(platform()));
        if (setupError.empty()) setupError = checkSound(o, convertedSound);
        writer.useCaptureSound(convertedSound.empty() ? o.sound : convertedSound);
        if (setupError.empty()) setupError = checkRange(o);
        if (setupError.empty()) setupError = checkCodec(o);
        if (!setupError.empty()) return;
        setUpFlight(o);
        setStartTime(o);
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
    setImageShaderFirstFrame(skipped > 0 ? 0 : o.first);
    if (o.output == OutputKind::Capture) {
        const CompressionChoice choice = o.compression;
        setCompressionChooser([choice](CompressionChoice& chosen) {
            chosen = choice;
            return true;
        });
    }
    const HeadlessResult result = renderHeadless(run);
    writer.finishVideo();
    if (!convertedSound.empty()) unlink(convertedSound.c_str());
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
    showOnlyFfmpegErrors();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
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
        Options parsed = parseOptions(argc, argv);
        if (!parsed.shader.empty()) {
            if (readFilePrefix(parsed.shader, TEXT_SIZE, parsed.shaderText) != 0) {
                std::fprintf(stderr, "vortigo-render: Could not open file: %s: %s\n",
                             parsed.shader.c_str(),
                             whyUnusable(parsed.shader, "it cannot be read").c_str());
                return 1;
            }
            if (parsed.shaderText.size() >= static_cast<size_t>(TEXT_SIZE))
                throw UsageError{"--shader: " + parsed.shader + " is longer than " +
                                 std::to_string(TEXT_SIZE - 1) + " characters"};
            if (!isImageShaderText(parsed.shaderText.c_str()))
                throw UsageError{"--shader: " + parsed.shader +
                                 " is no image shader: it must define mainImage(out vec4, in "
                                 "vec2) and no main"};
        }
        const Options options = std::move(parsed);
        if (options.help) return std::fputs(USAGE, stdout) < 0 ? 1 : 0;
        if (options.codecHelp) return std::fputs(codecListing().c_str(), stdout) < 0 ? 1 : 0;
        if (options.version) return std::printf("vortigo-render %s\n", VORTIGO_VERSION) < 0 ? 1 : 0;
        if (options.describe) return describe(options);
        if (options.join) return joinPoster(options);
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
