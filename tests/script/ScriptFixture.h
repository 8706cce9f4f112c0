// A loaded project state, the shipped script header beside a temporary
// program folder, and the headless platform recording every message.
#pragma once

#include "TempDir.h"
#include "core/ProjectTypes.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"
#include "script/ScriptHost.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace vortigo::test {

class ScriptFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        copyDefaultTexts(m_dir);
        setProgramDirectory(m_dir.path());
        ASSERT_TRUE(initialiseProjectState());
        m_platform.clearRecords();
    }
    void TearDown() override { shutDownScript(); }

    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : m_platform.messageBoxes())
            texts.push_back(box.text);
        return texts;
    }
    std::vector<WindowMessage> posted(int type) const {
        std::vector<WindowMessage> result;
        for (const auto& m : m_platform.postedMessages())
            if (m.type == type) result.push_back(m);
        return result;
    }

    HeadlessPlatform m_platform;
    ScopedPlatform m_installed{&m_platform};
    TempDir m_dir;
};

} // namespace vortigo::test
