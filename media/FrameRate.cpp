#include "media/FrameRate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>

namespace vortigo {
namespace {

bool parseWhole(const char* begin, const char* end, int64_t& value) {
    if (begin == end) return false;
    const auto result = std::from_chars(begin, end, value);
    return result.ec == std::errc() && result.ptr == end && value >= 0;
}

bool reduced(int64_t num, int64_t den, FrameRate& rate) {
    if (num <= 0 || den <= 0) return false;
    const int64_t common = std::gcd(num, den);
    num /= common;
    den /= common;
    constexpr int64_t MAX = std::numeric_limits<int>::max();
    if (num > MAX || den > MAX || num < den) return false; // below one frame a second
    rate = FrameRate{static_cast<int>(num), static_cast<int>(den)};
    return true;
}

} // namespace

int FrameRate::rounded() const {
    if (!valid()) return 1;
    return std::max(1, static_cast<int>((int64_t{num} + den / 2) / den));
}

bool parseFrameRate(const std::string& text, FrameRate& rate) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    int64_t whole = 0;
    if (const auto slash = text.find('/'); slash != std::string::npos) {
        int64_t den = 0;
        return parseWhole(begin, begin + slash, whole) && parseWhole(begin + slash + 1, end, den) &&
               reduced(whole, den, rate);
    }
    const auto dot = text.find('.');
    if (dot == std::string::npos) return parseWhole(begin, end, whole) && reduced(whole, 1, rate);
    const size_t places = text.size() - dot - 1;
    int64_t fraction = 0;
    if (places == 0 || places > 6 || !parseWhole(begin, begin + dot, whole) ||
        !parseWhole(begin + dot + 1, end, fraction) || whole > std::numeric_limits<int>::max())
        return false;
    int64_t scale = 1;
    for (size_t i = 0; i < places; ++i)
        scale *= 10;
    const int64_t num = whole * scale + fraction;
    if (fraction != 0 && (places == 2 || places == 3)) {
        // The nearest whole rate slowed by 1000/1001, when these places round it.
        const int64_t nominal = (num + scale / 2) / scale;
        const double television = static_cast<double>(nominal) * 1000.0 / 1001.0;
        if (std::llround(television * static_cast<double>(scale)) == num)
            return reduced(nominal * 1000, 1001, rate);
    }
    return reduced(num, scale, rate);
}

} // namespace vortigo
