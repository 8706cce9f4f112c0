// What the window layer tells the layers below it: whether the main window
// and the Watch dialog exist and whether the editor shows the Debug Output
// page. The user-interface thread writes them; any thread reads them, so
// they are atomic.
#pragma once

#include "platform/Platform.h"

#include <atomic>
#include <cstdint>

namespace vortigo {

struct ViewFlags {
    std::atomic<bool> mainWindowExists{false};
    std::atomic<uint8_t> watchOpen{0};
    std::atomic<bool> debugShown{false}; // the post-processing thread refreshes the page
};

ViewFlags& viewFlags();

// Owner of the messages of texts and state: the main window once it exists.
WindowId mainOwner();

} // namespace vortigo
