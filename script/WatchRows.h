// Inspecting and changing globals of the loaded animation script by name:
// the four rows of the Watch dialog, without the dialog. A row names a global,
// an element offset and an element type; reading formats the addressed
// element as text, writing parses a text into it. Every access runs inside
// the fault guard, so a wrong name, offset or type costs a message, never
// the studio.
//
// Threads: watchRows runs where the dialog lives (the user-interface
// thread); it takes no lock, so a value may be read while the script changes
// it. refreshWatch may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vortigo {

// The Type column's items, in drop-down order.
enum WatchType {
    WATCH_POINTER,
    WATCH_CHAR,
    WATCH_SHORT,
    WATCH_INT,
    WATCH_FLOAT,
    WATCH_DOUBLE,
    WATCH_BYTE
};
constexpr int WATCH_TYPE_COUNT = 7;
extern const char* const WATCH_TYPE_NAMES[WATCH_TYPE_COUNT];

constexpr int WATCH_ROW_COUNT = 4;
// Names and value texts longer than this are cut.
constexpr size_t WATCH_TEXT_LIMIT = 254;

struct WatchRow {
    std::string name;
    std::string offsetText;
    int type = -1; // none selected
    std::string value;
};
using WatchRowSet = std::array<WatchRow, WATCH_ROW_COUNT>;

enum class WatchRowStatus {
    NotReached, // a row before it faulted
    Skipped,    // empty name or no type
    Unknown,    // the script has no global of that name
    Shown,      // read: `value` holds the element's text
    Stored,     // write: the element holds the parsed value
    Kept,       // write: empty value text, nothing stored
    Faulted,    // the access faulted or the address does not exist
};

enum class WatchOutcome { Done, Fault };

struct WatchResult {
    WatchOutcome outcome = WatchOutcome::Done;
    std::array<WatchRowStatus, WATCH_ROW_COUNT> rows{};
    int faultRow = -1;
    // The signal the guard caught, or 0 when the element's address lies
    // beyond the address space and nothing was touched.
    int faultSignal = 0;
};

// Handles the rows in order, as the Watch (read) and Set (write) buttons do.
// Read mode sets `value` of every handled row ("unknown" for an unknown
// name); write mode leaves the rows as they are. A fault stops at its row.
// The caller checks that a script is loaded.
WatchResult watchRows(WatchRowSet& rows, bool write);

// The size in bytes of one element of `type`; 0 for no type.
size_t watchElementSize(int type);

// The offset column: an unsigned decimal element count after leading white
// space. A text without digits reads 0. False when the text is negative or
// beyond 64 bits: such an offset has no element, and wrapping it would
// silently address memory before the global.
bool parseWatchOffset(const std::string& text, uint64_t& offset);

// base + offset * size, false when that leaves the address space.
bool watchElementAddress(uintptr_t base, uint64_t offset, size_t size, uintptr_t& address);

// 15 significant digits the way the classic C runtime's _gcvt writes them,
// always with a decimal point, never a comma:
// - The decimal exponent m of the value (taken from its 17-digit rounding)
//   picks the form: fixed when -1 <= m <= 14, otherwise exponential. So
//   0.5 stays fixed but 0.05 is "5.e-002", unlike %g.
// - Fixed form has 15 - (m + 1) decimals; exponential form has 14 decimals
//   and a sign and at least three exponent digits.
// - Trailing zeros after the point are dropped, the point itself stays:
//   42 gives "42.", 0 gives "0.", 2.5 gives "2.5", 1e20 gives "1.e+020".
//   A value with 15 integer digits has no decimals and so no point.
// - Infinities and NaN read "inf", "-inf" and "nan", as "%f" writes them.
std::string formatGcvt15(double value);

// The post-processing thread asks for a refresh after each frame through a
// hook, so the core never depends on the dialog. The hook must return at
// once and must not touch any window itself.
void setWatchRefreshHook(void (*hook)());
void refreshWatch();

} // namespace vortigo
