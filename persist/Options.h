// The options file "VORTOptions.ini": user preferences
// that outlive a project. Every key lives in the section "VORT". It is read
// in full at start-up and by every reset to defaults; "Save as Defaults"
// writes a subset back; everything else in it is edited by hand.
//
// Threads: user-interface thread only. readOptions writes settings the render
// thread reads, so outside start-up it runs only while the render thread is
// at rest.
#pragma once

#include <cstdint>
#include <string>

namespace vortigo {

struct ProjectFiles;
struct CameraFlight;
struct CaptureState;

struct Colour {
    uint8_t blue = 0, green = 0, red = 0;
};

// The editor's appearance and the windows' places, as the options file
// stores them; the window layer applies them.
struct WindowLayout {
    char fontFamily[32]{};
    int fontSize = 10;
    Colour textColour{};
    Colour backgroundColour{};
    int traceWindowLeft = 0, traceWindowTop = 0;
    int editWindowLeft = 520, editWindowTop = 0;
    int editWindowWidth = 512, editWindowHeight = 640;
};

constexpr const char* OPTIONS_SECTION = "VORT";

// Bounds for the size of the udef array, which is allocated once from MaxUdef.
constexpr int MAX_UDEF_LIMIT = 65536;

// "VORTOptions.ini" beside the executable when one is already there (a
// portable copy), else $XDG_CONFIG_HOME/vortigo/VORTOptions.ini (by default
// ~/.config/vortigo/). Finding it creates nothing.
std::string optionsPath();
// optionsPath(), after making the folder it lies in; for writers only.
std::string optionsPathForWriting();

// Fills the option fields of the groups from the file at `path`, key by key; a
// missing file or key gives the key's default. Values that would break the
// studio are mended: MaxUdef is kept within [16, MAX_UDEF_LIMIT], a width or
// height of 0 or below gives 640 x 480, a maximum width or height of 0 or
// below gives 1920 x 1080, a negative ScriptTimeout gives 5 (only 0 is
// "off"), and a background budget (BackgroundLimitMB, BackgroundTotalLimitMB)
// of 0 or below gives its default of 256 or 512 MB.
void readOptions(ProjectFiles& files, CameraFlight& camera, CaptureState& capture,
                 const std::string& path);
void readOptions(); // the process-wide groups from optionsPath()

// The font, colours and window places of the file at `path`; a missing file
// or key gives the key's default.
WindowLayout readWindowLayout(const std::string& path);

// The settings "Save as Defaults" stores; each starts at the value a
// missing key reads as.
struct SavedDefaults {
    int width = 640;
    int height = 480;
    int motionBlur = 0;
    int despeckle = 0;
    int fps = 25;
    int dof = 0;
    int superSample = 0;
    int maxAviFrames = 0;
    float dofScale = 2.0f;
    float dofOffset = 0.1f;
    float maxDepth = 10.0f;
    float flightAcceleration = 0.0005f;
};

// Writes the "Save as Defaults" keys, all in one replacement of the file;
// every other line of the file stays as it was. Reals are written with six
// decimals and in full, however long; only a text longer than the 31
// characters readOptions reads is written in scientific form. Failures are
// not reported, and a file that exists but cannot be read is not touched.
void writeDefaults(const std::string& path, const SavedDefaults& values);

} // namespace vortigo
