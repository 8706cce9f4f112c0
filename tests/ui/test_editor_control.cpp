// The editor never changes a text behind the user's back: bytes and line
// endings survive showing and storing, nothing beyond a buffer is taken
// silently, the debug output stays on its own page, function keys stay
// with modal dialogs, and the Trace window cannot be closed away.
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "persist/TextFile.h"
#include "resources/Resources.h"
#include "script/ScriptFixture.h"
#include "ui/EditorControl.h"
#include "ui/EditorState.h"
#include "ui/FindDialog.h"
#include "ui/KeyRouter.h"
#include "ui/MainWindow.h"
#include "ui/QtPlatform.h"
#include "ui/TraceWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

namespace vortigo {
namespace {

class EditorControlTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        m_window->showCurrentText();
    }
    void TearDown() override {
        m_window.reset();
        test::ScriptFixture::TearDown();
    }
    EditorControl* editor() const { return m_window->editor(); }
    void paste(const QString& text) {
        QApplication::clipboard()->setText(text);
        m_window->onCommand(CMD_PASTE);
    }
    // Every text shown, switched away from and back, and stored again.
    void roundTrip() {
        for (int command : {CMD_SHOW_SCRIPT, CMD_SHOW_VERTEX, CMD_SHOW_FRAGMENT, CMD_SHOW_DEBUG,
                            CMD_SHOW_SCRIPT, CMD_SHOW_FRAGMENT})
            m_window->onCommand(command);
        m_window->storeShownText();
    }

    std::unique_ptr<MainWindow> m_window;
};

TEST_F(EditorControlTest, LatinOneBytesAndMixedLineEndsComeBackByteForByte) {
    ProjectFiles& files = projectFiles();
    // 0xB0 and 0xE9 are not UTF-8; CR LF, a lone CR and LF in one text.
    const std::string shader =
        "// 90\xB0 caf\xE9\r\nvoid main()\r{\n\tgl_FragColor = vec4(1.0);\r\n}";
    const std::string script = "\xEF\xBB\xBF// caf\xC3\xA9\xC2\xA0ok\n"; // UTF-8 with BOM and nbsp
    std::strcpy(files.layers[0].fragmentText.get(), shader.c_str());
    std::strcpy(files.scriptText.get(), script.c_str());
    m_window->showCurrentText();
    EXPECT_TRUE(
        editor()->toPlainText().startsWith(QString::fromUtf8("// 90\xC2\xB0 caf\xC3\xA9\n")));
    roundTrip();
    EXPECT_EQ(std::string(files.layers[0].fragmentText.get()), shader);
    EXPECT_EQ(std::string(files.scriptText.get()), script);
    EXPECT_EQ(files.layers[0].fragmentDirty, 0);

    // Saved as stored.
    const std::string path = m_dir.path() + "/latin1.frag";
    ASSERT_TRUE(saveText(WindowId::Main, path, files.layers[0].fragmentText.get()));
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), shader);

    // An edit changes only what was edited: the new line gets the text's
    // commonest ending, a typed e-acute its Latin-1 byte, a euro sign its
    // UTF-8 bytes.
    QTextCursor cursor(editor()->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromUtf8("\n\xC3\xA9\xE2\x82\xAC"));
    m_window->storeShownText();
    EXPECT_EQ(std::string(files.layers[0].fragmentText.get()), shader + "\r\n\xE9\xE2\x82\xAC");
}

TEST_F(EditorControlTest, APasteBeyondTheBufferIsCutWithAMessageAndTypingStopsAtTheLimit) {
    ProjectFiles& files = projectFiles();
    std::strcpy(files.layers[0].fragmentText.get(), "ab\r\ncd\r\ne"); // line breaks take 2 bytes
    m_window->showCurrentText();
    QTextCursor cursor(editor()->document());
    cursor.setPosition(3); // start of "cd"
    editor()->setTextCursor(cursor);
    QString big;
    for (int i = 0; i < 7000; ++i)
        big += QStringLiteral("123456789\n"); // 70,000 characters
    paste(big);

    ASSERT_EQ(boxTexts().size(), 1u);
    EXPECT_EQ(boxTexts()[0], TEXT_TOO_LONG);
    EXPECT_EQ(editor()->storedSize(), TEXT_LIMIT - 1); // a whole CR LF did not fit
    m_window->storeShownText();
    const std::string stored = files.layers[0].fragmentText.get();
    EXPECT_EQ(stored.size(), TEXT_LIMIT - 1);
    EXPECT_EQ(stored.substr(0, 14), "ab\r\n123456789\r");
    EXPECT_EQ(stored.substr(stored.size() - 6), "9cd\r\ne");

    QKeyEvent first(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(editor(), &first);
    EXPECT_EQ(editor()->storedSize(), TEXT_LIMIT);
    QKeyEvent second(QEvent::KeyPress, Qt::Key_Y, Qt::NoModifier, QStringLiteral("y"));
    QApplication::sendEvent(editor(), &second);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(editor(), &enter);
    EXPECT_EQ(editor()->storedSize(), TEXT_LIMIT);
    EXPECT_EQ(boxTexts().size(), 1u);
}

TEST_F(EditorControlTest, FindNextCountsTheTextsOwnBytes) {
    ProjectFiles& files = projectFiles();
    EditorState& view = editorState();
    std::strcpy(files.layers[0].fragmentText.get(), "caf\xE9\r\nx caf\xE9 y\r\ncaf\xE9");
    m_window->showCurrentText();
    std::strcpy(view.findText, "caf\xC3\xA9"); // the Find dialog stores UTF-8
    m_window->findNext();
    EXPECT_EQ(editor()->textCursor().selectionStart(), 7);
    EXPECT_EQ(editor()->textCursor().selectedText(), QString::fromUtf8("caf\xC3\xA9"));
    m_window->findNext();
    EXPECT_EQ(editor()->textCursor().selectionStart(), 14);
}

TEST_F(EditorControlTest, QueuedDebugOutputNeverLandsInAnotherText) {
    ProjectFiles& files = projectFiles();
    EditorState& view = editorState();
    QtPlatform qt;
    qt.registerEditor(editor());
    setPlatform(&qt);
    const std::string fragment = files.layers[0].fragmentText.get();
    const std::string vertex = files.layers[0].vertexText.get();
    const std::string script = files.scriptText.get();
    files.layers[0].fragmentDirty = files.layers[0].vertexDirty = files.scriptDirty = 0;

    // A post-processing thread refreshing the debug page after every frame,
    // while the user switches pages.
    std::atomic<bool> flying{true};
    std::thread post([&] {
        for (int frame = 0; flying; ++frame) {
            if (view.currentKind == KIND_DEBUG) qt.setEditorText("frame " + std::to_string(frame));
            std::this_thread::yield();
        }
    });
    const int commands[] = {CMD_SHOW_DEBUG,  CMD_SHOW_FRAGMENT, CMD_SHOW_DEBUG,
                            CMD_SHOW_VERTEX, CMD_SHOW_DEBUG,    CMD_SHOW_SCRIPT};
    for (int i = 0; i < 600; ++i) {
        m_window->onCommand(commands[i % 6]);
        if (i % 6 == 0) qt.setEditorText("queued just before a switch");
        QApplication::processEvents();
    }
    flying = false;
    post.join();
    QApplication::processEvents();
    m_window->onCommand(CMD_SHOW_DEBUG);
    setPlatform(&m_platform);

    EXPECT_EQ(files.layers[0].fragmentText.get(), fragment);
    EXPECT_EQ(files.layers[0].vertexText.get(), vertex);
    EXPECT_EQ(files.scriptText.get(), script);
    EXPECT_EQ(
        std::tuple(files.layers[0].fragmentDirty, files.layers[0].vertexDirty, files.scriptDirty),
        std::tuple(0, 0, 0));
}

TEST_F(EditorControlTest, FunctionKeysInsideAModalDialogAreTheDialogsOwn) {
    KeyRouter router(m_window.get());
    qApp->installEventFilter(&router);
    int extraDialogs = 0;
    bool compiledInside = false;
    QWidget* first = nullptr;
    // A second modal dialog opened by a routed key would block: close it.
    QTimer watchdog;
    watchdog.setInterval(20);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (first && modal && modal != first) {
            ++extraDialogs;
            qobject_cast<QDialog*>(modal)->reject();
        }
    });
    watchdog.start();
    QTimer::singleShot(0, [&] {
        first = QApplication::activeModalWidget();
        ASSERT_NE(dynamic_cast<FindDialog*>(first), nullptr);
        QWidget* field = dynamic_cast<FindDialog*>(first)->textField();
        for (Qt::Key key : {Qt::Key_F3, Qt::Key_F5, Qt::Key_F4}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(field, &press);
        }
        QApplication::processEvents();
        compiledInside = runState().compileRequest;
        qobject_cast<QDialog*>(first)->reject();
    });
    m_window->onCommand(CMD_FIND);
    watchdog.stop();
    EXPECT_EQ(extraDialogs, 0);
    EXPECT_FALSE(compiledInside);

    // Outside a modal dialog F5 still runs.
    QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
    QApplication::sendEvent(editor(), &f5);
    EXPECT_TRUE(runState().compileRequest);
    qApp->removeEventFilter(&router);
}

TEST_F(EditorControlTest, TheTraceWindowSurvivesACloseAndReplayCommandsBringItBack) {
    CameraFlight& camera = cameraFlight();
    TraceWindow trace;
    m_window->setTraceWindow(&trace);
    trace.show();
    EXPECT_FALSE(trace.close());
    EXPECT_TRUE(trace.isVisible());

    trace.hide();
    m_window->onCommand(CMD_REPLAY_FORWARD);
    EXPECT_TRUE(trace.isVisible());
    EXPECT_EQ(camera.flightMode, FLIGHT_STEP_FORWARD);
    // Marking the recording stops nothing.
    for (int id : {CMD_MARK_END, CMD_REWIND, CMD_MARK_BEGINNING, CMD_SMOOTH})
        m_window->onCommand(id);
    EXPECT_EQ(camera.flightMode, FLIGHT_STEP_FORWARD);

    // The check mark follows recording however it was switched (T, a
    // project, the reset).
    QAction* record = nullptr;
    for (QAction* a : m_window->findChildren<QAction*>())
        if (a->data().toInt() == CMD_RECORD_DATA) record = a;
    ASSERT_NE(record, nullptr);
    camera.timeRunning = 1;
    QMenu* replay = nullptr;
    for (QMenu* menu : m_window->findChildren<QMenu*>())
        if (menu->actions().contains(record)) replay = menu;
    ASSERT_NE(replay, nullptr);
    emit replay->aboutToShow();
    EXPECT_TRUE(record->isChecked());
    camera.timeRunning = 0;
    emit replay->aboutToShow();
    EXPECT_FALSE(record->isChecked());
    m_window->setTraceWindow(nullptr);
}

} // namespace
} // namespace vortigo
