// Every core test runs against the headless platform installed here; a test
// that reads what was recorded installs its own for its scope (ScopedPlatform).
#include "ResetProjectState.h"
#include "platform/HeadlessPlatform.h"

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Settings of the person running the tests must not change their results.
    setenv("XDG_CONFIG_HOME", "/nonexistent-vortigo-test-config", 1);
    ::testing::InitGoogleTest(&argc, argv);
    static vortigo::HeadlessPlatform headless;
    vortigo::setPlatform(&headless);
    vortigo::test::startEachTestFresh();
    return RUN_ALL_TESTS();
}
