// Number conversion for everything read from or written to the studio's
// files and dialog fields. The desktop's locale may use a decimal comma, but
// the files always use a point, so nothing here consults the C locale.
//
// Threads: pure functions; any thread may call them.
#pragma once

#include <string>

namespace vortigo {

// The value of the longest decimal prefix of `text` after leading white
// space: an optional sign, digits with an optional point, an optional
// exponent (e or E, optional sign, digits). Hexadecimal forms, "inf" and
// "nan" are not numbers here. A text without a number, a null pointer and a
// magnitude outside the range of double all read 0, so no infinity or NaN can
// ever reach a setting.
double parseReal(const char* text);

// parseReal for float fields: a value that would round to a float infinity
// reads 0 too; one that rounds to FLT_MAX (such as FLT_MAX written with 15
// digits) is FLT_MAX.
float parseFloat(const char* text);

// A decimal whole number after leading white space, with an optional sign; the
// digits that follow are read up to the first other character. A text without
// digits reads 0; values beyond int's range are clamped to INT_MIN / INT_MAX.
int parseInt(const char* text);

// "%f": fixed notation with six decimals, always with a decimal point.
std::string formatReal6(double value);

} // namespace vortigo
