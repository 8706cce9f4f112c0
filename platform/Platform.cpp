#include "platform/Platform.h"

#include <atomic>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace vortigo {
namespace {

std::atomic<Platform*> g_platform{nullptr};

locale_t cLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

} // namespace

Platform& platform() {
    Platform* current = g_platform.load(std::memory_order_acquire);
    if (!current) {
        // A program path that skipped setPlatform: messages would go nowhere.
        std::fprintf(stderr, "vortigo: platform() called before setPlatform installed a "
                             "platform (or after it was removed)\n");
        std::abort();
    }
    return *current;
}

Platform* setPlatform(Platform* platform) {
    return g_platform.exchange(platform, std::memory_order_acq_rel);
}

std::string formatC(const char* format, ...) {
    // The desktop's locale may use a decimal comma; files and titles must not.
    locale_t previous = uselocale(cLocale());
    va_list args;
    va_start(args, format);
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string result;
    if (n >= 0 && n < static_cast<int>(sizeof small)) {
        result.assign(small, static_cast<size_t>(n));
    } else if (n >= 0) {
        result.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(result.data(), result.size(), format, args);
        result.resize(static_cast<size_t>(n));
    }
    va_end(args);
    uselocale(previous);
    return result;
}

} // namespace vortigo
