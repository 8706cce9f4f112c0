// The Watch dialog driven by control identifier, with a real compiled script
// and the dialog's message boxes recorded instead of shown.
#include "ResetProjectState.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "script/ScriptFixture.h"
#include "ui/WatchDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
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

    QLineEdit* edit(int id) const { return qobject_cast<QLineEdit*>(m_dialog->control(id)); }
    QComboBox* combo(int id) const { return qobject_cast<QComboBox*>(m_dialog->control(id)); }
    void click(int id) const { qobject_cast<QAbstractButton*>(m_dialog->control(id))->click(); }

    // Fills row r the way a user would.
    void fillRow(int r, const char* name, int type, const char* offset = "0",
                 const char* value = nullptr) {
        edit(IDC_WATCH_NAME[r])->setText(QString::fromLatin1(name));
        edit(IDC_WATCH_OFFSET[r])->setText(QString::fromLatin1(offset));
        combo(IDC_WATCH_TYPE[r])->setCurrentIndex(type);
        if (value) edit(IDC_WATCH_VALUE[r])->setText(QString::fromLatin1(value));
    }
    QString shown(int r) const { return edit(IDC_WATCH_VALUE[r])->text(); }
    int* global(const char* name) const { return static_cast<int*>(findGlobal(name)); }

    QWidget* m_owner = nullptr;
    QPointer<WatchDialog> m_dialog;
    std::vector<Box> m_boxes;
};

TEST_F(WatchDialogTest, OpensOnceWithItsControls) {
    EXPECT_EQ(m_dialog->windowTitle(), "Watch Animation Script Globals");
    EXPECT_FALSE(m_dialog->isModal());
    EXPECT_EQ(m_dialog->parentWidget(), m_owner);
    EXPECT_TRUE(state().watchOpen);
    EXPECT_EQ(openWatchDialog(m_owner), nullptr);
    EXPECT_EQ(watchDialog(), m_dialog);

    for (int r = 0; r < WATCH_ROW_COUNT; ++r) {
        ASSERT_TRUE(edit(IDC_WATCH_NAME[r]) && edit(IDC_WATCH_VALUE[r]) &&
                    combo(IDC_WATCH_TYPE[r]));
        EXPECT_EQ(edit(IDC_WATCH_OFFSET[r])->text(), "0");
        QComboBox* type = combo(IDC_WATCH_TYPE[r]);
        EXPECT_EQ(type->currentIndex(), -1);
        ASSERT_EQ(type->count(), WATCH_TYPE_COUNT);
        EXPECT_EQ(type->itemText(0), "void *");
        EXPECT_EQ(type->itemText(WATCH_BYTE), "byte");
    }
    auto* watch = qobject_cast<QAbstractButton*>(m_dialog->control(IDC_WATCH_BUTTON));
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(watch->text(), "Watch");
    EXPECT_TRUE(watch->property("default").toBool());
    EXPECT_EQ(qobject_cast<QAbstractButton*>(m_dialog->control(IDC_WATCH_SET))->text(), "Set");
}

TEST_F(WatchDialogTest, EveryWayOfClosingClearsWatchOpenAndFreesTheDialog) {
    click(IDC_WATCH_CLOSE);
    EXPECT_FALSE(state().watchOpen);
    EXPECT_EQ(watchDialog(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_dialog.isNull());

    m_dialog = openWatchDialog(m_owner);
    ASSERT_NE(m_dialog, nullptr);
    m_dialog->close(); // the title bar's close box
    EXPECT_FALSE(state().watchOpen);

    m_dialog = openWatchDialog(m_owner);
    ASSERT_NE(m_dialog, nullptr);
    m_dialog->reject(); // Escape
    EXPECT_FALSE(state().watchOpen);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_dialog.isNull());

    m_dialog = openWatchDialog(m_owner);
    ASSERT_NE(m_dialog, nullptr);
    delete m_owner; // the main window goes first
    m_owner = nullptr;
    EXPECT_TRUE(m_dialog.isNull());
    EXPECT_FALSE(state().watchOpen);
    EXPECT_EQ(watchDialog(), nullptr);
}

TEST_F(WatchDialogTest, ButtonsNeedACompiledScript) {
    runState().scriptReady.clear();
    fillRow(0, "counter", WATCH_INT, "0", "42");
    click(IDC_WATCH_BUTTON);
    click(IDC_WATCH_SET);
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
    click(IDC_WATCH_BUTTON);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(shown(0), "7");
    EXPECT_EQ(shown(1), "2.250000");
    EXPECT_EQ(shown(2), "unknown");
    EXPECT_EQ(shown(3), "unknown");

    edit(IDC_WATCH_VALUE[0])->setText("42");
    edit(IDC_WATCH_VALUE[1])->setText(""); // stores nothing
    click(IDC_WATCH_SET);
    EXPECT_EQ(*global("counter"), 42);
    EXPECT_EQ(static_cast<float*>(findGlobal("floats"))[2], 2.25f);
    const Box unknown{"Unknown identifier.", "Error setting value."};
    EXPECT_EQ(m_boxes, (std::vector<Box>{unknown, unknown}));
}

TEST_F(WatchDialogTest, AFaultIsReportedOnceAndPausesThePerFrameRefresh) {
    fillRow(0, "counter", WATCH_INT);
    fillRow(1, "ints", WATCH_INT, "549755813888"); // 2^41 bytes away
    fillRow(2, "ints", WATCH_INT, "0", "old");
    click(IDC_WATCH_BUTTON);
    EXPECT_EQ(m_boxes, (std::vector<Box>{{"Watch caused an exception.", "Watch Error"}}));
    EXPECT_EQ(shown(0), "7");
    EXPECT_EQ(shown(2), "old");

    *global("counter") = 8;
    m_dialog->refresh();
    EXPECT_EQ(shown(0), "7");
    EXPECT_EQ(m_boxes.size(), 1u);

    edit(IDC_WATCH_OFFSET[1])->setText("1");
    click(IDC_WATCH_BUTTON);
    *global("counter") = 9;
    m_dialog->refresh();
    EXPECT_EQ(shown(0), "9");
    EXPECT_EQ(shown(2), "11");
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(WatchDialogTest, RefreshKeepsAValueTheUserIsTyping) {
    fillRow(0, "counter", WATCH_INT);
    fillRow(1, "ints", WATCH_INT);
    click(IDC_WATCH_BUTTON);
    QLineEdit* typing = edit(IDC_WATCH_VALUE[0]);
    typing->selectAll();
    typing->insert("100");
    ASSERT_TRUE(typing->isModified());
    global("ints")[0] = 12;
    m_dialog->refresh();
    EXPECT_EQ(shown(0), "100");
    EXPECT_EQ(shown(1), "12");

    click(IDC_WATCH_SET);
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
            if (runState().scriptReady && state().watchOpen) refreshWatch();
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
    click(IDC_WATCH_CLOSE);
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
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // Fixtures install their own recording platform; this one catches the rest.
    static vortigo::HeadlessPlatform headless;
    vortigo::setPlatform(&headless);
    vortigo::test::startEachTestFresh();
    return RUN_ALL_TESTS();
}
