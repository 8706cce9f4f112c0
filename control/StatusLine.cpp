#include "control/StatusLine.h"

#include "core/ProjectState.h"

namespace vortigo {

std::string statusLineText() {
    ProjectState& s = state();
    const int ms = s.frameMs;
    return formatC("xc:%.3e yc:%.3e zc:%.3e time:%.4f cap:%s, mspf:%i", s.xCenter, s.yCenter,
                   s.zLens, static_cast<double>(s.animTime), s.capturing ? "on" : "off",
                   ms >= 100000 ? 0 : ms);
}

void updateStatusLine(WindowId window) {
    platform().setTitle(window, statusLineText());
}

} // namespace vortigo
