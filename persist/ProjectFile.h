// The project file (".vort"): a magic line, then key=value lines for the
// settings, the camera, time, udef[0..15] and the names of the files that make
// up the project. Names go over two lines, "KEY=n" and then exactly n bytes,
// so spaces and "=" survive. Written with LF line ends; read with LF or CR LF.
//
// Threads: user-interface thread. Loading runs only while the render thread
// rests (the caller waits for stopFlightAndCheckParked()); saving only reads the fields.
#pragma once

#include <string>
#include <string_view>

namespace vortigo {

constexpr const char* PROJECT_MAGIC = "Cobblewick_Vortigo_File";
// The longest token and name the reader takes: a path field less its zero.
constexpr int PROJECT_TOKEN_LIMIT = 259;

// Copies `path` into a 260-byte path field; a path that would not fit is
// refused and the field keeps its value.
bool storePath(char* field, const std::string& path);

// A real with `digits` significant digits: plain notation for decimal
// exponents from -1 to digits - 1, else one digit, the fraction, "e", a sign
// and three exponent digits; trailing zeros of the fraction go, the point
// stays ("1.", "0.5", "5.00000007450581e-002", "5.e-002").
std::string formatProjectReal(double value, int digits);

// A C integer literal (decimal, 0x hexadecimal, 0 octal) at the start of
// `text`, with an optional sign; false when no digit starts it. Values past
// int's range are clamped.
bool parseIntLiteral(std::string_view text, int& value);

// If no regular file named `field` exists, replaces the field with the
// project's folder (up to its last "/" or "\") followed by the name's last
// component (after its last "/" or "\"). An empty name, a project path
// without a folder or a result longer than 259 bytes leave the field alone.
void locateFile(char* field, const std::string& projectPath);

// The whole file for the current state, in the order the reader's table
// lists the keys. Derives cameraRotation from cameraMatrix first.
std::string projectFileText();

// True when the first token of `bytes` is the magic word.
bool hasProjectMagic(std::string_view bytes);

// Clears what a load replaces (the layers' names, texts, backgrounds and
// frame counters, the edited flags) and reads every entry of
// `bytes` after the magic word into the state; names are located beside
// projectFile. Does not run the after-load sequence. An int that no frame
// can be made from (WIDTH, HEIGHT or FRAMESPERSEC below 1) leaves its field
// as it was; the result names each such entry and its value, one line each
// (empty when every entry was usable).
std::string readProjectEntries(std::string_view bytes);

// Which text the editor shows after a load: the last layer text that loaded
// (its layer and kind); when none did, the first layer, the kind as it was
// (-1).
struct ShownText {
    int layer = 0;
    int kind = -1;
};

// Backgrounds, texts, one flight record, the flight file, the camera matrix,
// then the compile and resize requests.
ShownText runAfterLoad();

// Writes the project to `path` atomically; on success projectFile holds it.
// Failure: "Could not write to file", nothing changes.
bool saveProject(const std::string& path);

// Reads the project at `path` and brings it to life. A file that cannot be
// read ("Could not open file.") or that is not a project ("Not a proper
// .vort file:") changes nothing at all. Entries that cannot be used are
// shown in one message ("Error") and the rest of the project loads.
bool loadProject(const std::string& path, ShownText* shown = nullptr);

// One "KEY=value" line per field the project file holds, with the file's key
// names (names as they stand, reals with 9 significant digits, udef[0..15])
// and FLIGHTRECORDS= the records in the ring.
std::string describeProject();

} // namespace vortigo
