// The Watch dialog driven through its controls, with a real compiled script
// and the dialog's message boxes recorded instead of shown.
#include "ResetProjectState.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/ViewFlags.h"
#include "script/ScriptFixture.h"
#include "ui/EditorState.h"
#include "ui/WatchDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <thread>

namespace vortigo {
namespace {

constexpr const char* SCRIPT = R"(
int counter = 7;
float floats[4] = {0.5f, 1.5f, 2.25f, 3.0f};
int ints[2] = {11, 22};
)";

struct Box {
    QString text, caption;
    bool operator==(const Box&) const = default;
};

// Counts the queued calls delivered to the application object.
class MetaCallCounter : public QObject {
  public:
    int calls = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::MetaCall) ++calls;
        return false;
    }
};

class WatchDialogTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        ASSERT_TRUE(compileScript(SCRIPT));
        runState().scriptReady.set();
        m_owner = new QWidget;
        m_dialog = openWatchDialog(m_owner);
        ASSERT_NE(m_dialog, nullptr);
        m_dialog->setMessageSink([this](const QString& text, const QString& caption) {
            m_boxes.push_back({text, caption});
        });
    }
    void TearDown() override {
        delete m_owner; // takes the dialog with it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runState().scriptReady.clear();
        test::ScriptFixture::TearDown();
    }

    const WatchDialog::Controls& controls() const { return m_dialog->controls(); }

    // Fills row r the way a user would.
    void fillRow(int r, const char* name, int type, const char* offset = "0",
                 const char* value = nullptr) {
        controls().names[r]->setText(QString::fromLatin1(name));
        controls().offsets[r]->setText(QString::fromLatin1(offset));
        controls().types[r]->setCurrentIndex(type);
        if (value) controls().values[r]->setText(QString::fromLatin1(value));
    }
    QString shown(int r) const { return controls().values[r]->text(); }
    int* global(const char* name) const { return static_cast<int*>(findGlobal(name)); }

    QWidget* m_owner = nullptr;
    QPointer<WatchDialog> m_dialog;
    std::vector<Box> m_boxes;
};

TEST_F(WatchDialogTest, OpensOnceWithItsControls) {
    EXPECT_EQ(m_dialog->windowTitle(), "Watch Animation Script Globals");
    EXPECT_FALSE(m_dialog->isModal());
    EXPECT_EQ(m_dialog->parentWidget(), m_owner);
    EXPECT_TRUE(viewFlags().watchOpen);
    EXPECT_EQ(openWatchDialog(m_owner), nullptr);
    EXPECT_EQ(watchDialog(), m_dialog);

    for (int r = 0; r < WATCH_ROW_COUNT; ++r) {
        ASSERT_TRUE(controls().names[r] && controls().values[r] && controls().types[r]);
        EXPECT_EQ(controls().offsets[r]->text(), "0");
        QComboBox* type = controls().types[r];
        EXPECT_EQ(type->currentIndex(), -1);
        ASSERT_EQ(type->count(), WATCH_TYPE_COUNT);
        EXPECT_EQ(type->itemText(0), "void *");
        EXPECT_EQ(type->itemText(WATCH_BYTE), "byte");
    }
    auto* watch = controls().watch;
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(watch->text(), "Watch");
    EXPECT_TRUE(watch->property("default").toBool());
    EXPECT_EQ(controls().set->text(), "Set");
}

TEST_F(WatchDialogTest, EveryWayOfClosingClearsWatchOpenAndFreesTheDialog) {
    controls().close->click();
    EXPECT_FALSE(viewFlags().watchOpen);
    EXPECT_EQ(watchDialog(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_dialog.isNull());

    m_dialog = openWatchDialog(m_owner);
    ASSERT_NE(m_dialog, nullptr);
    m_dialog->close(); // the title bar's close box
    EXPECT_FALSE(viewFlags().watchOpen);

    m_dialog = openWatchDialog(m_owner);
    ASSERT_NE(m_dialog, nullptr);
    m_dialog->reject(); // Escape
    EXPECT_FALSE(viewFlags().watchOpen);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_dialog.isNull());

    m_dialog = openWatchDialog(m_owner);
    ASSERT_NE(m_dialog, nullptr);
    delete m_owner; // the main window goes first
    m_owner = nullptr;
    EXPECT_TRUE(m_dialog.isNull());
    EXPECT_FALSE(viewFlags().watchOpen);
    EXPECT_EQ(watchDialog(), nullptr);
}

TEST_F(WatchDialogTest, ButtonsNeedACompiledScript) {
    runState().scriptReady.clear();
    fillRow(0, "counter", WATCH_INT, "0", "42");
    controls().watch->click();
    controls().set->click();
    const Box compileFirst{"You need to compile first.", "Watch Error"};
    EXPECT_EQ(m_boxes, (std::vector<Box>{compileFirst, compileFirst}));
    EXPECT_EQ(shown(0), "42");
    EXPECT_EQ(*global("counter"), 7);
}

TEST_F(WatchDialogTest, WatchShowsSetStoresAndUnknownNamesAreReportedPerRow) {
    fillRow(0, "counter", WATCH_INT);
    fillRow(1, "floats", WATCH_FLOAT, "2");
    fillRow(2, "nosuch", WATCH_INT, "0", "1");
    fillRow(3, "missing", WATCH_BYTE, "0", "2");
    controls().watch->click();
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(shown(0), "7");
    EXPECT_EQ(shown(1), "2.250000");
    EXPECT_EQ(shown(2), "unknown");
    EXPECT_EQ(shown(3), "unknown");

    controls().values[0]->setText("42");
    controls().values[1]->setText(""); // stores nothing
    controls().set->click();
    EXPECT_EQ(*global("counter"), 42);
    EXPECT_EQ(static_cast<float*>(findGlobal("floats"))[2], 2.25f);
    const Box unknown{"Unknown identifier.", "Error setting value."};
    EXPECT_EQ(m_boxes, (std::vector<Box>{unknown, unknown}));
}

TEST_F(WatchDialogTest, AFaultIsReportedOnceAndPausesThePerFrameRefresh) {
    fillRow(0, "counter", WATCH_INT);
    fillRow(1, "ints", WATCH_INT, "549755813888"); // 2^41 bytes away
    fillRow(2, "ints", WATCH_INT, "0", "old");
    controls().watch->click();
    EXPECT_EQ(m_boxes, (std::vector<Box>{{"Watch caused an exception.", "Watch Error"}}));
    EXPECT_EQ(shown(0), "7");
    EXPECT_EQ(shown(2), "old");

    *global("counter") = 8;
    m_dialog->refresh();
    EXPECT_EQ(shown(0), "7");
    EXPECT_EQ(m_boxes.size(), 1u);

    controls().offsets[1]->setText("1");
    controls().watch->click();
    *global("counter") = 9;
    m_dialog->refresh();
    EXPECT_EQ(shown(0), "9");
    EXPECT_EQ(shown(2), "11");
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(WatchDialogTest, RefreshKeepsAValueTheUserIsTyping) {
    fillRow(0, "counter", WATCH_INT);
    fillRow(1, "ints", WATCH_INT);
    controls().watch->click();
    QLineEdit* typing = controls().values[0];
    typing->selectAll();
    typing->insert("100");
    ASSERT_TRUE(typing->isModified());
    global("ints")[0] = 12;
    m_dialog->refresh();
    EXPECT_EQ(shown(0), "100");
    EXPECT_EQ(shown(1), "12");

    controls().set->click();
    EXPECT_EQ(*global("counter"), 100);
    *global("counter") = 101;
    m_dialog->refresh();
    EXPECT_EQ(shown(0), "101");
}

TEST_F(WatchDialogTest, FramesFromThePostThreadQueueOneRefreshAtATime) {
    fillRow(0, "counter", WATCH_INT);
    MetaCallCounter counter;
    qApp->installEventFilter(&counter);
    *global("counter") = 30;
    std::thread post([] {
        for (int frame = 0; frame < 50; ++frame)
            if (runState().scriptReady && viewFlags().watchOpen) refreshWatch();
    });
    post.join();
    EXPECT_EQ(shown(0), ""); // nothing touched the widgets off their thread
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(shown(0), "30");

    // Once that refresh has run, the next frame queues another.
    *global("counter") = 31;
    refreshWatch();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(counter.calls, 2);
    EXPECT_EQ(shown(0), "31");

    // A closed dialog takes its hook along.
    controls().close->click();
    refreshWatch();
    QCoreApplication::sendPostedEvents(qApp, QEvent::MetaCall);
    EXPECT_EQ(counter.calls, 2);
    qApp->removeEventFilter(&counter);
}

TEST_F(WatchDialogTest, AQueuedRefreshOutlivingTheDialogDoesNothing) {
    fillRow(0, "counter", WATCH_INT);
    refreshWatch();
    delete m_owner;
    m_owner = nullptr;
    QCoreApplication::sendPostedEvents(); // must not reach the deleted dialog
    EXPECT_TRUE(m_dialog.isNull());
    // The pending flag was released: a new dialog gets its refreshes.
    m_dialog = openWatchDialog(nullptr);
    ASSERT_NE(m_dialog, nullptr);
    m_owner = m_dialog; // so TearDown frees it
    fillRow(0, "counter", WATCH_INT);
    refreshWatch();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(shown(0), "7");
}

} // namespace
} // namespace vortigo

int main(int argc, char** argv) {
    // Discovery runs the binary without the tests' environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings of the person running the tests must not change their results.
    qputenv("XDG_CONFIG_HOME", "/nonexistent-vortigo-test-config");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // Fixtures install their own recording platform; this one catches the rest.
    static vortigo::HeadlessPlatform headless;
    vortigo::setPlatform(&headless);
    vortigo::test::startEachTestFresh([] { vortigo::test::rebuild(vortigo::editorState()); });
    return RUN_ALL_TESTS();
}
