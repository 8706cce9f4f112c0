#include "media/PpmWriter.h"

#include <gtest/gtest.h>

namespace vortigo {
namespace {

TEST(PpmWriter, WritesTopRowFirstInRedGreenBlueOrder) {
    // Two rows of two pixels, bottom row first, blue-green-red.
    const uint8_t frame[] = {1, 2, 3, 4,  5,  6,   // bottom row
                             7, 8, 9, 10, 11, 12}; // top row
    const std::vector<uint8_t> expected = {'P', '6', '\n', '2', ' ', '2', '\n', '2',
                                           '5', '5', '\n', 9,   8,   7,   12,   11,
                                           10,  3,   2,    1,   6,   5,   4};
    EXPECT_EQ(encodePpm(frame, 2, 2), expected);
}

TEST(PpmWriter, ReportsAFileThatCannotBeWritten) {
    const uint8_t pixel[3] = {};
    EXPECT_FALSE(writePpm("/nonexistent-folder/picture.ppm", pixel, 1, 1));
}

} // namespace
} // namespace vortigo
