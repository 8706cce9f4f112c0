#include "ui/KeyRouter.h"

#include "resources/Resources.h"
#include "ui/EditorControl.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTextBlock>

namespace vortigo {
namespace {

// The posted tabs arrive after the Enter has made the new line.
void repeatLeadingTabs(QPlainTextEdit* editor) {
    const QString line = editor->textCursor().block().text().left(255);
    int tabs = 0;
    while (tabs < line.size() && line[tabs] == QLatin1Char('\t'))
        ++tabs;
    for (int i = 0; i < tabs; ++i) {
        QCoreApplication::postEvent(
            editor, new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, "\t"));
        QCoreApplication::postEvent(
            editor, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier, "\t"));
    }
}

} // namespace

bool KeyRouter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !m_main) return false;
    // F3 in the Find dialog must not open a second one, F5 in a message box
    // must not compile behind it.
    if (QApplication::activeModalWidget()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F12) {
        m_main->onFunctionKey(112 + (key->key() - Qt::Key_F1));
        return true;
    }
    if ((key->modifiers() & Qt::AltModifier) &&
        (key->key() == Qt::Key_Question || key->key() == Qt::Key_Slash)) {
        m_main->onCommand(CMD_ABOUT);
        return true;
    }
    QPlainTextEdit* editor = m_main->editor();
    if (watched == editor && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        !key->isAutoRepeat()) {
        m_main->markShownTextEdited();
        repeatLeadingTabs(editor);
    }
    return false;
}

} // namespace vortigo
