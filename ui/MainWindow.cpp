#include "ui/MainWindow.h"

#include "control/TraceKeys.h"
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "flight/FlightControls.h"
#include "flight/FlightRecord.h"
#include "platform/VirtualKeys.h"
#include "render/Workers.h"
#include "resources/Resources.h"
#include "script/CompileNotes.h"
#include "ui/AboutDialog.h"
#include "ui/EditorControl.h"
#include "ui/EditorState.h"
#include "ui/EditorText.h"
#include "ui/ExampleProjects.h"
#include "ui/FileFlows.h"
#include "ui/FindDialog.h"
#include "ui/IdleRetry.h"
#include "ui/LiveReload.h"
#include "ui/OutputDialog.h"
#include "ui/ParametersDialog.h"
#include "ui/PosterDialog.h"
#include "ui/ShaderParamsPanel.h"
#include "ui/SlidersDialog.h"
#include "ui/StillCommands.h"
#include "ui/TraceWindow.h"
#include "ui/WatchDialog.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QKeySequence>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>

namespace vortigo {
namespace {

QColor toQColor(const Colour& c) {
    return QColor(c.red, c.green, c.blue);
}

} // namespace

MainWindow::MainWindow() {
    EditorState& editor = editorState();
    setWindowTitle(QString::fromLatin1(APP_TITLE));

    m_editor = new EditorControl(this);
    m_editor->setObjectName(QStringLiteral("editor%1").arg(EDITOR_CONTROL_ID));
    m_editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_editor->setTabChangesFocus(false);
    setCentralWidget(m_editor);
    m_liveReload = new LiveReload(this);

    // Point sizes convert to pixels with the screen's logical DPI, as the
    // editor font always has.
    QFont font(QString::fromLatin1(editor.fontFamily));
    font.setPointSize(editor.fontSize > 0 ? editor.fontSize : 10);
    font.setStyleHint(QFont::SansSerif);
    m_editor->setFont(font);

    // A tab stop every 16 dialog units: a dialog unit is a quarter of the
    // average character width.
    const QFontMetricsF metrics(font);
    m_editor->setTabStopDistance(metrics.averageCharWidth() * 4.0);

    QPalette palette = m_editor->palette();
    palette.setColor(QPalette::Text, toQColor(editor.textColour));
    palette.setColor(QPalette::Base, toQColor(editor.backgroundColour));
    m_editor->setPalette(palette);

    // Typing marks the text edited at once, so no change can be lost at exit
    // unnoticed; showing a text is not an edit.
    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_settingText) markShownTextEdited();
    });
    connect(m_editor->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
        QMetaObject::invokeMethod(
            this, [this] { showLineTitle(); }, Qt::QueuedConnection);
    });
    m_editor->viewport()->installEventFilter(this);

    buildMenus();
    move(editor.editWindowLeft, editor.editWindowTop);
    resize(editor.editWindowWidth > 0 ? editor.editWindowWidth : 512,
           editor.editWindowHeight > 0 ? editor.editWindowHeight : 640);
}

QAction* MainWindow::addCommand(QMenu* menu, const QString& text, int id,
                                std::function<void()> work) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    connect(action, &QAction::triggered, this, [work] { work(); });
    m_commands[id] = BoundCommand{action, std::move(work)};
    return action;
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    // The desktop's usual shortcuts sit beside the function keys. They
    // belong to this window only: in the Trace window Ctrl+E replays and
    // S, Q and E steer the flight.
    addCommand(file, tr("&New"), CMD_NEW, [this] {
        if (ringIsIdle(CMD_NEW)) newProjectCommand(*this);
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    addCommand(file, tr("&Open..."), CMD_OPEN, [this] {
        if (ringIsIdle(CMD_OPEN)) openCommand(*this);
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    addCommand(file, tr("&Save"), CMD_SAVE, [this] {
        saveCommand(*this);
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    addCommand(file, tr("&Save as..."), CMD_SAVE_AS, [this] {
        saveAsCommand(*this);
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    addCommand(file, tr("Save &All..."), CMD_SAVE_ALL, [this] { saveAllCommand(*this); });
    file->addSeparator();
    addCommand(file, tr("&Compile"), CMD_COMPILE, [this] { compile(false); });
    addCommand(file, tr("&Run\tF5"), CMD_RUN, [this] { compile(true); });
    file->addSeparator();
    connect(file->addAction(tr("Render &Poster...")), &QAction::triggered, this,
            [this] { runPosterDialog(this); });
    file->addSeparator();
    addCommand(file, tr("E&xit"), CMD_EXIT, [this] {
        if (!mayDiscardEditedTexts(EXIT_QUESTION)) return;
        m_exitAnswered = true;
        close();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    // The editor handles Ctrl+Z and Ctrl+Shift+Z itself; the menu shows them.
    addCommand(edit, tr("&Undo\tCtrl+Z"), CMD_UNDO, [this] { m_editor->undo(); });
    QAction* redo = edit->addAction(tr("&Redo\tCtrl+Shift+Z"));
    connect(redo, &QAction::triggered, this, [this] { m_editor->redo(); });
    addCommand(edit, tr("Cu&t"), CMD_CUT, [this] { m_editor->cut(); });
    addCommand(edit, tr("&Copy"), CMD_COPY, [this] { m_editor->copy(); });
    addCommand(edit, tr("&Paste"), CMD_PASTE, [this] { m_editor->paste(); });
    addCommand(edit, tr("&Find\tCtrl+F, F3"), CMD_FIND, [this] {
        openFind();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    edit->addSeparator();
    addCommand(edit, tr("Copy &Image"), CMD_COPY_IMAGE, [] { copyImageToClipboard(); });

    QMenu* view = menuBar()->addMenu(tr("&View"));
    addCommand(view, tr("Animation Script\tF6"), CMD_SHOW_SCRIPT,
               [this] { switchKind(KIND_SCRIPT); });
    addCommand(view, tr("Vertex Shader\tF7"), CMD_SHOW_VERTEX, [this] { switchKind(KIND_VERTEX); });
    addCommand(view, tr("Fragment Shader\tF8"), CMD_SHOW_FRAGMENT,
               [this] { switchKind(KIND_FRAGMENT); });
    addCommand(view, tr("&Debug Output\tF9"), CMD_SHOW_DEBUG, [this] { switchKind(KIND_DEBUG); });
    view->addSeparator();
    addCommand(view, tr("&Watch"), CMD_WATCH, [this] { openWatchDialog(this); });
    addCommand(view, tr("&Parameters\tF4"), CMD_PARAMETERS, [this] { runParametersDialog(this); });
    addCommand(view, tr("&Sliders"), CMD_SLIDERS, [this] { openSlidersDialog(this); });
    addCommand(view, tr("S&hader Parameters\tF2"), CMD_SHADER_PARAMS,
               [this] { openShaderParamsPanel(this); });
    addCommand(view, tr("&Output"), CMD_OUTPUT, [this] { runOutputDialog(this); });

    QMenu* layer = menuBar()->addMenu(tr("&Layer"));
    m_layerGroup = new QActionGroup(this);
    m_layerGroup->setExclusive(true);
    for (int i = 0; i < LAYER_COUNT; ++i) {
        QAction* action = addCommand(layer, tr("Layer &%1").arg(i + 1), CMD_LAYER_1 + i,
                                     [this, i] { switchLayer(i); });
        action->setCheckable(true);
        m_layerGroup->addAction(action);
    }
    layer->addSeparator();
    addCommand(layer, tr("Delete Layer"), CMD_DELETE_LAYER, [this] { deleteLayer(); });

    // The Replay menu's items name keys of the Trace window (Q, E, S): the
    // keyboard goes there, as after Run.
    QMenu* replay = menuBar()->addMenu(tr("&Replay"));
    auto addReplay = [this, replay](const QString& text, int id, std::function<void()> work) {
        return addCommand(replay, text, id, [this, work = std::move(work)] {
            giveKeysToTrace();
            work();
        });
    };
    addReplay(tr("Rewind to &Start"), CMD_REWIND, [this] { editRing(RingEdit::Rewind); });
    addReplay(tr("&Jump to End"), CMD_JUMP_TO_END, [this] { editRing(RingEdit::JumpToEnd); });
    addReplay(tr("&Replay Q"), CMD_REPLAY_BACKWARD, [] {
        cameraFlight().flightMode = FLIGHT_STEP_BACKWARD;
        handleAdvanceMessage();
    });
    addReplay(tr("&Foreplay E"), CMD_REPLAY_FORWARD, [] {
        cameraFlight().flightMode = FLIGHT_STEP_FORWARD;
        handleAdvanceMessage();
    });
    addReplay(tr("S&lerp <cntrl> E"), CMD_SLERP, [] {
        startTimedReplay();
        handleAdvanceMessage();
    });
    addReplay(tr("&Stop S"), CMD_STOP, [this] {
        if (m_trace) m_trace->keyDown('S');
    });
    replay->addSeparator();
    addReplay(tr("&Mark Beginning"), CMD_MARK_BEGINNING,
              [this] { editRing(RingEdit::MarkBeginning); });
    addReplay(tr("Mark &End"), CMD_MARK_END, [this] { editRing(RingEdit::MarkEnd); });
    m_recordData = addReplay(tr("Record &Data"), CMD_RECORD_DATA, [this] {
        CameraFlight& camera = cameraFlight();
        camera.timeRunning = !camera.timeRunning;
        m_recordData->setChecked(camera.timeRunning);
    });
    m_recordData->setCheckable(true);
    addReplay(tr("Smo&oth"), CMD_SMOOTH, [this] { editRing(RingEdit::Smooth); });
    addReplay(tr("&Clear"), CMD_CLEAR_FLIGHT, [this] { editRing(RingEdit::Clear); });
    // T in the Trace window, a project and the reset switch recording too:
    // the check mark is read from the state whenever the menu opens.
    connect(replay, &QMenu::aboutToShow, this,
            [this] { m_recordData->setChecked(cameraView().timeRunning != 0); });

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    // Read again whenever the menu opens: the folder may have changed.
    QMenu* examples = help->addMenu(tr("&Examples"));
    fillExamplesMenu(*this, examples);
    connect(examples, &QMenu::aboutToShow, this,
            [this, examples] { fillExamplesMenu(*this, examples); });
    addCommand(help, tr("&About ..."), CMD_ABOUT, [this] { AboutDialog(this).exec(); });
}

void MainWindow::onCommand(int id) {
    auto it = m_commands.find(id);
    if (it == m_commands.end() || !it->second.action->isEnabled()) return;
    it->second.work();
}

// A mark edit made while a frame is drawn waits for the frame's end: the
// next advance applies it during a flight, this retry otherwise.
void MainWindow::editRing(RingEdit edit) {
    if (requestRingEdit(edit)) return;
    QTimer::singleShot(10, this, [this] { editRingLater(); });
}

void MainWindow::editRingLater() {
    if (applyPendingRingEdits()) return;
    QTimer::singleShot(10, this, [this] { editRingLater(); });
}

// The texts and the sizes are shared with the render thread: they change
// only while it rests, else the command comes back later.
bool MainWindow::ringIsIdle(int id) {
    if (stopFlightAndCheckParked()) return true;
    retryWhenIdle(this, [this, id] { onCommand(id); });
    return false;
}

void MainWindow::onFunctionKey(int virtualKey) {
    switch (virtualKey) {
    case VK_F5:
        onCommand(CMD_RUN);
        break; // F5
    case VK_F6:
        onCommand(CMD_SHOW_SCRIPT);
        break; // F6
    case VK_F7:
        onCommand(CMD_SHOW_VERTEX);
        break; // F7
    case VK_F8:
        onCommand(CMD_SHOW_FRAGMENT);
        break; // F8
    case VK_F9:
        onCommand(CMD_SHOW_DEBUG);
        break; // F9
    case VK_F3:
        if (editorState().findText[0])
            findNext();
        else
            onCommand(CMD_FIND);
        break;
    case VK_F4:
        onCommand(CMD_PARAMETERS);
        break; // F4
    case VK_F2:
        onCommand(CMD_SHADER_PARAMS);
        break;
    default:
        break;
    }
}

int MainWindow::firstVisibleLine() const {
    return m_editor->verticalScrollBar()->value();
}

void MainWindow::scrollToLine(int line) {
    m_editor->verticalScrollBar()->setValue(line);
}

void MainWindow::selectLineStart(int line) {
    QTextBlock block = m_editor->document()->findBlockByNumber(line);
    if (!block.isValid()) return;
    QTextCursor cursor(block);
    if (block.length() > 1)
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    m_editor->setTextCursor(cursor);
}

void MainWindow::goToLine(int line, int kind) {
    if (kind < KIND_SCRIPT || kind > KIND_VERTEX) return;
    if (kind != editorState().currentKind) switchKind(kind);
    const int lastLine = std::max(0, m_editor->document()->blockCount() - 1);
    const int target = std::clamp(line - 1, 0, lastLine);
    selectLineStart(target);
    scrollToLine(target);
}

void MainWindow::storeShownText() {
    EditorState& editor = editorState();
    char* buffer = textOfKind(editor.currentKind);
    if (!buffer) return;
    topLineOfKind(editor.currentKind) = firstVisibleLine();
    const std::string text = m_editor->storedBytes();
    const size_t n = std::min<size_t>(text.size(), TEXT_SIZE - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
}

void MainWindow::showCurrentText() {
    EditorState& editor = editorState();
    const char* buffer = textOfKind(editor.currentKind);
    m_settingText = true;
    m_editor->showBytes(buffer ? buffer : "");
    m_settingText = false;
    setWindowTitle(QString::fromStdString(titleOfKind(editor.currentKind)).left(TITLE_LIMIT));
    scrollToLine(topLineOfKind(editor.currentKind));
}

void MainWindow::markShownTextEdited() {
    ProjectFiles& files = projectFiles();
    EditorState& editor = editorState();
    LayerSlot& layer = files.layers[editor.currentLayer];
    switch (editor.currentKind) {
    case KIND_FRAGMENT:
        layer.fragmentDirty = 1;
        break;
    case KIND_VERTEX:
        layer.vertexDirty = 1;
        break;
    case KIND_SCRIPT:
        files.scriptDirty = 1;
        break;
    default:
        break;
    }
}

void MainWindow::showLineTitle() {
    setWindowTitle(QStringLiteral("line: %1").arg(firstVisibleLine()));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_editor->viewport() && event->type() == QEvent::Wheel) {
        // Ten lines a notch, away from the user towards the start.
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const int delta = static_cast<int16_t>(wheel->angleDelta().y());
        QScrollBar* bar = m_editor->verticalScrollBar();
        bar->setValue(bar->value() - delta / 12);
        showLineTitle();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::findNext() {
    EditorState& editor = editorState();
    if (!editor.findText[0]) return;
    char* buffer = textOfKind(editor.currentKind);
    const std::string text = m_editor->storedBytes();
    if (buffer) {
        const size_t n = std::min<size_t>(text.size(), TEXT_SIZE - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    // Positions in the control count characters; the search counts bytes of
    // the text's own encoding.
    const std::string needle = encodeText(QString::fromUtf8(editor.findText), m_editor->encoding());
    const size_t startByte = m_editor->byteOffsetOf(m_editor->textCursor().selectionStart());
    const size_t match = findNextMatch(text, startByte, needle);
    if (match == std::string::npos) return;
    const int first = m_editor->positionOfByte(match);
    const int length = m_editor->positionOfByte(match + needle.size()) - first;
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(first);
    cursor.setPosition(first + length, QTextCursor::KeepAnchor);
    m_editor->setTextCursor(cursor);
    scrollToLine(m_editor->document()->findBlock(first + length - 1).blockNumber());
}

void MainWindow::openFind() {
    EditorState& editor = editorState();
    FindDialog dialog(this, editor.findText);
    if (dialog.exec() != QDialog::Accepted) return;
    const QByteArray text = dialog.text().toUtf8().left(PATH_SIZE - 1);
    std::memcpy(editor.findText, text.constData(), static_cast<size_t>(text.size()));
    editor.findText[text.size()] = 0;
    if (dialog.lineNumber()) {
        const int lastLine = std::max(0, m_editor->document()->blockCount() - 1);
        const int line = std::clamp(readLineNumber(editor.findText) - 1, 0, lastLine);
        selectLineStart(line);
        scrollToLine(line);
    } else {
        findNext();
    }
}

void MainWindow::deleteLayer() {
    const MsgAnswer answer =
        platform().messageBox(WindowId::Main, "Are you sure you want to delete this layer?",
                              "Delete Confirmation", MsgButtons::YesNo, MsgIcon::Question);
    if (answer != MsgAnswer::Yes) return;
    ProjectFiles& files = projectFiles();
    EditorState& editor = editorState();
    LayerSlot& layer = files.layers[editor.currentLayer];
    layer.vertexTopLine = layer.fragmentTopLine = 0;
    layer.backgroundFile[0] = 0;
    layer.vertexFile[0] = 0;
    layer.fragmentFile[0] = 0;
    layer.vertexText[0] = 0;
    layer.fragmentText[0] = 0;
    layer.vertexDirty = layer.fragmentDirty = 0;
    showCurrentText();
}

void MainWindow::checkLayerItem(int layer) {
    auto it = m_commands.find(CMD_LAYER_1 + layer);
    if (it != m_commands.end()) it->second.action->setChecked(true);
}

void MainWindow::switchKind(int kind) {
    storeShownText();
    editorState().setKind(kind);
    showCurrentText();
}

void MainWindow::switchLayer(int layer) {
    checkLayerItem(layer);
    storeShownText();
    editorState().currentLayer = layer;
    showCurrentText();
}

void MainWindow::compile(bool run) {
    RunState& runs = runState();
    setQuietCompile(false); // a compile the user asks for shows its errors in a box
    storeShownText();
    // A pasted image shader changes what the title says about the layer.
    setWindowTitle(
        QString::fromStdString(titleOfKind(editorState().currentKind)).left(TITLE_LIMIT));
    runs.scriptReady.clear();
    if (run)
        runs.runAfterCompile.set();
    else
        runs.runAfterCompile.clear();
    runs.compileRequest.set();
    if (run) giveKeysToTrace();
}

void MainWindow::recompileAfterReload() {
    RunState& runs = runState();
    storeShownText();
    setQuietCompile(true);
    runs.scriptReady.clear();
    runs.runAfterCompile.set();
    runs.compileRequest.set();
}

void MainWindow::giveKeysToTrace() {
    if (!m_trace) return;
    // A Trace window the user has minimised or hidden comes back.
    if (m_trace->isMinimized())
        m_trace->showNormal();
    else
        m_trace->show();
    m_trace->raise();
    m_trace->activateWindow();
    m_trace->setFocus();
}

void MainWindow::closeWithoutAsking() {
    m_exitAnswered = true;
    close();
    if (!m_closing) { // a window that was never shown gets no close event
        m_closing = true;
        if (m_exitPath) m_exitPath();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The close box asks like Exit: closing must not drop edited texts.
    if (!m_closing && !m_exitAnswered && !mayDiscardEditedTexts(EXIT_QUESTION)) {
        event->ignore();
        return;
    }
    if (!m_closing) {
        m_closing = true;
        if (m_exitPath) m_exitPath();
    }
    event->accept();
}

} // namespace vortigo
