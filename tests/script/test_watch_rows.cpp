// Watching and setting globals of a real compiled script: every element
// type, offsets, unknown names, faults and the number formats.
#include "script/FaultGuard.h"
#include "script/ScriptCalls.h"
#include "script/ScriptFixture.h"
#include "script/WatchRows.h"

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <limits>
#include <vector>

namespace vortigo {
namespace {

constexpr const char* SCRIPT = R"(
int counter = 7;
float floats[4] = {0.5f, 1.5f, 2.25f, 3.0f};
double real = 42.0;
char letter = 'Q';
short shorts[3] = {10, -3, 30};
unsigned char bytes[4] = {1, 200, 3, 4};
void *pointers[2] = {(void *)0x123456789ab, (void *)0};
int ints[3] = {11, 22, 33};
void udPost(void) { counter++; }
)";

class WatchRowsTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        ASSERT_TRUE(compileScript(SCRIPT));
    }

    template <typename T> T* global(const char* name) { return static_cast<T*>(findGlobal(name)); }
};

WatchRow row(const char* name, const char* offset, int type, const char* value = "") {
    return WatchRow{name, offset, type, value};
}

std::array<std::string, WATCH_ROW_COUNT> values(const WatchRowSet& rows) {
    return {rows[0].value, rows[1].value, rows[2].value, rows[3].value};
}

using Status = WatchRowStatus;

TEST_F(WatchRowsTest, ReadFormatsEachTypeAtItsOffset) {
    WatchRowSet rows = {row("counter", "0", WATCH_INT), row("floats", "2", WATCH_FLOAT),
                        row("real", "0", WATCH_DOUBLE), row("letter", "0", WATCH_CHAR)};
    WatchResult result = watchRows(rows, false);
    EXPECT_EQ(result.outcome, WatchOutcome::Done);
    EXPECT_EQ(values(rows), (std::array<std::string, 4>{"7", "2.250000", "42.", "Q"}));
    for (Status s : result.rows)
        EXPECT_EQ(s, Status::Shown);

    rows = {row("shorts", "1", WATCH_SHORT), row("bytes", "1", WATCH_BYTE),
            row("pointers", "0", WATCH_POINTER), row("ints", " 2", WATCH_INT)};
    result = watchRows(rows, false);
    EXPECT_EQ(result.outcome, WatchOutcome::Done);
    // The byte is unsigned, the pointer keeps its upper half.
    EXPECT_EQ(values(rows), (std::array<std::string, 4>{"-3", "200", "1250999896491", "33"}));
}

TEST_F(WatchRowsTest, ReadFollowsTheRunningScript) {
    WatchRowSet rows = {row("counter", "0", WATCH_INT)};
    watchRows(rows, false);
    EXPECT_EQ(rows[0].value, "7");
    callUdPost(0);
    callUdPost(0);
    watchRows(rows, false);
    EXPECT_EQ(rows[0].value, "9");
}

TEST_F(WatchRowsTest, WriteStoresOnlyTheAddressedElement) {
    WatchRowSet rows = {
        row("counter", "0", WATCH_INT, "42"), row("floats", "2", WATCH_FLOAT, "2.5"),
        row("real", "0", WATCH_DOUBLE, "0.1"), row("letter", "0", WATCH_CHAR, "xyz")};
    const WatchResult result = watchRows(rows, true);
    EXPECT_EQ(result.outcome, WatchOutcome::Done);
    for (Status s : result.rows)
        EXPECT_EQ(s, Status::Stored);
    EXPECT_EQ(*global<int>("counter"), 42);
    const float* floats = global<float>("floats");
    EXPECT_EQ(floats[1], 1.5f);
    EXPECT_EQ(floats[2], 2.5f);
    EXPECT_EQ(floats[3], 3.0f);
    EXPECT_EQ(*global<double>("real"), 0.1);
    EXPECT_EQ(*global<char>("letter"), 'x');
    // Write mode leaves the texts as they were typed.
    EXPECT_EQ(rows[0].value, "42");
}

TEST_F(WatchRowsTest, ShortsAndBytesKeepTheLowBitsAndTheirNeighbours) {
    WatchRowSet rows = {row("shorts", "1", WATCH_SHORT, "70000"),
                        row("bytes", "1", WATCH_BYTE, "300"), row("bytes", "2", WATCH_BYTE, "-1"),
                        row("ints", "1", WATCH_INT, "-5x")};
    ASSERT_EQ(watchRows(rows, true).outcome, WatchOutcome::Done);
    const short* shorts = global<short>("shorts");
    EXPECT_EQ(shorts[0], 10);
    EXPECT_EQ(shorts[1], 70000 - 65536);
    EXPECT_EQ(shorts[2], 30);
    const unsigned char* bytes = global<unsigned char>("bytes");
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 300 - 256);
    EXPECT_EQ(bytes[2], 255);
    EXPECT_EQ(bytes[3], 4);
    const int* ints = global<int>("ints");
    EXPECT_EQ(ints[0], 11);
    EXPECT_EQ(ints[1], -5);
    EXPECT_EQ(ints[2], 33);
}

TEST_F(WatchRowsTest, PointersAreWholePointers) {
    WatchRowSet rows = {row("pointers", "1", WATCH_POINTER, "-2")};
    ASSERT_EQ(watchRows(rows, true).outcome, WatchOutcome::Done);
    void** pointers = global<void*>("pointers");
    EXPECT_EQ(pointers[0], reinterpret_cast<void*>(0x123456789abLL));
    EXPECT_EQ(pointers[1], reinterpret_cast<void*>(intptr_t(-2)));
    rows = {row("pointers", "1", WATCH_POINTER)};
    watchRows(rows, false);
    EXPECT_EQ(rows[0].value, "-2");
}

TEST_F(WatchRowsTest, UnknownNamesAreShownOrReportedAndTheOtherRowsGoOn) {
    WatchRowSet rows = {row("nosuch", "0", WATCH_INT, "1"), row("counter", "0", WATCH_INT, "5"),
                        row("missing", "0", WATCH_FLOAT, ""), row("ints", "0", WATCH_INT, "8")};
    WatchResult result = watchRows(rows, true);
    EXPECT_EQ(result.outcome, WatchOutcome::Done);
    // An unknown name is reported even when there is nothing to store.
    EXPECT_EQ(result.rows, (std::array<Status, 4>{Status::Unknown, Status::Stored, Status::Unknown,
                                                  Status::Stored}));
    EXPECT_EQ(*global<int>("counter"), 5);
    EXPECT_EQ(*global<int>("ints"), 8);

    result = watchRows(rows, false);
    EXPECT_EQ(values(rows), (std::array<std::string, 4>{"unknown", "5", "unknown", "8"}));
}

TEST_F(WatchRowsTest, EmptyValueTextStoresNothing) {
    WatchRowSet rows = {row("counter", "0", WATCH_INT, ""), row("letter", "0", WATCH_CHAR, ""),
                        row("ints", "99999999999999999999999", WATCH_INT, "")};
    const WatchResult result = watchRows(rows, true);
    EXPECT_EQ(result.outcome, WatchOutcome::Done);
    EXPECT_EQ(result.rows[0], Status::Kept);
    EXPECT_EQ(result.rows[1], Status::Kept);
    // Nothing to store, so no address is formed and nothing can fault.
    EXPECT_EQ(result.rows[2], Status::Kept);
    EXPECT_EQ(*global<int>("counter"), 7);
    EXPECT_EQ(*global<char>("letter"), 'Q');
}

TEST_F(WatchRowsTest, RowsWithoutNameOrTypeAreSkippedSilently) {
    WatchRowSet rows = {row("", "0", WATCH_INT, "keep"), row("counter", "0", -1, "keep"),
                        row("counter", "0", WATCH_TYPE_COUNT, "keep"),
                        row("counter", "0", WATCH_INT, "old")};
    WatchResult result = watchRows(rows, false);
    EXPECT_EQ(result.rows, (std::array<Status, 4>{Status::Skipped, Status::Skipped, Status::Skipped,
                                                  Status::Shown}));
    EXPECT_EQ(values(rows), (std::array<std::string, 4>{"keep", "keep", "keep", "7"}));
    rows[1].value = "1";
    result = watchRows(rows, true);
    EXPECT_EQ(result.rows[1], Status::Skipped);
    EXPECT_EQ(*global<int>("counter"), 7);
}

TEST_F(WatchRowsTest, AWildOffsetFaultsAndStopsTheRemainingRows) {
    // 2^41 bytes past the script's memory: beyond every mapping.
    const std::string wild = std::to_string(uint64_t(1) << 39);
    WatchRowSet rows = {row("counter", "0", WATCH_INT, "1"),
                        row("ints", wild.c_str(), WATCH_INT, "2"), row("ints", "1", WATCH_INT, "3"),
                        row("", "0", WATCH_INT, "4")};
    WatchResult result = watchRows(rows, false);
    EXPECT_EQ(result.outcome, WatchOutcome::Fault);
    EXPECT_EQ(result.faultRow, 1);
    EXPECT_TRUE(result.faultSignal == SIGSEGV || result.faultSignal == SIGBUS)
        << result.faultSignal;
    EXPECT_EQ(result.rows, (std::array<Status, 4>{Status::Shown, Status::Faulted,
                                                  Status::NotReached, Status::NotReached}));
    EXPECT_EQ(values(rows), (std::array<std::string, 4>{"7", "2", "3", "4"}));
    EXPECT_FALSE(insideGuard());

    rows[0].value = "1";
    result = watchRows(rows, true);
    EXPECT_EQ(result.outcome, WatchOutcome::Fault);
    EXPECT_EQ(result.faultRow, 1);
    EXPECT_EQ(*global<int>("counter"), 1);
    EXPECT_EQ(global<int>("ints")[1], 22);

    // The studio goes on: the next call works as before.
    rows[1].offsetText = "2";
    EXPECT_EQ(watchRows(rows, true).outcome, WatchOutcome::Done);
    EXPECT_EQ(global<int>("ints")[2], 2);
}

TEST_F(WatchRowsTest, AWriteNeverLeavesTheScriptsMemory) {
    // An offset that lands in the studio's own memory (here this thread's
    // stack, which lies above every mapping): reading it is harmless,
    // writing it is refused as a fault and changes nothing.
    alignas(16) volatile float studio[4] = {0, 12.5f, 0, 0};
    const auto base = reinterpret_cast<uintptr_t>(global<int>("ints"));
    const auto target = reinterpret_cast<uintptr_t>(&studio[1]);
    ASSERT_GT(target, base) << "the test needs the studio's memory above the script's";
    ASSERT_EQ((target - base) % sizeof(float), 0u);
    const std::string offset = std::to_string((target - base) / sizeof(float));
    WatchRowSet rows = {row("ints", offset.c_str(), WATCH_FLOAT, "99"), row("", "0", -1),
                        row("", "0", -1), row("", "0", -1)};
    EXPECT_EQ(watchRows(rows, true).outcome, WatchOutcome::Fault);
    EXPECT_EQ(studio[1], 12.5f);
    EXPECT_EQ(watchRows(rows, false).outcome, WatchOutcome::Done);
    EXPECT_EQ(rows[0].value, "12.500000");
}

TEST_F(WatchRowsTest, OffsetsThatWouldWrapAroundAreFaultsWithoutAnyAccess) {
    // The script's words just before ints and ints itself: wrapped, these
    // offsets would land there.
    const unsigned char* around = reinterpret_cast<unsigned char*>(global<int>("ints")) - 16;
    std::vector<unsigned char> before(around, around + 28);
    for (const char* offset :
         {"18446744073709551615", "4611686018427387904", "99999999999999999999999", "-1"}) {
        WatchRowSet rows = {row("ints", offset, WATCH_INT, "5"),
                            row("counter", "0", WATCH_INT, "6")};
        const WatchResult result = watchRows(rows, true);
        EXPECT_EQ(result.outcome, WatchOutcome::Fault) << offset;
        EXPECT_EQ(result.faultSignal, 0) << offset;
        EXPECT_EQ(result.rows[1], Status::NotReached) << offset;
        EXPECT_EQ(std::vector<unsigned char>(around, around + 28), before) << offset;
        EXPECT_EQ(*global<int>("counter"), 7);
    }
}

TEST(WatchOffsets, AreUnsignedCountsAndAddressesNeverWrap) {
    uint64_t offset = 99;
    EXPECT_TRUE(parseWatchOffset("", offset));
    EXPECT_EQ(offset, 0u);
    EXPECT_TRUE(parseWatchOffset("  +12abc", offset));
    EXPECT_EQ(offset, 12u);
    EXPECT_TRUE(parseWatchOffset("-0", offset));
    EXPECT_EQ(offset, 0u);
    EXPECT_TRUE(parseWatchOffset("18446744073709551615", offset));
    EXPECT_EQ(offset, UINT64_MAX);
    EXPECT_FALSE(parseWatchOffset("18446744073709551616", offset));
    EXPECT_FALSE(parseWatchOffset("-3", offset));

    uintptr_t address = 0;
    EXPECT_TRUE(watchElementAddress(0x1000, 3, 4, address));
    EXPECT_EQ(address, 0x100Cu);
    EXPECT_FALSE(watchElementAddress(0x1000, UINT64_MAX / 4 + 1, 4, address));
    EXPECT_FALSE(watchElementAddress(UINTPTR_MAX - 7, 1, 8, address));
    // The last byte of the element must exist as well.
    EXPECT_FALSE(watchElementAddress(UINTPTR_MAX - 5, 0, 8, address));
    EXPECT_TRUE(watchElementAddress(UINTPTR_MAX - 7, 0, 8, address));
}

TEST(WatchFormat, GcvtFifteenDigits) {
    EXPECT_EQ(formatGcvt15(42.0), "42.");
    EXPECT_EQ(formatGcvt15(-314150.0), "-314150.");
    EXPECT_EQ(formatGcvt15(0.0), "0.");
    EXPECT_EQ(formatGcvt15(2.5), "2.5");
    EXPECT_EQ(formatGcvt15(0.1), "0.1");
    EXPECT_EQ(formatGcvt15(0.5), "0.5");
    EXPECT_EQ(formatGcvt15(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(formatGcvt15(3.14159265358979323846), "3.14159265358979");
    EXPECT_EQ(formatGcvt15(-12.3456789012345678), "-12.3456789012346");
    // Below 0.1 the exponential form starts, unlike %g.
    EXPECT_EQ(formatGcvt15(0.05), "5.e-002");
    EXPECT_EQ(formatGcvt15(-0.0123), "-1.23e-002");
    EXPECT_EQ(formatGcvt15(1e-300), "1.e-300");
    // Fifteen integer digits still fit in fixed form, without a point.
    EXPECT_EQ(formatGcvt15(123456789012345.0), "123456789012345");
    EXPECT_EQ(formatGcvt15(12345678901234.5), "12345678901234.5");
    EXPECT_EQ(formatGcvt15(1234567890123456.0), "1.23456789012346e+015");
    EXPECT_EQ(formatGcvt15(1e20), "1.e+020");
    EXPECT_EQ(formatGcvt15(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(formatGcvt15(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(formatGcvt15(std::nan("")), "nan");
}

// A desktop locale with a decimal comma changes neither what is shown nor
// what is stored.
TEST_F(WatchRowsTest, NumbersIgnoreTheDesktopLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE.utf8"))
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    WatchRowSet rows = {row("floats", "0", WATCH_FLOAT, "2.75"),
                        row("real", "0", WATCH_DOUBLE, "1.5e3")};
    const WatchResult written = watchRows(rows, true);
    watchRows(rows, false);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(written.outcome, WatchOutcome::Done);
    EXPECT_EQ(global<float>("floats")[0], 2.75f);
    EXPECT_EQ(values(rows)[0], "2.750000");
    EXPECT_EQ(values(rows)[1], "1500.");
}

} // namespace
} // namespace vortigo
