// The editor window's commands on Qt's offscreen platform: layers and
// kinds with their titles and scroll positions, Find, go-to-line, Delete
// Layer and what counts as an edit.
#include "core/ProjectFiles.h"
#include "platform/HeadlessPlatform.h"
#include "resources/Resources.h"
#include "script/ScriptFixture.h"
#include "ui/EditorState.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QWheelEvent>
#include <map>
#include <memory>
#include <string>

namespace vortigo {
namespace {

std::string numberedLines(const char* prefix, int count) {
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += std::string(prefix) + " line " + std::to_string(i) + "\n";
    return text;
}

class MainWindowTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        ProjectFiles& files = projectFiles();
        for (int i = 0; i < LAYER_COUNT; ++i) {
            std::strcpy(files.layers[i].fragmentText.get(), numberedLines("fragment", 200).c_str());
            std::strcpy(files.layers[i].vertexText.get(), numberedLines("vertex", 200).c_str());
        }
        m_window = std::make_unique<MainWindow>();
        m_window->resize(500, 400);
        m_window->show();
        m_window->showCurrentText();
        QApplication::processEvents();
    }
    void TearDown() override {
        m_window->hide();
        m_window.reset();
        test::ScriptFixture::TearDown();
    }

    QPlainTextEdit* editor() const { return m_window->editor(); }
    int firstLine() const { return editor()->verticalScrollBar()->value(); }
    QString title() const { return m_window->windowTitle(); }

    std::unique_ptr<MainWindow> m_window;
};

TEST_F(MainWindowTest, LayersKeepTheirKindAndWhereEachTextWasLeft) {
    ProjectFiles& files = projectFiles();
    EditorState& view = editorState();
    EXPECT_EQ(title(), "Fragment Shader Layer 1");
    editor()->verticalScrollBar()->setValue(20);
    m_window->onCommand(CMD_LAYER_2);
    EXPECT_EQ(title(), "Fragment Shader Layer 2");
    EXPECT_EQ(view.currentLayer, 1);
    EXPECT_EQ(files.layers[0].fragmentTopLine, 20);
    EXPECT_EQ(firstLine(), 0);
    m_window->onCommand(CMD_SHOW_VERTEX);
    EXPECT_EQ(title(), "Vertex Shader Layer 2");
    m_window->onCommand(CMD_SHOW_FRAGMENT);
    m_window->onCommand(CMD_LAYER_1);
    EXPECT_EQ(title(), "Fragment Shader Layer 1");
    EXPECT_EQ(firstLine(), 20);
    m_window->onCommand(CMD_SHOW_SCRIPT);
    EXPECT_EQ(title(), "Animation Script");
    m_window->onCommand(CMD_SHOW_DEBUG);
    EXPECT_EQ(title(), "Debug Output");
}

TEST_F(MainWindowTest, FindNextSelectsTheNextOccurrenceAndStopsAtTheLast) {
    ProjectFiles& files = projectFiles();
    EditorState& view = editorState();
    std::strcpy(files.layers[0].fragmentText.get(), "one two\none two\n");
    m_window->showCurrentText();
    QTextCursor cursor(editor()->document());
    cursor.setPosition(5); // inside the first "two"
    editor()->setTextCursor(cursor);
    std::strcpy(view.findText, "two");
    m_window->findNext();
    EXPECT_EQ(editor()->textCursor().selectionStart(), 12);
    EXPECT_EQ(editor()->textCursor().selectedText(), "two");
    m_window->findNext();
    EXPECT_EQ(editor()->textCursor().selectionStart(), 12);
}

TEST_F(MainWindowTest, GoToLineSwitchesTheKindAndSelectsTheLinesFirstCharacter) {
    m_window->onCommand(CMD_SHOW_SCRIPT);
    m_window->goToLine(30, KIND_VERTEX);
    EXPECT_EQ(title(), "Vertex Shader Layer 1");
    EXPECT_EQ(editor()->textCursor().block().blockNumber(), 29);
    EXPECT_EQ(editor()->textCursor().selectedText(), "v");
    EXPECT_EQ(firstLine(), 29);
    // Beyond the end: the last line. Zero: the top.
    m_window->goToLine(5000, KIND_VERTEX);
    EXPECT_EQ(editor()->textCursor().block().blockNumber(), editor()->document()->blockCount() - 1);
    m_window->goToLine(0, KIND_VERTEX);
    EXPECT_EQ(editor()->textCursor().block().blockNumber(), 0);
}

TEST_F(MainWindowTest, DeleteLayerAsksFirst) {
    ProjectFiles& files = projectFiles();
    std::strcpy(files.layers[0].vertexFile, "/x/a.vert");
    m_platform.setAnswer(MsgAnswer::No);
    m_window->onCommand(CMD_DELETE_LAYER);
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].text, "Are you sure you want to delete this layer?");
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Delete Confirmation");
    EXPECT_TRUE(files.layers[0].active());

    m_platform.setAnswer(MsgAnswer::Yes);
    m_window->onCommand(CMD_DELETE_LAYER);
    EXPECT_FALSE(files.layers[0].active());
    EXPECT_STREQ(files.layers[0].vertexFile, "");
    EXPECT_TRUE(editor()->toPlainText().isEmpty());
    EXPECT_TRUE(files.layers[1].active());
}

TEST_F(MainWindowTest, TypingMarksTheTextEditedButShowingItDoesNot) {
    ProjectFiles& files = projectFiles();
    files.layers[0].fragmentDirty = 0;
    m_window->onCommand(CMD_SHOW_VERTEX);
    m_window->onCommand(CMD_SHOW_FRAGMENT);
    EXPECT_EQ(files.layers[0].fragmentDirty, 0);
    editor()->insertPlainText("x");
    EXPECT_EQ(files.layers[0].fragmentDirty, 1);
    EXPECT_EQ(files.layers[0].vertexDirty, 0);
}

TEST_F(MainWindowTest, CrLfTextsComeBackByteForByte) {
    ProjectFiles& files = projectFiles();
    std::strcpy(files.scriptText.get(), "int a;\r\n\tint b;\r\n");
    m_window->onCommand(CMD_SHOW_SCRIPT);
    m_window->onCommand(CMD_SHOW_DEBUG); // stores the script
    EXPECT_STREQ(files.scriptText.get(), "int a;\r\n\tint b;\r\n");
}

TEST_F(MainWindowTest, TheWheelScrollsTenLinesANotchAndTitlesTheLine) {
    editor()->verticalScrollBar()->setValue(50);
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(editor()->viewport(), &wheel);
    EXPECT_EQ(firstLine(), 40);
    EXPECT_EQ(title(), "line: 40");
}

// The desktop's shortcuts reach their commands from the editor window and
// are shown in the menus beside the function keys, which stay as they were.
TEST_F(MainWindowTest, StandardShortcutsRunTheirCommandsAndShowInTheMenus) {
    std::map<QString, QString> shown; // menu text -> shortcut shown
    for (QAction* menu : m_window->menuBar()->actions())
        for (QAction* item : menu->menu()->actions()) {
            const QString text = item->text();
            const qsizetype tab = text.indexOf(QLatin1Char('\t'));
            shown[tab < 0 ? text : text.left(tab)] =
                tab < 0 ? item->shortcut().toString() : text.mid(tab + 1);
        }
    EXPECT_EQ(shown[QStringLiteral("&New")], QStringLiteral("Ctrl+N"));
    EXPECT_EQ(shown[QStringLiteral("&Open...")], QStringLiteral("Ctrl+O"));
    EXPECT_EQ(shown[QStringLiteral("&Save")], QStringLiteral("Ctrl+S"));
    EXPECT_EQ(shown[QStringLiteral("&Save as...")], QStringLiteral("Ctrl+Shift+S"));
    EXPECT_EQ(shown[QStringLiteral("E&xit")], QStringLiteral("Ctrl+Q"));
    EXPECT_EQ(shown[QStringLiteral("&Find")], QStringLiteral("Ctrl+F, F3"));
    EXPECT_EQ(shown[QStringLiteral("&Redo")], QStringLiteral("Ctrl+Shift+Z"));
    EXPECT_EQ(shown[QStringLiteral("&Run")], QStringLiteral("F5"));

    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    m_platform.setAnswer(MsgAnswer::No);
    QTest::keyClick(editor(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Are you sure you want to save?");

    editor()->setPlainText(QStringLiteral("first"));
    editor()->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor(), QStringLiteral(" second"));
    QTest::keyClick(editor(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("first"));
    QTest::keyClick(editor(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("first second"));
}

} // namespace
} // namespace vortigo
