// The options reader on arbitrary files. For one input in 64, "Save as
// Defaults" follows on the same file (each save is flushed to disk, so not
// for every input): the next read must find the values written.
#include "FuzzState.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "persist/Options.h"

using namespace vortigo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::initialiseOnce()) return 0;
    static const std::string path = fuzz::scratchFile("VORTOptions.ini");
    fuzz::writeScratch(path, data, size);
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    readOptions(files, camera, capture, path);
    if (size % 64 != 0) return 0;
    writeDefaults(path, 777, 555, 1, 0, 33, 1, 0, 12, 2.5f, 0.125f, 12.5f, 0.001f);
    readOptions(files, camera, capture, path);
    fuzz::require(files.imageWidth == 777 && files.imageHeight == 555 && capture.aviFps == 33);
    fuzz::require(capture.useMotionBlur == 1 && files.despeckle == 0 && files.dofEnabled == 1);
    fuzz::require(capture.maxAviFrames == 12 && files.maxDepth == 12.5f && files.dofScale == 2.5f);
    fuzz::require(files.dofOffset == 0.125f && camera.flightAcceleration == 0.001f);
    return 0;
}
