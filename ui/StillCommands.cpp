#include "ui/StillCommands.h"

#include "core/FrameQueue.h"
#include "media/Stills.h"
#include "render/FramePipeline.h"

#include <QClipboard>
#include <QGuiApplication>
#include <mutex>
#include <vector>

namespace vortigo {
namespace {

// The bottom-up frame bytes as they are, copied while no allocation can
// swap the buffers.
bool copyShownFrame(std::vector<uint8_t>& pixels, int& width, int& height) {
    bool copied = false;
    frameQueue().withDisplayed([&](const FrameView& view) {
        if (!view.pixels || view.width <= 0 || view.height <= 0) return;
        width = view.width;
        height = view.height;
        pixels.assign(view.pixels, view.pixels + static_cast<size_t>(width) * height * 3);
        copied = true;
    });
    return copied;
}

} // namespace

QImage shownFrameImage() {
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    if (!copyShownFrame(pixels, width, height)) return {};
    return QImage(pixels.data(), width, height, width * qsizetype{3}, QImage::Format_BGR888)
        .mirrored(false, true);
}

void copyImageToClipboard() {
    const QImage image = shownFrameImage();
    if (image.isNull()) return;
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setImage(image);
}

bool saveBmpSnapshot(const std::string& path) {
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    const bool haveFrame = copyShownFrame(pixels, width, height);
    return writeBmpSnapshot(path, haveFrame ? pixels.data() : nullptr, width, height);
}

} // namespace vortigo
