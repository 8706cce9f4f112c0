#include "control/StatusLine.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/ProjectState.h"

namespace vortigo {

std::string statusLineText() {
    const CameraFlight& camera = cameraView();
    const CaptureState& capture = captureView();
    const int ms = frameQueue().frameMs;
    return formatC("xc:%.3e yc:%.3e zc:%.3e time:%.4f cap:%s, mspf:%i", camera.xCenter,
                   camera.yCenter, camera.zLens, static_cast<double>(camera.animTime),
                   capture.capturing() ? "on" : "off", ms >= 100000 ? 0 : ms);
}

void updateStatusLine(WindowId window) {
    platform().setTitle(window, statusLineText());
}

} // namespace vortigo
