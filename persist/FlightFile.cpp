#include "persist/FlightFile.h"

#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "core/ViewFlags.h"
#include "flight/FlightRecord.h"
#include "persist/ProjectFile.h"
#include "persist/TextFile.h"

#include <bit>
#include <cerrno>
#include <cstring>

namespace vortigo {
namespace {

// The file's floats are little-endian; so are the machines we build for.
static_assert(std::endian::native == std::endian::little);

constexpr size_t RECORD_BYTES = FLIGHT_RECORD_FLOATS * sizeof(float);
// The count byte and one record more than the ring takes: enough to see that
// a file holds more than fits.
constexpr size_t FLIGHT_READ_LIMIT = 1 + (FLIGHT_RING_RECORDS + 1) * RECORD_BYTES;

void showError(const char* text) {
    platform().messageBox(mainOwner(), text, "Error", MsgButtons::Ok, MsgIcon::None);
}

} // namespace

int flightRecordCount() {
    const CameraFlight& camera = cameraView();
    const int32_t start = flightIndexInRange(camera.flightStart);
    const int32_t end = flightIndexInRange(camera.flightEnd);
    const int32_t floats = end >= start ? end - start : FLIGHT_FLOATS - start + end;
    return floats / FLIGHT_RECORD_FLOATS;
}

std::string flightFileBytes() {
    const CameraFlight& camera = cameraView();
    std::string bytes(1, static_cast<char>(FLIGHT_FILE_COUNT_BYTE));
    if (!camera.flightBuffer) return bytes;
    // The marks live where the script can write them; walk from the start
    // in range and stop at the end or after one lap, whichever comes first.
    const int32_t end = flightIndexInRange(camera.flightEnd);
    int32_t index = flightIndexInRange(camera.flightStart);
    for (int written = 0; index != end && written < FLIGHT_RING_RECORDS; ++written) {
        bytes.append(reinterpret_cast<const char*>(camera.flightBuffer.get() + index),
                     RECORD_BYTES);
        index = flightIndexForward(index);
    }
    return bytes;
}

bool readFlightBytes(std::string_view bytes) {
    CameraFlight& camera = cameraFlight();
    if (!camera.flightBuffer) return false;
    if (!bytes.empty() && static_cast<uint8_t>(bytes[0]) != FLIGHT_FILE_COUNT_BYTE) return false;
    camera.flightStart = camera.flightHead = camera.flightEnd = 0;
    size_t offset = 1;
    int32_t end = 0;
    for (int records = 0; records < FLIGHT_RING_RECORDS && offset + RECORD_BYTES <= bytes.size();
         ++records) {
        std::memcpy(camera.flightBuffer.get() + end, bytes.data() + offset, RECORD_BYTES);
        offset += RECORD_BYTES;
        end += FLIGHT_RECORD_FLOATS;
    }
    camera.flightEnd = end;
    return true;
}

bool saveFlightData(const std::string& path) {
    const std::string bytes = flightFileBytes();
    if (path.size() >= PATH_SIZE || !replaceFileContents(path, bytes.data(), bytes.size())) {
        const int error = path.size() >= PATH_SIZE ? ENAMETOOLONG : errno;
        showError(saveFailureText("Could not write to file", path, error).c_str());
        return false;
    }
    storePath(projectFiles().flightFile, path);
    return true;
}

bool loadFlightData(const std::string& path) {
    std::string bytes;
    if (path.size() >= PATH_SIZE || readFilePrefix(path, FLIGHT_READ_LIMIT, bytes) != 0 ||
        !readFlightBytes(bytes)) {
        showError("Could not read from file");
        return false;
    }
    storePath(projectFiles().flightFile, path);
    return true;
}

} // namespace vortigo
