// The flight data file: record counts at the ring's limits, the wrap on save,
// and the files that must not be taken.
#include "FuzzSeeds.h"
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "flight/FlightRecord.h"
#include "persist/FlightFile.h"
#include "script/ScriptFixture.h"

#include <fstream>
#include <sstream>

namespace vortigo {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A file of `count` records whose first float counts them up from 1.
std::string flightBytes(int count, char countByte = 12) {
    std::string bytes(1, countByte);
    for (int r = 0; r < count; ++r) {
        float record[FLIGHT_RECORD_FLOATS];
        for (int i = 0; i < FLIGHT_RECORD_FLOATS; ++i)
            record[i] = static_cast<float>(r + 1) + static_cast<float>(i) / 16.0f;
        bytes.append(reinterpret_cast<const char*>(record), sizeof record);
    }
    return bytes;
}

class FlightFileTest : public test::ScriptFixture {
  protected:
    std::string write(const std::string& bytes) {
        if (bytes.size() < 4096)
            test::keepAsFuzzSeed("flight", "f" + std::to_string(bytes.size()) + ".vorn", bytes);
        m_dir.write("f.vorn", bytes);
        return m_dir.file("f.vorn");
    }
};

TEST_F(FlightFileTest, LoadsEveryRecordUpToTheRingsLimitAndSavesThemBack) {
    ProjectFiles& files = projectFiles();
    const CameraFlight& camera = cameraView();
    for (int count : {0, 1, 9999}) {
        const std::string path = write(flightBytes(count));
        ASSERT_TRUE(loadFlightData(path)) << count;
        EXPECT_EQ(flightRecordCount(), count);
        EXPECT_EQ(std::tuple(camera.flightStart, camera.flightHead, camera.flightEnd),
                  std::tuple(0, 0, count * FLIGHT_RECORD_FLOATS));
        EXPECT_EQ(std::string(files.flightFile), path);
        ASSERT_TRUE(saveFlightData(m_dir.file("copy.vorn")));
        EXPECT_EQ(readFile(m_dir.file("copy.vorn")), flightBytes(count)) << count;
        EXPECT_EQ(std::string(files.flightFile), m_dir.file("copy.vorn"));
    }
    // One record more than the ring holds: the first 9999 load.
    ASSERT_TRUE(loadFlightData(write(flightBytes(10000))));
    EXPECT_EQ(flightRecordCount(), 9999);
    EXPECT_EQ(camera.flightBuffer[FLIGHT_LAST_INDEX - FLIGHT_RECORD_FLOATS], 9999.0f);
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(FlightFileTest, ACutOffRecordIsDroppedAndAnEmptyFileLoadsNoRecord) {
    ProjectFiles& files = projectFiles();
    const std::string two = flightBytes(2);
    ASSERT_TRUE(loadFlightData(write(two + two.substr(1, 47))));
    EXPECT_EQ(flightRecordCount(), 2);
    ASSERT_TRUE(loadFlightData(write("")));
    EXPECT_EQ(flightRecordCount(), 0);
    EXPECT_EQ(std::string(files.flightFile), m_dir.file("f.vorn"));
}

TEST_F(FlightFileTest, AWrongCountByteOrAMissingFileKeepsTheRing) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    ASSERT_EQ(flightRecordCount(), 1); // the reset's record
    camera.flightBuffer[0] = 42.0f;
    files.flightFile[0] = 0;
    for (char countByte : {char(11), char(13), char(0), char(0xff)}) {
        m_platform.clearRecords();
        EXPECT_FALSE(loadFlightData(write(flightBytes(3, countByte))));
        EXPECT_EQ(boxTexts(), std::vector<std::string>{"Could not read from file"});
    }
    m_platform.clearRecords();
    EXPECT_FALSE(loadFlightData(m_dir.file("missing.vorn")));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Could not read from file"});
    EXPECT_EQ(flightRecordCount(), 1);
    EXPECT_EQ(camera.flightBuffer[0], 42.0f);
    EXPECT_STREQ(files.flightFile, "");
}

TEST_F(FlightFileTest, SaveWalksTheRingAcrossItsWrap) {
    CameraFlight& camera = cameraFlight();
    for (int i = 0; i < FLIGHT_FLOATS; ++i)
        camera.flightBuffer[i] = static_cast<float>(i);
    camera.flightStart = FLIGHT_LAST_INDEX - FLIGHT_RECORD_FLOATS;
    camera.flightEnd = 2 * FLIGHT_RECORD_FLOATS;
    EXPECT_EQ(flightRecordCount(), 4);
    ASSERT_TRUE(saveFlightData(m_dir.file("wrap.vorn")));
    const std::string bytes = readFile(m_dir.file("wrap.vorn"));
    ASSERT_EQ(bytes.size(), 1u + 4 * 48);
    float firsts[4];
    for (int r = 0; r < 4; ++r)
        std::memcpy(&firsts[r], bytes.data() + 1 + r * 48, sizeof(float));
    EXPECT_EQ(firsts[0], float(FLIGHT_LAST_INDEX - 12));
    EXPECT_EQ(firsts[1], float(FLIGHT_LAST_INDEX));
    EXPECT_EQ(firsts[2], 0.0f);
    EXPECT_EQ(firsts[3], 12.0f);

    // Marks a script wrote out of range never take the walk outside the ring.
    camera.flightStart = 7;
    camera.flightEnd = -500;
    ASSERT_TRUE(saveFlightData(m_dir.file("wild.vorn")));
    EXPECT_EQ(readFile(m_dir.file("wild.vorn")).size(), 1u);
    camera.flightStart = 12;
    camera.flightEnd = 1 << 30;
    ASSERT_TRUE(saveFlightData(m_dir.file("wild.vorn")));
    EXPECT_EQ(readFile(m_dir.file("wild.vorn")).size(), 1u + 9998 * 48);
}

} // namespace
} // namespace vortigo
