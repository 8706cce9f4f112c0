// Every core test runs against the headless platform installed here; a test
// that reads what was recorded installs its own for its scope (ScopedPlatform).
#include "ResetProjectState.h"
#include "platform/HeadlessPlatform.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    static vortigo::HeadlessPlatform headless;
    vortigo::setPlatform(&headless);
    vortigo::test::startEachTestFresh();
    return RUN_ALL_TESTS();
}
