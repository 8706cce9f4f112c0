// The Shader Parameters panel: one control per declared parameter, grouped
// by layer; moving one sets the value and asks for a frame at once; Reset
// and Reset All; compiles and script changes show without reopening.
#include "core/ShaderParams.h"
#include "resources/Resources.h"
#include "script/ScriptFixture.h"
#include "ui/MainWindow.h"
#include "ui/ShaderParamsPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <memory>

namespace vortigo {
namespace {

class ShaderParamsPanelTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        m_window = std::make_unique<MainWindow>();
        const LayerParamScan layer0 =
            scanLayerParams("", "uniform float gain; // @param 0 2 1 \"Gain\"\n"
                                "uniform bool on; // @param true \"Lit\"\n"
                                "uniform vec2 shift; // @param -1 1 0,0.5\n"
                                "uniform vec3 tint; // @param colour 0,0,1 \"Tint\"\n");
        const LayerParamScan layer2 =
            scanLayerParams("", "uniform int gain; // @param 0 10 3 \"Gain\"\n");
        shaderParams().declare(0, layer0.params);
        shaderParams().declare(2, layer2.params);
        const float kept = 3.0f;
        shaderParams().store(0, "gone", &kept, 1); // named by the project, declared by no shader
    }
    void TearDown() override {
        m_window.reset(); // takes the panel with it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        test::ScriptFixture::TearDown();
    }
    float value(int layer, const char* name, int component = 0) const {
        ParamValues v{};
        return shaderParams().get(layer, name, v) > component ? v[static_cast<size_t>(component)]
                                                              : -99.0f;
    }
    size_t advances() const {
        size_t n = 0;
        for (const WindowMessage& m : posted(MSG_ADVANCE))
            n += m.target == WindowId::Trace;
        return n;
    }

    std::unique_ptr<MainWindow> m_window;
};

TEST_F(ShaderParamsPanelTest, MovingAControlSetsTheValueAndRedrawsAndResetGoesBack) {
    EXPECT_TRUE(m_window->findChildren<QDialog*>().isEmpty());
    m_window->onFunctionKey(113); // F2
    ASSERT_EQ(m_window->findChildren<QDialog*>().size(), 1);
    ShaderParamsPanel* panel = openShaderParamsPanel(m_window.get()); // the open one
    ASSERT_EQ(m_window->findChildren<QDialog*>().size(), 1);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->isModal());
    QStringList groups;
    for (const QGroupBox* group : panel->findChildren<QGroupBox*>())
        groups << group->title();
    EXPECT_EQ(groups, (QStringList{"Layer 1", "Layer 3"}));
    QStringList labels;
    for (const QLabel* label : panel->findChildren<QLabel*>())
        labels << label->text();
    EXPECT_TRUE(labels.contains("Lit"));
    EXPECT_TRUE(labels.contains("shift")); // no label: the name
    EXPECT_FALSE(labels.contains("gone"));

    // The two layers' "gain" are separate controls.
    QSlider* gain = panel->slider(0, "gain");
    QSlider* otherGain = panel->slider(2, "gain");
    ASSERT_NE(gain, nullptr);
    ASSERT_NE(otherGain, nullptr);
    EXPECT_EQ(gain->value(), 500);
    EXPECT_EQ(otherGain->value(), 3);
    m_platform.clearRecords();
    gain->setValue(250);
    EXPECT_FLOAT_EQ(value(0, "gain"), 0.5f);
    EXPECT_FLOAT_EQ(value(2, "gain"), 3.0f);
    EXPECT_EQ(advances(), 1u);
    otherGain->setValue(7);
    EXPECT_FLOAT_EQ(value(2, "gain"), 7.0f);
    ASSERT_NE(panel->slider(0, "shift", 1), nullptr);
    panel->slider(0, "shift", 1)->setValue(0);
    EXPECT_FLOAT_EQ(value(0, "shift", 1), -1.0f);
    panel->checkBox(0, "on")->setChecked(false);
    EXPECT_FLOAT_EQ(value(0, "on"), 0.0f);
    EXPECT_EQ(advances(), 4u);
    ASSERT_NE(panel->colourButton(0, "tint"), nullptr);

    panel->resetButton(0, "gain")->click();
    EXPECT_FLOAT_EQ(value(0, "gain"), 1.0f);
    EXPECT_EQ(gain->value(), 500);
    EXPECT_FLOAT_EQ(value(2, "gain"), 7.0f);
    panel->resetAllButton()->click();
    EXPECT_FLOAT_EQ(value(2, "gain"), 3.0f);
    EXPECT_FLOAT_EQ(value(0, "on"), 1.0f);
    EXPECT_TRUE(panel->checkBox(0, "on")->isChecked());

    // A value the script sets shows; a compile that drops a parameter
    // takes its control away.
    const float two = 2.0f;
    shaderParams().set(0, "gain", &two, 1);
    panel->refresh();
    EXPECT_EQ(panel->slider(0, "gain")->value(), 1000);
    shaderParams().declare(2, {});
    panel->refresh();
    EXPECT_EQ(panel->slider(2, "gain"), nullptr);
    ASSERT_NE(panel->slider(0, "gain"), nullptr);

    // One panel: the menu command brings the same one to the front.
    m_window->onCommand(CMD_SHADER_PARAMS);
    EXPECT_EQ(m_window->findChildren<QDialog*>().size(), 1);
}

} // namespace
} // namespace vortigo
