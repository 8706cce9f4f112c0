#include "core/Numbers.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace vortigo {

namespace {

// The C locale's white space, spelled out so no locale is consulted.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

const char* skipSpace(const char* p) {
    while (isSpace(*p))
        ++p;
    return p;
}

const char* skipDigits(const char* p) {
    while (isDigit(*p))
        ++p;
    return p;
}

} // namespace

double parseReal(const char* text) {
    if (!text) return 0.0;
    const char* p = skipSpace(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }

    // Find the decimal literal's extent first: from_chars would also accept
    // "inf", "nan" and, with other formats, hexadecimal digits.
    const char* start = p;
    const char* q = skipDigits(p);
    bool hasDigits = q != start;
    if (*q == '.') {
        const char* fraction = q + 1;
        q = skipDigits(fraction);
        hasDigits = hasDigits || q != fraction;
    }
    if (!hasDigits) return 0.0;
    const char* end = q;
    if (*q == 'e' || *q == 'E') {
        const char* exponent = q + 1;
        if (*exponent == '+' || *exponent == '-') ++exponent;
        if (isDigit(*exponent)) end = skipDigits(exponent);
    }

    double value = 0.0;
    const auto result = std::from_chars(start, end, value, std::chars_format::general);
    if (result.ec != std::errc() || !std::isfinite(value)) return 0.0;
    return negative ? -value : value;
}

float parseFloat(const char* text) {
    const double value = parseReal(text);
    // Values up to half a step above FLT_MAX still round to it (a float
    // written with 15 digits may land there); from there on they would
    // round to infinity.
    constexpr double roundsToInfinity = 0x1.ffffffp127;
    if (std::fabs(value) >= roundsToInfinity) return 0.0f;
    return static_cast<float>(value);
}

int parseInt(const char* text) {
    if (!text) return 0;
    const char* p = skipSpace(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Saturate just past int's range so arbitrarily long digit runs cannot
    // overflow the accumulator.
    constexpr int64_t cap = int64_t{INT_MAX} + 2;
    int64_t magnitude = 0;
    for (; isDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > cap) magnitude = cap;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::string formatReal6(double value) {
    // DBL_MAX needs 309 integer digits; sign, point and six decimals fit too.
    char buffer[DBL_MAX_10_EXP + 32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (result.ec != std::errc()) return "0.000000";
    return std::string(buffer, result.ptr);
}

} // namespace vortigo
