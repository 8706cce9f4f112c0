// The project's files and the settings the project and options files store:
// paths, texts, the four layer slots with their backgrounds, the edited
// flags, the image settings, and the limits and compiler paths of the
// options file.
//
// Owner: the user-interface thread (the batch program's main thread), which
// writes these fields only while the render thread rests
// (stopFlightAndCheckParked() passed: the thread is stopped, or held with no
// frame in flight). The render thread reads them while it compiles and draws; compileRequest and
// resizeRequest (release/acquire) publish a change to it. One exception: a
// script's SwitchBackground replaces a layer's background name and pixels on
// the render thread, between frames, and raises backgroundChanged (atomic).
// The image size and depth-of-field words live in the script's blocks
// (FrameInfo, AnimInfo), where the script reads them.
#pragma once

#include "core/ProjectTypes.h"
#include "core/ScriptBlocks.h"

#include <array>

namespace vortigo {

struct ProjectFiles {
    ProjectFiles(FrameInfo& frameInfo, AnimInfo& animInfo);
    ProjectFiles(const ProjectFiles&) = delete;
    ProjectFiles& operator=(const ProjectFiles&) = delete;

    // Image settings (imageWidth and imageHeight live in FrameInfo, the
    // depth-of-field words in AnimInfo).
    int32_t& imageWidth;
    int32_t& imageHeight;
    int despeckle = 0;
    int dofEnabled = 0;
    int superSample = 0;
    float& dofScale;
    float& dofOffset;
    float& maxDepth;

    // Limits and compiler paths (read once at start-up and by every New).
    int maxWidth = 1920;
    int maxHeight = 1080;
    int maxUdef = 32;
    int scriptTimeoutSeconds = 5; // an entry point running longer is interrupted; 0: never
    // Decoded background pixels may take this much a layer, and all four
    // layers together this much (MB); larger ones are refused when loaded.
    int backgroundLimitMb = 256;
    int backgroundTotalLimitMb = 512;
    Path libraries{};
    Path includePath{};

    // File names and texts: the compile reads the texts.
    Path projectFile{};
    Path flightFile{};
    Path scriptFile{};
    TextBuffer scriptText;
    uint8_t scriptDirty = 0; // the script text was edited since it was loaded or saved
    std::array<LayerSlot, LAYER_COUNT> layers;
};

// The process-wide instance.
ProjectFiles& projectFiles();

} // namespace vortigo
