// The Sliders dialog driven by control identifier: the scroll mapping, the
// requests a scroll bar sends, Insert, and one dialog at a time.
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "resources/Resources.h"
#include "script/ScriptFixture.h"
#include "ui/EditorState.h"
#include "ui/EditorText.h"
#include "ui/MainWindow.h"
#include "ui/SlidersDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <memory>

namespace vortigo {
namespace {

class SlidersDialogTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        m_window = std::make_unique<MainWindow>();
    }
    void TearDown() override {
        m_window.reset(); // takes the dialog with it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        test::ScriptFixture::TearDown();
    }
    SlidersDialog* open() {
        m_dialog = openSlidersDialog(m_window.get());
        return m_dialog;
    }
    QScrollBar* bar(int k) const { return m_dialog->controls().bars[row(k)]; }
    QLineEdit* valueBox(int k) const { return m_dialog->controls().values[row(k)]; }
    QString box(int k) const { return valueBox(k)->text(); }
    static size_t row(int k) { return static_cast<size_t>(k - SLIDER_FIRST); }

    std::unique_ptr<MainWindow> m_window;
    QPointer<SlidersDialog> m_dialog;
};

TEST_F(SlidersDialogTest, ValuesShowAtTheTruncatedPositionClampedByTheBar) {
    CameraFlight& camera = cameraFlight();
    camera.udef[7] = 0.005f;
    camera.udef[8] = 1.5f;
    camera.udef[15] = -0.5f;
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(bar(7)->value(), 100);
    EXPECT_EQ(sliderPositionOf(1.5f), 250);
    EXPECT_EQ(bar(8)->value(), 200);
    EXPECT_EQ(box(8), "1.5000");
    EXPECT_EQ(bar(15)->value(), 50);
    EXPECT_EQ(sliderPositionOf(-1.505f), -50); // toward zero, not down
    EXPECT_TRUE(valueBox(4)->isReadOnly());
}

TEST_F(SlidersDialogTest, LineRequestsStopAtTheEndsAndPagesChangeNothing) {
    CameraFlight& camera = cameraFlight();
    camera.udef[4] = 1.0f;
    camera.udef[5] = -1.0f;
    camera.udef[6] = 0.0f;
    open();
    m_dialog->scroll(4, ScrollRequest::LineRight);
    EXPECT_EQ(std::tuple(bar(4)->value(), camera.udef[4]), std::tuple(200, 1.0f));
    m_dialog->scroll(5, ScrollRequest::LineLeft);
    EXPECT_EQ(std::tuple(bar(5)->value(), camera.udef[5]), std::tuple(0, -1.0f));
    EXPECT_EQ(posted(MSG_ADVANCE).size(), 2u);

    // The bar's own arrows and page clicks, as the user gives them.
    bar(6)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(bar(6)->value(), 101);
    EXPECT_FLOAT_EQ(camera.udef[6], 0.01f);
    EXPECT_EQ(box(6), "0.0100");
    bar(6)->triggerAction(QAbstractSlider::SliderPageStepAdd);
    bar(6)->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(bar(6)->value(), 101);
    EXPECT_FLOAT_EQ(camera.udef[6], 0.01f);
    EXPECT_EQ(posted(MSG_ADVANCE).size(), 3u);
}

TEST_F(SlidersDialogTest, DraggingTheThumbSetsTheValueAsItMoves) {
    CameraFlight& camera = cameraFlight();
    camera.udef[10] = 0.0f;
    open();
    bar(10)->setSliderDown(true);
    bar(10)->setSliderPosition(150);
    EXPECT_FLOAT_EQ(camera.udef[10], 0.5f);
    EXPECT_EQ(box(10), "0.5000");
    bar(10)->setSliderPosition(3);
    bar(10)->setSliderDown(false);
    EXPECT_FLOAT_EQ(camera.udef[10], -0.97f);
    EXPECT_EQ(bar(10)->value(), 3);
}

TEST_F(SlidersDialogTest, InsertAsksThenReplacesOnlyTheFirstNameOfEachAndCloses) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    EditorState& editor = editorState();
    std::strcpy(files.scriptText.get(), "a = udef[4]; b = udef[4]; c = udef[15]; d = udef[14];\n");
    camera.udef[4] = 0.25f;
    camera.udef[15] = -1.0f;
    camera.udef[14] = 0.125f;
    m_window->onCommand(CMD_SHOW_SCRIPT);
    files.scriptDirty = 0;

    m_platform.setAnswer(MsgAnswer::No);
    open();
    EXPECT_EQ(openSlidersDialog(m_window.get()), nullptr); // one at a time
    m_dialog->insert();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_dialog.isNull());
    EXPECT_EQ(editor.slidersOpen, 0);
    EXPECT_EQ(std::string(files.scriptText.get()).substr(0, 11), "a = udef[4]");

    m_platform.setAnswer(MsgAnswer::Yes);
    ASSERT_NE(open(), nullptr);
    m_dialog->insert();
    ASSERT_EQ(boxTexts().size(), 2u);
    EXPECT_EQ(boxTexts()[1], "Are you sure you want to insert slider values as text?");
    EXPECT_EQ(m_platform.messageBoxes()[1].caption, "Insert Confirmation");
    const char* expected = "a = 0.2500; b = udef[4]; c = -1.0000; d = 0.1250;\n";
    EXPECT_EQ(m_window->editor()->toPlainText().toStdString(), expected);
    m_window->storeShownText();
    EXPECT_STREQ(files.scriptText.get(), expected);
    EXPECT_EQ(files.scriptDirty, 1);
}

TEST(InsertSliderValues, NeverGrowsATextPastTheBuffer) {
    CameraFlight& camera = cameraFlight();
    GuardedFloats saved = std::move(camera.udef);
    camera.udef = GuardedFloats::allocate(MIN_UDEF);
    camera.udef[4] = 123.5f; // "123.5000" is one character longer than "udef[4]"
    camera.udef[5] = 0.5f;   // "0.5000" is shorter than "udef[5]"
    std::string text = "udef[5] udef[4]";
    text += std::string(TEXT_LIMIT - text.size(), 'x');
    const std::string before = text;
    EXPECT_TRUE(insertSliderValues(text));
    EXPECT_EQ(text, "0.5000 udef[4]" + before.substr(15));
    // With the byte the shorter value freed the longer one fits.
    EXPECT_TRUE(insertSliderValues(text));
    EXPECT_EQ(text.substr(0, 15), "0.5000 123.5000");
    EXPECT_EQ(text.size(), TEXT_LIMIT);

    std::string full = "udef[4]" + std::string(TEXT_LIMIT - 7, 'y');
    EXPECT_FALSE(insertSliderValues(full));
    EXPECT_EQ(full.substr(0, 7), "udef[4]");
    camera.udef = std::move(saved);
}

} // namespace
} // namespace vortigo
