// The options reader on arbitrary files. For one input in 64, "Save as
// Defaults" follows on the same file (each save is flushed to disk, so not
// for every input): the next read must find the values written.
#include "FuzzState.h"
#include "persist/Options.h"

using namespace vortigo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::initialiseOnce()) return 0;
    static const std::string path = fuzz::scratchFile("VORTOptions.ini");
    fuzz::writeScratch(path, data, size);
    ProjectState& s = state();
    readOptions(s, path);
    if (size % 64 != 0) return 0;
    writeDefaults(path, 777, 555, 1, 0, 33, 1, 0, 12, 2.5f, 0.125f, 12.5f, 0.001f);
    readOptions(s, path);
    fuzz::require(s.imageWidth == 777 && s.imageHeight == 555 && s.aviFps == 33);
    fuzz::require(s.useMotionBlur == 1 && s.despeckle == 0 && s.dofEnabled == 1);
    fuzz::require(s.maxAviFrames == 12 && s.maxDepth == 12.5f && s.dofScale == 2.5f);
    fuzz::require(s.dofOffset == 0.125f && s.flightAcceleration == 0.001f);
    return 0;
}
