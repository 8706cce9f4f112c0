#include "media/Backgrounds.h"
#include "media/ImageDecoders.h"

#include "platform/Platform.h"

#include <algorithm>
#include <atomic>

namespace vortigo {
namespace {

constexpr int SIZE_CEILING = 16384;
std::atomic<int> g_maxSize{SIZE_CEILING};

constexpr long long MB = 1 << 20;

} // namespace

void setMaxBackgroundSize(int size) {
    g_maxSize.store(std::clamp(size, 1, SIZE_CEILING));
}

int maxBackgroundSize() {
    return g_maxSize.load();
}

bool backgroundSizeAllowed(DecodedImage& image, long long width, long long height) {
    if (width <= 0 || height <= 0) return false; // no picture, and nothing to say of its size
    const int limit = maxBackgroundSize();
    if (width > limit || height > limit) {
        image.refusal = formatC("it is %lld x %lld pixels, more than the %d x %d the graphics "
                                "driver can show",
                                width, height, limit, limit);
        return false;
    }
    const long long bytes = width * height * 4;
    if (static_cast<unsigned long long>(bytes) > image.byteLimit) {
        image.refusal = formatC("it is %lld x %lld pixels (%lld MB), more than %s", width, height,
                                (bytes + MB - 1) / MB, image.byteLimitText.c_str());
        return false;
    }
    return true;
}

} // namespace vortigo
