#include "script/WatchRows.h"

#include "core/Numbers.h"
#include "platform/Platform.h"
#include "script/FaultGuard.h"
#include "script/ScriptHost.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>

namespace vortigo {

const char* const WATCH_TYPE_NAMES[WATCH_TYPE_COUNT] = {"void *", "char",   "short", "int",
                                                        "float",  "double", "byte"};

namespace {

// "void *" is as wide as a pointer of the script: on 64-bit builds half a
// pointer would be useless to look at and dangerous to set.
constexpr size_t ELEMENT_SIZES[WATCH_TYPE_COUNT] = {sizeof(void*), 1, 2, 4, 4, 8, 1};

std::atomic<void (*)()> g_refreshHook{nullptr};

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string limited(const std::string& text) {
    return text.size() > WATCH_TEXT_LIMIT ? text.substr(0, WATCH_TEXT_LIMIT) : text;
}

// atoi's reading for a pointer-wide value, clamped instead of overflowing.
int64_t parseInt64(const char* p) {
    while (isSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    for (; isDigit(*p); ++p) {
        const unsigned digit = unsigned(*p - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (!negative) return int64_t(magnitude);
    return magnitude == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -int64_t(magnitude);
}

// What a row hands into the guard and gets back. Plain data only: a fault
// leaves the guarded frame without running any destructor.
struct RowAccess {
    const char* name;
    uint64_t offset;
    size_t size;
    bool write;
    unsigned char bytes[8]; // the element, in memory order
    bool unknown;
    bool noAddress;
};

template <typename T> void copyElement(RowAccess& a, uintptr_t address) {
    // One access of the element's width where it is aligned, so a value the
    // script is changing at the same moment is not torn apart.
    T value;
    if (a.write) {
        std::memcpy(&value, a.bytes, sizeof value);
        *reinterpret_cast<volatile T*>(address) = value;
    } else {
        value = *reinterpret_cast<volatile const T*>(address);
        std::memcpy(a.bytes, &value, sizeof value);
    }
}

void accessRow(void* context) {
    RowAccess& a = *static_cast<RowAccess*>(context);
    void* global = findGlobal(a.name);
    if (!global) {
        a.unknown = true;
        return;
    }
    uintptr_t address = 0;
    if (!watchElementAddress(reinterpret_cast<uintptr_t>(global), a.offset, a.size, address)) {
        a.noAddress = true;
        return;
    }
    // A write may land only in the script's own memory: an offset into the
    // studio's memory would corrupt it without any fault to catch.
    if (a.write && !insideScriptMemory(address, a.size)) {
        a.noAddress = true;
        return;
    }
    if (address % a.size == 0) {
        switch (a.size) {
        case 1:
            copyElement<uint8_t>(a, address);
            return;
        case 2:
            copyElement<uint16_t>(a, address);
            return;
        case 4:
            copyElement<uint32_t>(a, address);
            return;
        case 8:
            copyElement<uint64_t>(a, address);
            return;
        default:
            break;
        }
    }
    volatile unsigned char* element = reinterpret_cast<volatile unsigned char*>(address);
    for (size_t i = 0; i < a.size; ++i) {
        if (a.write)
            element[i] = a.bytes[i];
        else
            a.bytes[i] = element[i];
    }
}

template <typename T> void put(unsigned char* bytes, T value) {
    std::memcpy(bytes, &value, sizeof value);
}

template <typename T> T get(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The value text as the element's bytes. atof is replaced by the project's
// own decimal reader: under a desktop locale with a decimal comma atof
// would read "2.5" as 2.
void encode(int type, const std::string& text, unsigned char* bytes) {
    const char* p = text.c_str();
    switch (type) {
    case WATCH_POINTER:
        put(bytes, parseInt64(p));
        break;
    case WATCH_CHAR:
        put(bytes, text[0]);
        break;
    case WATCH_SHORT:
        put(bytes, static_cast<uint16_t>(parseInt(p)));
        break;
    case WATCH_INT:
        put(bytes, static_cast<int32_t>(parseInt(p)));
        break;
    case WATCH_FLOAT:
        put(bytes, parseFloat(p));
        break;
    case WATCH_DOUBLE:
        put(bytes, parseReal(p));
        break;
    case WATCH_BYTE:
        put(bytes, static_cast<uint8_t>(parseInt(p)));
        break;
    default:
        break;
    }
}

std::string decode(int type, const unsigned char* bytes) {
    switch (type) {
    case WATCH_POINTER:
        return formatC("%lld", static_cast<long long>(get<int64_t>(bytes)));
    case WATCH_CHAR: {
        const char c = get<char>(bytes);
        return c ? std::string(1, c) : std::string();
    }
    case WATCH_SHORT:
        return formatC("%i", int(get<int16_t>(bytes)));
    case WATCH_INT:
        return formatC("%i", int(get<int32_t>(bytes)));
    case WATCH_FLOAT:
        return formatC("%f", double(get<float>(bytes)));
    case WATCH_DOUBLE:
        return formatGcvt15(get<double>(bytes));
    case WATCH_BYTE:
        return formatC("%i", int(get<uint8_t>(bytes)));
    default:
        return std::string();
    }
}

} // namespace

size_t watchElementSize(int type) {
    return type >= 0 && type < WATCH_TYPE_COUNT ? ELEMENT_SIZES[type] : 0;
}

bool parseWatchOffset(const std::string& text, uint64_t& offset) {
    const char* p = text.c_str();
    while (isSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint64_t value = 0;
    for (; isDigit(*p); ++p) {
        const unsigned digit = unsigned(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (negative && value != 0) return false;
    offset = value;
    return true;
}

bool watchElementAddress(uintptr_t base, uint64_t offset, size_t size, uintptr_t& address) {
    static_assert(sizeof(uintptr_t) == sizeof(uint64_t), "offsets are counted in 64 bits");
    uintptr_t distance = 0;
    if (__builtin_mul_overflow(offset, uintptr_t(size), &distance)) return false;
    if (__builtin_add_overflow(base, distance, &address)) return false;
    // The whole element must exist too, not just its first byte.
    uintptr_t last = 0;
    return size == 0 || !__builtin_add_overflow(address, uintptr_t(size - 1), &last);
}

WatchResult watchRows(WatchRowSet& rows, bool write) {
    WatchResult result;
    result.rows.fill(WatchRowStatus::NotReached);
    for (int r = 0; r < WATCH_ROW_COUNT; ++r) {
        WatchRow& row = rows[r];
        const std::string name = limited(row.name);
        const size_t size = watchElementSize(row.type);
        if (name.empty() || size == 0) {
            result.rows[r] = WatchRowStatus::Skipped;
            continue;
        }
        const std::string value = write ? limited(row.value) : std::string();

        RowAccess access{};
        access.name = name.c_str();
        access.size = size;
        access.write = write && !value.empty();
        const bool offsetValid = parseWatchOffset(row.offsetText, access.offset);
        if (access.write) encode(row.type, value, access.bytes);

        WatchRowStatus status;
        int signal = 0;
        if (write && !access.write) {
            // Nothing to store: the name still has to exist.
            status = findGlobal(access.name) ? WatchRowStatus::Kept : WatchRowStatus::Unknown;
        } else if (!offsetValid) {
            status = findGlobal(access.name) ? WatchRowStatus::Faulted : WatchRowStatus::Unknown;
        } else {
            signal = runGuarded(accessRow, &access);
            if (signal != 0 || access.noAddress)
                status = WatchRowStatus::Faulted;
            else if (access.unknown)
                status = WatchRowStatus::Unknown;
            else
                status = write ? WatchRowStatus::Stored : WatchRowStatus::Shown;
        }

        result.rows[r] = status;
        if (status == WatchRowStatus::Faulted) {
            result.outcome = WatchOutcome::Fault;
            result.faultRow = r;
            result.faultSignal = signal;
            break;
        }
        if (!write)
            row.value =
                status == WatchRowStatus::Unknown ? "unknown" : decode(row.type, access.bytes);
    }
    return result;
}

std::string formatGcvt15(double value) {
    constexpr int DIGITS = 15;
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

    // The runtime decides the form from the exponent of the value rounded to
    // 17 digits, before the rounding to 15.
    const std::string probe = formatC("%.16e", value);
    const int magnitude = parseInt(probe.c_str() + probe.find('e') + 1);

    std::string text;
    if (magnitude < -1 || magnitude > DIGITS - 1) {
        text = formatC("%.*e", DIGITS - 1, value);
        const size_t e = text.find('e');
        std::string exponent = text.substr(e + 2);
        if (exponent.size() < 3) exponent.insert(0, 3 - exponent.size(), '0');
        text = text.substr(0, e + 2) + exponent;
    } else {
        text = formatC("%.*f", DIGITS - 1 - magnitude, value);
    }

    const size_t point = text.find('.');
    if (point == std::string::npos) return text;
    size_t end = text.find('e');
    if (end == std::string::npos) end = text.size();
    size_t keep = end;
    while (keep > point + 1 && text[keep - 1] == '0')
        --keep;
    text.erase(keep, end - keep);
    return text;
}

void setWatchRefreshHook(void (*hook)()) {
    g_refreshHook.store(hook, std::memory_order_release);
}

void refreshWatch() {
    if (void (*hook)() = g_refreshHook.load(std::memory_order_acquire)) hook();
}

} // namespace vortigo
