#include "persist/Options.h"

#include "core/Numbers.h"
#include "core/ProjectState.h"
#include "persist/Ini.h"
#include "platform/ProgramDir.h"

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
    // Beside the executable (a build tree, a portable copy); an installed
    // program keeps them in the user's configuration folder instead.
    const std::string beside =
        programDirectoryWasSet() ? programDirectory() : executableDirectory();
    if (access(beside.c_str(), W_OK) == 0) return beside + "/VORTOptions.ini";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string base;
    if (config && config[0] == '/')
        base = config;
    else if (home && home[0] == '/')
        base = std::string(home) + "/.config";
    else
        return beside + "/VORTOptions.ini";
    std::error_code ignored; // an unwritable folder shows when the file is saved
    std::filesystem::create_directories(base + "/vortigo", ignored);
    return base + "/vortigo/VORTOptions.ini";
}

void readOptions(ProjectState& s, const std::string& path) {
    IniFile file;
    file.load(path); // an unreadable file loads empty: every key takes its default
    const OptionReader r(file);

    s.imageWidth = r.integer("Width", DEFAULT_WIDTH);
    s.imageHeight = r.integer("Height", DEFAULT_HEIGHT);
    s.aviFps = r.integer("AviFPS", DEFAULT_FPS);
    s.useMotionBlur = r.integer("UseMotionBlur", 0);
    s.despeckle = r.integer("Despeckle", 0);
    s.dofEnabled = r.integer("DOF", 0);
    s.superSample = r.integer("SuperSample", 0);
    s.traceWindowLeft = r.integer("TraceWindowLeft", 0);
    s.traceWindowTop = r.integer("TraceWindowTop", 0);
    s.editWindowLeft = r.integer("EditWindowLeft", 520);
    s.editWindowTop = r.integer("EditWindowTop", 0);
    s.editWindowWidth = r.integer("EditWindowWidth", 512);
    s.editWindowHeight = r.integer("EditWindowHeight", 640);
    s.dofScale = r.real("DOFScale", "2.0");
    s.dofOffset = r.real("DOFOffset", "0.1");
    s.maxDepth = r.real("MaxDepth", "10.0");
    s.animationSpeed = r.real("AnimationSpeed", "0.01");
    s.udefDelta = r.real("UdefDelta", "0.01");
    s.flightAcceleration = r.real("FlightAcceleration", "0.0005");
    s.flightRotationSpeed = r.real("FlightRotationSpeed", "1.0");
    r.text("FontFamily", "Verdana", s.fontFamily);
    s.fontSize = r.integer("FontSize", 10);
    s.textColour.red = r.colourByte("TextRed", 0);
    s.textColour.green = r.colourByte("TextGreen", 225);
    s.textColour.blue = r.colourByte("TextBlue", 0);
    s.backgroundColour.red = r.colourByte("BGRed", 64);
    s.backgroundColour.green = r.colourByte("BGGreen", 64);
    s.backgroundColour.blue = r.colourByte("BGBlue", 64);
    s.maxAviFrames = r.integer("MaxAVIFrames", 0);
    r.text("Libraries", "", s.libraries);
    r.text("IncludePath", "", s.includePath);
    s.maxWidth = r.integer("MaxWidth", DEFAULT_MAX_WIDTH);
    s.maxHeight = r.integer("MaxHeight", DEFAULT_MAX_HEIGHT);
    s.maxUdef = r.integer("MaxUdef", 32);
    s.scriptTimeoutSeconds = r.integer("ScriptTimeout", DEFAULT_SCRIPT_TIMEOUT);
    s.backgroundLimitMb = r.integer("BackgroundLimitMB", DEFAULT_BACKGROUND_LIMIT_MB);
    s.backgroundTotalLimitMb =
        r.integer("BackgroundTotalLimitMB", DEFAULT_BACKGROUND_TOTAL_LIMIT_MB);

    // Frame buffers, the GL window and the udef array are sized from these;
    // a size of zero or below cannot be allocated, and the sliders and the
    // script need at least MIN_UDEF udefs. AviFPS stays as written: the
    // capture writer refuses a rate of zero or below when a capture starts.
    if (s.imageWidth <= 0 || s.imageHeight <= 0) {
        s.imageWidth = DEFAULT_WIDTH;
        s.imageHeight = DEFAULT_HEIGHT;
    }
    if (s.maxWidth <= 0 || s.maxHeight <= 0) {
        s.maxWidth = DEFAULT_MAX_WIDTH;
        s.maxHeight = DEFAULT_MAX_HEIGHT;
    }
    s.maxUdef = std::clamp(s.maxUdef, MIN_UDEF, MAX_UDEF_LIMIT);
    // Only 0 switches the watchdog off: a stray minus sign must not.
    if (s.scriptTimeoutSeconds < 0) s.scriptTimeoutSeconds = DEFAULT_SCRIPT_TIMEOUT;
    // A budget of nothing would refuse every background.
    if (s.backgroundLimitMb <= 0) s.backgroundLimitMb = DEFAULT_BACKGROUND_LIMIT_MB;
    if (s.backgroundTotalLimitMb <= 0) s.backgroundTotalLimitMb = DEFAULT_BACKGROUND_TOTAL_LIMIT_MB;
}

void readOptions() {
    readOptions(state(), optionsPath());
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
