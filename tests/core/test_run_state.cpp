// The run state's moves: a move from another thread that comes late, and a
// move the table does not list.
#include "core/RunState.h"

#include <gtest/gtest.h>

namespace vortigo {
namespace {

// The render thread parks, fails or asks for the advance while the exit
// path has already told it to end: none of that may make it run again.
TEST(RunState, ALateMoveNeverUndoesTheShutdown) {
    RunState run;
    run.moveTo(RunPhase::Drawing);
    run.moveTo(RunPhase::ShuttingDown);
    run.park();
    run.holdAfterFailure();
    run.awaitAdvance();
    run.advanceDeclined();
    run.release();
    EXPECT_EQ(run.phase(), RunPhase::ShuttingDown);
    EXPECT_FALSE(run.running());
    EXPECT_FALSE(run.held());
}

TEST(RunStateDeathTest, AMoveNotInTheTableAbortsNamingBothPhases) {
#ifdef NDEBUG
    GTEST_SKIP() << "checked in debug builds only";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RunState run;
    EXPECT_DEATH(run.moveTo(RunPhase::AwaitingAdvance), "from Stopped to AwaitingAdvance");
    run.moveTo(RunPhase::ShuttingDown);
    EXPECT_DEATH(run.moveTo(RunPhase::Drawing), "from ShuttingDown to Drawing");
#endif
}

} // namespace
} // namespace vortigo
