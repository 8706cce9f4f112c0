// The flight data reader on arbitrary bytes: an accepted file loads exactly
// its whole records, at most 9999, and saves back as those bytes.
#include "FuzzState.h"
#include "persist/FlightFile.h"

#include <algorithm>
#include <string_view>

using namespace vortigo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::initialiseOnce()) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!readFlightBytes(bytes)) {
        fuzz::require(!bytes.empty() && data[0] != FLIGHT_FILE_COUNT_BYTE);
        return 0;
    }
    const size_t records =
        bytes.empty() ? 0 : std::min<size_t>((bytes.size() - 1) / 48, FLIGHT_RING_RECORDS);
    fuzz::require(flightRecordCount() == static_cast<int>(records));
    const std::string saved = flightFileBytes();
    fuzz::require(saved.size() == 1 + records * 48);
    fuzz::require(records == 0 || saved.substr(1) == bytes.substr(1, records * 48));
    return 0;
}
