// Every core test runs against the headless platform installed here; a test
// that reads what was recorded installs its own for its scope (ScopedPlatform).
// Each test starts from a freshly constructed project record, so the tests
// pass together in one process, in any order.
#include "ResetProjectState.h"
#include "platform/HeadlessPlatform.h"

#include <gtest/gtest.h>

namespace {

class FreshState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { vortigo::test::resetProcessState(); }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    static vortigo::HeadlessPlatform headless;
    vortigo::setPlatform(&headless);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshState);
    return RUN_ALL_TESTS();
}
