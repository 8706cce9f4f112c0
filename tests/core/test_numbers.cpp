#include "core/Numbers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>

using namespace vortigo;
using namespace std::string_literals;

namespace {

TEST(ParseReal, ReadsTheLongestDecimalPrefix) {
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"2.0", 2.0},          {"  -0.5", -0.5},
        {"+3", 3.0},           {".25", 0.25},
        {"5.", 5.0},           {"1e3", 1e3},
        {"1E-2", 0.01},        {"2.5e+1", 25.0},
        {"\t\n\v\f\r 7", 7.0}, {"0.1000000000000000000000000000000000001", 0.1},
        {"12.5abc", 12.5},     {"3e", 3.0},
        {"3e+", 3.0},          {"1.5.2", 1.5},
        {"1,5", 1.0},          {"7 8", 7.0},
        {"-.5e1z", -5.0},      {"0x10", 0.0},
        {"0X1p3", 0.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(parseReal(c.text), c.expected) << c.text;
}

TEST(ParseReal, TextWithoutANumberReadsZero) {
    for (const char* text : {"", "   ", "abc", ".", "-", "+.", "e5", "- 3", "inf", "-inf", "nan",
                             "NaN", "infinity", "INFINITY"})
        EXPECT_EQ(parseReal(text), 0.0) << text;
    EXPECT_EQ(parseReal(nullptr), 0.0);
}

TEST(ParseReal, OutOfRangeMagnitudesReadZeroNotInfinity) {
    const std::string longDigits = "1" + std::string(400, '0');
    for (const auto& text :
         {"1e999"s, "-1e999"s, "1e309"s, longDigits, "-" + longDigits, "1e-999"s})
        EXPECT_EQ(parseReal(text.c_str()), 0.0) << text;
    EXPECT_DOUBLE_EQ(parseReal("1e308"), 1e308);
    // Narrowed to float, a finite double may still overflow.
    EXPECT_EQ(parseFloat("1e39"), 0.0f);
    EXPECT_EQ(parseFloat("-1e39"), 0.0f);
    EXPECT_FLOAT_EQ(parseFloat("3e38"), 3e38f);
    // FLT_MAX with 15 digits lies just above it and still rounds to it.
    EXPECT_EQ(parseFloat("3.40282346638529e+038"), FLT_MAX);
    EXPECT_EQ(parseFloat("-3.4028236e38"), 0.0f);
}

TEST(ParseInt, ReadsLeadingDecimalWholeNumbers) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {{"42", 42}, {" \t-7", -7}, {"+8", 8},   {"12abc", 12}, {"3.9", 3},
                          {"abc", 0}, {"", 0},       {"0x10", 0}, {"- 5", 0},    {"1e3", 1}};
    for (const auto& c : cases)
        EXPECT_EQ(parseInt(c.text), c.expected) << c.text;
    EXPECT_EQ(parseInt(nullptr), 0);
}

TEST(ParseInt, ClampsAtTheLimitsOfInt) {
    EXPECT_EQ(parseInt("2147483647"), INT_MAX);
    EXPECT_EQ(parseInt("2147483648"), INT_MAX);
    EXPECT_EQ(parseInt("-2147483648"), INT_MIN);
    EXPECT_EQ(parseInt("-2147483649"), INT_MIN);
    EXPECT_EQ(parseInt("99999999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(parseInt(("-" + std::string(5000, '9')).c_str()), INT_MIN);
}

TEST(FormatReal6, MatchesPrintfInTheCLocale) {
    for (double value : {0.0, 2.0, 12.5, -0.5, double(0.001f), double(0.0005f), 1e-7, 5e-7, 0.1,
                         1e8, -1e15, 123456.7890125, 1e300, DBL_MAX, -DBL_MAX, 2.5e-6}) {
        char expected[512];
        std::snprintf(expected, sizeof expected, "%f", value);
        EXPECT_EQ(formatReal6(value), expected) << value;
    }
    EXPECT_EQ(formatReal6(0.001f), "0.001000");
}

// A desktop locale with a decimal comma must change neither reading nor
// writing: the files are shared between machines.
TEST(Numbers, IgnoreTheDesktopLocale) {
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
        chosen = chosen ? chosen : std::setlocale(LC_ALL, name);
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
    EXPECT_EQ(std::string(std::localeconv()->decimal_point), ",");
    EXPECT_DOUBLE_EQ(parseReal("2.5"), 2.5);
    EXPECT_DOUBLE_EQ(parseReal("2,5"), 2.0);
    EXPECT_EQ(parseInt("1.234"), 1);
    EXPECT_EQ(formatReal6(2.5), "2.500000");
    std::setlocale(LC_ALL, "C");
}

} // namespace
