// The shown frame leaving the studio as a still: Copy Image to the clipboard
// and the BMP snapshot of the save flow.
//
// Threads: user-interface thread only.
#pragma once

#include <QImage>
#include <string>

namespace vortigo {

// A copy of the displayed frame taken under the frame queue's lock,
// upright; null when no frame buffers exist.
QImage shownFrameImage();

// "Copy Image": the shown frame onto the clipboard; nothing happens when no
// frame buffers exist.
void copyImageToClipboard();

// The BMP snapshot of the shown frame, copied under the frame lock; a file
// that cannot be written is reported.
bool saveBmpSnapshot(const std::string& path);

} // namespace vortigo
