#include "media/Backgrounds.h"
#include "media/ImageDecoders.h"

#include <algorithm>
#include <atomic>

namespace vortigo {
namespace {

constexpr int SIZE_CEILING = 16384;
std::atomic<int> g_maxSize{SIZE_CEILING};

} // namespace

void setMaxBackgroundSize(int size) {
    g_maxSize.store(std::clamp(size, 1, SIZE_CEILING));
}

int maxBackgroundSize() {
    return g_maxSize.load();
}

bool backgroundSizeAllowed(long long width, long long height) {
    const int limit = maxBackgroundSize();
    return width > 0 && height > 0 && width <= limit && height <= limit;
}

} // namespace vortigo
