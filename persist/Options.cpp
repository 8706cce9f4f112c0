#include "persist/Options.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/Numbers.h"
#include "core/ProjectFiles.h"
#include "persist/Ini.h"
#include "platform/ProgramDir.h"
#include "platform/UserDirs.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <utility>

namespace vortigo {

namespace {

constexpr int DEFAULT_WIDTH = 640, DEFAULT_HEIGHT = 480;
constexpr int DEFAULT_MAX_WIDTH = 1920, DEFAULT_MAX_HEIGHT = 1080;
constexpr int DEFAULT_FPS = 25;
constexpr int DEFAULT_SCRIPT_TIMEOUT = 5;
constexpr int DEFAULT_BACKGROUND_LIMIT_MB = 256, DEFAULT_BACKGROUND_TOTAL_LIMIT_MB = 512;
constexpr size_t REAL_TEXT_LIMIT = 31; // reals travel through a 32-byte text buffer

class OptionReader {
  public:
    explicit OptionReader(const IniFile& file) : m_file(file) {}

    // A key that is present but holds no number reads 0, not the default.
    int integer(const char* key, int fallback) const {
        const auto value = m_file.get(OPTIONS_SECTION, key);
        return value ? parseInt(value->c_str()) : fallback;
    }

    uint8_t colourByte(const char* key, int fallback) const {
        return static_cast<uint8_t>(integer(key, fallback) & 0xFF);
    }

    float real(const char* key, const char* fallback) const {
        std::string text = m_file.get(OPTIONS_SECTION, key).value_or(fallback);
        if (text.size() > REAL_TEXT_LIMIT) text.resize(REAL_TEXT_LIMIT);
        return parseFloat(text.c_str());
    }

    template <size_t N> void text(const char* key, const char* fallback, char (&field)[N]) const {
        const std::string value = m_file.get(OPTIONS_SECTION, key).value_or(fallback);
        const size_t length = std::min(value.size(), N - 1);
        std::memset(field, 0, N);
        std::memcpy(field, value.data(), length);
    }

  private:
    const IniFile& m_file;
};

// "%f" text, written in full even past the 15 characters other readers of
// the file may expect. Only a text the reader would cut (more than 31 characters,
// magnitudes from about 10^24) goes out in the shortest scientific form
// instead, so every written value reads back as itself.
std::string realText(float value) {
    std::string text = formatReal6(value);
    if (text.size() <= REAL_TEXT_LIMIT) return text;
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    return std::string(buffer, result.ptr);
}

} // namespace

std::string optionsPath() {
    // A file already beside the executable makes a portable copy (a USB
    // stick, a build tree set up by hand); every other studio keeps its
    // settings in the user's configuration folder.
    std::string beside = (programDirectoryWasSet() ? programDirectory() : executableDirectory()) +
                         "/VORTOptions.ini";
    const std::string config = configHome();
    if (access(beside.c_str(), F_OK) == 0 || config.empty()) return beside;
    return config + "/vortigo/VORTOptions.ini";
}

std::string optionsPathForWriting() {
    std::string path = optionsPath();
    std::error_code ignored; // a folder that cannot be made shows when the file is written
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    return path;
}

void readOptions(ProjectFiles& files, CameraFlight& camera, CaptureState& capture,
                 const std::string& path) {
    IniFile file;
    file.load(path); // an unreadable file loads empty: every key takes its default
    const OptionReader r(file);

    files.imageWidth = r.integer("Width", DEFAULT_WIDTH);
    files.imageHeight = r.integer("Height", DEFAULT_HEIGHT);
    capture.aviFps = r.integer("AviFPS", DEFAULT_FPS);
    capture.useMotionBlur = r.integer("UseMotionBlur", 0);
    files.despeckle = r.integer("Despeckle", 0);
    files.dofEnabled = r.integer("DOF", 0);
    files.superSample = r.integer("SuperSample", 0);
    files.dofScale = r.real("DOFScale", "2.0");
    files.dofOffset = r.real("DOFOffset", "0.1");
    files.maxDepth = r.real("MaxDepth", "10.0");
    camera.animationSpeed = r.real("AnimationSpeed", "0.01");
    camera.udefDelta = r.real("UdefDelta", "0.01");
    camera.flightAcceleration = r.real("FlightAcceleration", "0.0005");
    camera.flightRotationSpeed = r.real("FlightRotationSpeed", "1.0");
    capture.maxAviFrames = r.integer("MaxAVIFrames", 0);
    r.text("Libraries", "", files.libraries);
    r.text("IncludePath", "", files.includePath);
    files.maxWidth = r.integer("MaxWidth", DEFAULT_MAX_WIDTH);
    files.maxHeight = r.integer("MaxHeight", DEFAULT_MAX_HEIGHT);
    files.maxUdef = r.integer("MaxUdef", 32);
    files.scriptTimeoutSeconds = r.integer("ScriptTimeout", DEFAULT_SCRIPT_TIMEOUT);
    files.backgroundLimitMb = r.integer("BackgroundLimitMB", DEFAULT_BACKGROUND_LIMIT_MB);
    files.backgroundTotalLimitMb =
        r.integer("BackgroundTotalLimitMB", DEFAULT_BACKGROUND_TOTAL_LIMIT_MB);

    // Frame buffers, the GL window and the udef array are sized from these;
    // a size of zero or below cannot be allocated, and the sliders and the
    // script need at least MIN_UDEF udefs. AviFPS stays as written: the
    // capture writer refuses a rate of zero or below when a capture starts.
    if (files.imageWidth <= 0 || files.imageHeight <= 0) {
        files.imageWidth = DEFAULT_WIDTH;
        files.imageHeight = DEFAULT_HEIGHT;
    }
    if (files.maxWidth <= 0 || files.maxHeight <= 0) {
        files.maxWidth = DEFAULT_MAX_WIDTH;
        files.maxHeight = DEFAULT_MAX_HEIGHT;
    }
    files.maxUdef = std::clamp(files.maxUdef, MIN_UDEF, MAX_UDEF_LIMIT);
    // Only 0 switches the watchdog off: a stray minus sign must not.
    if (files.scriptTimeoutSeconds < 0) files.scriptTimeoutSeconds = DEFAULT_SCRIPT_TIMEOUT;
    // A budget of nothing would refuse every background.
    if (files.backgroundLimitMb <= 0) files.backgroundLimitMb = DEFAULT_BACKGROUND_LIMIT_MB;
    if (files.backgroundTotalLimitMb <= 0)
        files.backgroundTotalLimitMb = DEFAULT_BACKGROUND_TOTAL_LIMIT_MB;
}

void readOptions() {
    readOptions(projectFiles(), cameraFlight(), captureState(), optionsPath());
}

WindowLayout readWindowLayout(const std::string& path) {
    IniFile file;
    file.load(path); // an unreadable file loads empty: every key takes its default
    const OptionReader r(file);
    WindowLayout layout;
    layout.traceWindowLeft = r.integer("TraceWindowLeft", 0);
    layout.traceWindowTop = r.integer("TraceWindowTop", 0);
    layout.editWindowLeft = r.integer("EditWindowLeft", 520);
    layout.editWindowTop = r.integer("EditWindowTop", 0);
    layout.editWindowWidth = r.integer("EditWindowWidth", 512);
    layout.editWindowHeight = r.integer("EditWindowHeight", 640);
    r.text("FontFamily", "Verdana", layout.fontFamily);
    layout.fontSize = r.integer("FontSize", 10);
    layout.textColour.red = r.colourByte("TextRed", 0);
    layout.textColour.green = r.colourByte("TextGreen", 225);
    layout.textColour.blue = r.colourByte("TextBlue", 0);
    layout.backgroundColour.red = r.colourByte("BGRed", 64);
    layout.backgroundColour.green = r.colourByte("BGGreen", 64);
    layout.backgroundColour.blue = r.colourByte("BGBlue", 64);
    return layout;
}

void writeDefaults(const std::string& path, const SavedDefaults& values) {
    IniFile file;
    // Replacing a file we could not read would drop everything written by hand.
    if (!file.load(path)) return;
    const std::pair<const char*, std::string> entries[] = {
        {"Width", std::to_string(values.width)},
        {"Height", std::to_string(values.height)},
        {"UseMotionBlur", std::to_string(values.motionBlur)},
        {"Despeckle", std::to_string(values.despeckle)},
        {"AviFPS", std::to_string(values.fps)},
        {"DOF", std::to_string(values.dof)},
        {"SuperSample", std::to_string(values.superSample)},
        {"DOFScale", realText(values.dofScale)},
        {"DOFOffset", realText(values.dofOffset)},
        {"FlightAcceleration", realText(values.flightAcceleration)},
        {"MaxDepth", realText(values.maxDepth)},
        {"MaxAVIFrames", std::to_string(values.maxAviFrames)},
    };
    for (const auto& [key, value] : entries)
        file.set(OPTIONS_SECTION, key, value);
    file.save(path);
}

} // namespace vortigo
