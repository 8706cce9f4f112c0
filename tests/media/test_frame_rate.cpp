#include "media/FrameRate.h"

#include <gtest/gtest.h>

namespace vortigo {
namespace {

FrameRate parsed(const std::string& text) {
    FrameRate rate;
    EXPECT_TRUE(parseFrameRate(text, rate)) << text;
    return rate;
}

TEST(FrameRate, ReadsWholeFractionalAndTelevisionRates) {
    EXPECT_EQ(parsed("25"), (FrameRate{25, 1}));
    EXPECT_EQ(parsed("30000/1001"), (FrameRate{30000, 1001}));
    EXPECT_EQ(parsed("50/2"), (FrameRate{25, 1}));
    EXPECT_EQ(parsed("12.5"), (FrameRate{25, 2}));
    // The rounded television rates mean N x 1000/1001 ...
    EXPECT_EQ(parsed("29.97"), (FrameRate{30000, 1001}));
    EXPECT_EQ(parsed("23.976"), (FrameRate{24000, 1001}));
    EXPECT_EQ(parsed("59.94"), (FrameRate{60000, 1001}));
    // ... but a whole number written with places, or a decimal no such
    // rate rounds to, is taken as written.
    EXPECT_EQ(parsed("30.00"), (FrameRate{30, 1}));
    EXPECT_EQ(parsed("29.9"), (FrameRate{299, 10}));
    EXPECT_EQ(parsed("29.971"), (FrameRate{29971, 1000}));
    EXPECT_EQ(parsed("29.97").rounded(), 30);
}

TEST(FrameRate, RefusesWhatIsNoRateOfAtLeastOneFrameASecond) {
    for (const char* text :
         {"", "0", "-25", "0.5", "1/2", "1/0", "0/1", "/", "25/", "/25", "abc", "29.97x", "25 ",
          "1.", ".5", "2147483648", "1e3", "30000/1001/1", "1.1234567"}) {
        FrameRate rate;
        EXPECT_FALSE(parseFrameRate(text, rate)) << '"' << text << '"';
    }
}

} // namespace
} // namespace vortigo
