// The flight data file ("VORN"): a count byte of 12, then flight records of
// 12 little-endian floats each (position, time, orientation, udef[0..3]) up
// to the end of the file. No record count is stored.
//
// Threads: user-interface thread, render thread at rest (loading rewrites
// the ring and its marks, which the script can see).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vortigo {

constexpr int FLIGHT_FILE_COUNT_BYTE = 12;
// One slot always stays free between flightEnd and flightStart.
constexpr int FLIGHT_RING_RECORDS = 9999;

// The records from flightStart up to flightEnd, walking the ring with its
// wrap, at most FLIGHT_RING_RECORDS of them.
int flightRecordCount();

// The file's bytes for the ring as it stands.
std::string flightFileBytes();

// Replaces the ring with the records of `bytes`: flightStart and flightHead 0,
// flightEnd one past the last record read. A count byte other than 12 changes
// nothing and returns false. An empty text loads no record; a last record cut
// short is dropped; records past the ring's 9999 are ignored.
bool readFlightBytes(std::string_view bytes);

// Writes the ring to `path` (atomically); on success flightFile holds path.
// Failures show "Could not write to file" and leave file and field alone.
bool saveFlightData(const std::string& path);

// Reads `path` into the ring; on success flightFile holds path. A file that
// cannot be read, or one with a wrong count byte, shows "Could not read from
// file" and leaves the ring as it was.
bool loadFlightData(const std::string& path);

} // namespace vortigo
