#include "app/MainWindow.h"

#include "app/AboutDialog.h"
#include "app/ProjectState.h"
#include "app/Studio.h"
#include "resources/Resources.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>
#include <cstring>

namespace vortigo {
namespace {

QColor toQColor(const Colour& c) { return QColor(c.red, c.green, c.blue); }

} // namespace

MainWindow::MainWindow() {
    ProjectState& s = state();
    setWindowTitle(QString::fromLatin1(APP_TITLE));

    m_editor = new QPlainTextEdit(this);
    m_editor->setObjectName(QStringLiteral("editor%1").arg(EDITOR_CONTROL_ID));
    m_editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_editor->setTabChangesFocus(false);
    setCentralWidget(m_editor);

    // Point sizes convert to pixels with the screen's logical DPI, as the
    // editor font always has.
    QFont font(QString::fromLatin1(s.fontFamily));
    font.setPointSize(s.fontSize > 0 ? s.fontSize : 10);
    font.setStyleHint(QFont::SansSerif);
    m_editor->setFont(font);

    // A tab stop every 16 dialog units: a dialog unit is a quarter of the
    // average character width.
    const QFontMetricsF metrics(font);
    m_editor->setTabStopDistance(metrics.averageCharWidth() * 4.0);

    QPalette palette = m_editor->palette();
    palette.setColor(QPalette::Text, toQColor(s.textColour));
    palette.setColor(QPalette::Base, toQColor(s.backgroundColour));
    m_editor->setPalette(palette);

    buildMenus();
    move(s.editWindowLeft, s.editWindowTop);
    resize(s.editWindowWidth > 0 ? s.editWindowWidth : 512,
           s.editWindowHeight > 0 ? s.editWindowHeight : 640);
}

QAction* MainWindow::addCommand(QMenu* menu, const QString& text, int id, bool enabled) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, [this, id] { onCommand(id); });
    m_actions[id] = action;
    return action;
}

void MainWindow::buildMenus() {
    // Commands whose work the studio does not have yet stay visible but
    // disabled.
    QMenu* file = menuBar()->addMenu(tr("&File"));
    addCommand(file, tr("&New"), CMD_NEW, false);
    addCommand(file, tr("&Open..."), CMD_OPEN, false);
    addCommand(file, tr("&Save"), CMD_SAVE, false);
    addCommand(file, tr("&Save as..."), CMD_SAVE_AS, false);
    addCommand(file, tr("Save &All..."), CMD_SAVE_ALL, false);
    file->addSeparator();
    addCommand(file, tr("&Compile"), CMD_COMPILE, true);
    addCommand(file, tr("&Run\tF5"), CMD_RUN, true);
    file->addSeparator();
    addCommand(file, tr("E&xit"), CMD_EXIT, true);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    addCommand(edit, tr("&Undo"), CMD_UNDO, true);
    addCommand(edit, tr("Cu&t"), CMD_CUT, true);
    addCommand(edit, tr("&Copy"), CMD_COPY, true);
    addCommand(edit, tr("&Paste"), CMD_PASTE, true);
    addCommand(edit, tr("&Find\tF3"), CMD_FIND, false);
    edit->addSeparator();
    addCommand(edit, tr("Copy &Image"), CMD_COPY_IMAGE, false);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    addCommand(view, tr("Animation Script\tF6"), CMD_SHOW_SCRIPT, true);
    addCommand(view, tr("Vertex Shader\tF7"), CMD_SHOW_VERTEX, true);
    addCommand(view, tr("Fragment Shader\tF8"), CMD_SHOW_FRAGMENT, true);
    addCommand(view, tr("&Debug Output\tF9"), CMD_SHOW_DEBUG, true);
    view->addSeparator();
    addCommand(view, tr("&Watch"), CMD_WATCH, false);
    addCommand(view, tr("&Parameters\tF4"), CMD_PARAMETERS, false);
    addCommand(view, tr("&Sliders"), CMD_SLIDERS, false);
    addCommand(view, tr("&Output"), CMD_OUTPUT, false);

    QMenu* layer = menuBar()->addMenu(tr("&Layer"));
    m_layerGroup = new QActionGroup(this);
    m_layerGroup->setExclusive(true);
    for (int i = 0; i < LAYER_COUNT; ++i) {
        QAction* action = addCommand(layer, tr("Layer &%1").arg(i + 1), CMD_LAYER_1 + i, true);
        action->setCheckable(true);
        m_layerGroup->addAction(action);
    }
    layer->addSeparator();
    addCommand(layer, tr("Delete Layer"), CMD_DELETE_LAYER, false);

    QMenu* replay = menuBar()->addMenu(tr("&Replay"));
    addCommand(replay, tr("Rewind to &Start"), CMD_REWIND, false);
    addCommand(replay, tr("&Jump to End"), CMD_JUMP_TO_END, false);
    addCommand(replay, tr("&Replay Q"), CMD_REPLAY_BACKWARD, false);
    addCommand(replay, tr("&Foreplay E"), CMD_REPLAY_FORWARD, false);
    addCommand(replay, tr("S&lerp <cntrl> E"), CMD_SLERP, false);
    addCommand(replay, tr("&Stop S"), CMD_STOP, false);
    replay->addSeparator();
    addCommand(replay, tr("&Mark Beginning"), CMD_MARK_BEGINNING, false);
    addCommand(replay, tr("Mark &End"), CMD_MARK_END, false);
    addCommand(replay, tr("Record &Data"), CMD_RECORD_DATA, false)->setCheckable(true);
    addCommand(replay, tr("Smo&oth"), CMD_SMOOTH, false);
    addCommand(replay, tr("&Clear"), CMD_CLEAR_FLIGHT, false);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    addCommand(help, tr("&About ..."), CMD_ABOUT, true);
}

void MainWindow::onCommand(int id) {
    auto it = m_actions.find(id);
    if (it == m_actions.end() || !it->second->isEnabled()) return;
    switch (id) {
    case CMD_COMPILE: compile(false); break;
    case CMD_RUN: compile(true); break;
    case CMD_EXIT: close(); break;
    case CMD_UNDO: m_editor->undo(); break;
    case CMD_CUT: m_editor->cut(); break;
    case CMD_COPY: m_editor->copy(); break;
    case CMD_PASTE: m_editor->paste(); break;
    case CMD_SHOW_SCRIPT: switchKind(KIND_SCRIPT); break;
    case CMD_SHOW_FRAGMENT: switchKind(KIND_FRAGMENT); break;
    case CMD_SHOW_VERTEX: switchKind(KIND_VERTEX); break;
    case CMD_SHOW_DEBUG: switchKind(KIND_DEBUG); break;
    case CMD_LAYER_1:
    case CMD_LAYER_2:
    case CMD_LAYER_3:
    case CMD_LAYER_4: switchLayer(id - CMD_LAYER_1); break;
    case CMD_ABOUT: AboutDialog(this).exec(); break;
    default: break;
    }
}

void MainWindow::onFunctionKey(int virtualKey) {
    switch (virtualKey) {
    case 116: onCommand(CMD_RUN); break;           // F5
    case 117: onCommand(CMD_SHOW_SCRIPT); break;   // F6
    case 118: onCommand(CMD_SHOW_VERTEX); break;   // F7
    case 119: onCommand(CMD_SHOW_FRAGMENT); break; // F8
    case 120: onCommand(CMD_SHOW_DEBUG); break;    // F9
    case 114: onCommand(CMD_FIND); break;          // F3
    case 115: onCommand(CMD_PARAMETERS); break;    // F4
    default: break;
    }
}

int MainWindow::firstVisibleLine() const { return m_editor->verticalScrollBar()->value(); }

void MainWindow::scrollToLine(int line) { m_editor->verticalScrollBar()->setValue(line); }

void MainWindow::selectLineStart(int line) {
    QTextBlock block = m_editor->document()->findBlockByNumber(line);
    if (!block.isValid()) return;
    QTextCursor cursor(block);
    if (block.length() > 1) cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    m_editor->setTextCursor(cursor);
}

void MainWindow::goToLine(int line, int kind) {
    if (kind < KIND_SCRIPT || kind > KIND_VERTEX) return;
    if (kind != state().currentKind) switchKind(kind);
    const int lastLine = std::max(0, m_editor->document()->blockCount() - 1);
    const int target = std::clamp(line - 1, 0, lastLine);
    selectLineStart(target);
    scrollToLine(target);
}

void MainWindow::storeShownText() {
    ProjectState& s = state();
    char* buffer = textOfKind(s.currentKind);
    if (!buffer) return;
    topLineOfKind(s.currentKind) = firstVisibleLine();
    const QByteArray bytes = m_editor->toPlainText().toUtf8();
    const size_t n = std::min<size_t>(static_cast<size_t>(bytes.size()), TEXT_SIZE - 1);
    std::memcpy(buffer, bytes.constData(), n);
    buffer[n] = 0;
}

void MainWindow::showCurrentText() {
    ProjectState& s = state();
    const char* buffer = textOfKind(s.currentKind);
    m_editor->setPlainText(buffer ? QString::fromUtf8(buffer) : QString());
    setWindowTitle(QString::fromStdString(titleOfKind(s.currentKind)).left(TITLE_LIMIT));
    scrollToLine(topLineOfKind(s.currentKind));
}

void MainWindow::checkLayerItem(int layer) {
    auto it = m_actions.find(CMD_LAYER_1 + layer);
    if (it != m_actions.end()) it->second->setChecked(true);
}

void MainWindow::switchKind(int kind) {
    storeShownText();
    state().currentKind = kind;
    showCurrentText();
}

void MainWindow::switchLayer(int layer) {
    checkLayerItem(layer);
    storeShownText();
    state().currentLayer = layer;
    showCurrentText();
}

void MainWindow::compile(bool run) {
    ProjectState& s = state();
    storeShownText();
    s.scriptReady.clear();
    if (run) s.runAfterCompile.set(); else s.runAfterCompile.clear();
    s.compileRequest.set();
    if (run && m_trace) {
        m_trace->activateWindow();
        m_trace->setFocus();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_closing) {
        m_closing = true;
        shutDownStudio();
    }
    event->accept();
}

} // namespace vortigo
