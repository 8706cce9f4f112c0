#include "ui/EditorControl.h"

#include "platform/Platform.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <cstring>

namespace vortigo {

EditorControl::EditorControl(QWidget* parent) : QPlainTextEdit(parent) {}

void EditorControl::showBytes(std::string_view bytes) {
    m_encoding = encodingOf(bytes);
    const std::vector<BufferLine> lines = splitLines(bytes);
    m_newLineEnd = dominantLineEnd(lines);
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const BufferLine& line : lines) {
        text += decodeText(line.text, m_encoding);
        if (line.end >= 0) text += QLatin1Char('\n');
    }
    setPlainText(text);
    // The control shows every ending as one line break; the block keeps
    // which one it was.
    QTextBlock block = document()->begin();
    for (const BufferLine& line : lines) {
        if (!block.isValid()) break;
        block.setUserState(line.end);
        block = block.next();
    }
}

int EditorControl::lineEndOf(const QTextBlock& block) const {
    if (!block.next().isValid()) return -1;
    const int end = block.userState();
    return end >= LINE_END_LF && end <= LINE_END_CR ? end : m_newLineEnd;
}

size_t EditorControl::blockBytes(const QTextBlock& block) const {
    return encodedSize(block.text(), m_encoding) + std::strlen(lineEndBytes(lineEndOf(block)));
}

std::string EditorControl::storedBytes() const {
    std::string bytes;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        bytes += encodeText(block.text(), m_encoding);
        bytes += lineEndBytes(lineEndOf(block));
    }
    return bytes;
}

size_t EditorControl::storedSize() const {
    size_t size = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        size += blockBytes(block);
    return size;
}

size_t EditorControl::byteOffsetOf(int position) const {
    const QTextBlock target = document()->findBlock(position);
    size_t offset = 0;
    for (QTextBlock block = document()->begin(); block.isValid() && block != target;
         block = block.next())
        offset += blockBytes(block);
    if (!target.isValid()) return offset;
    return offset + encodedSize(target.text().left(position - target.position()), m_encoding);
}

int EditorControl::positionOfByte(size_t offset) const {
    size_t start = 0;
    QTextBlock block = document()->begin();
    for (; block.isValid(); block = block.next()) {
        const size_t bytes = blockBytes(block);
        if (offset < start + bytes || !block.next().isValid()) break;
        start += bytes;
    }
    if (!block.isValid()) return 0;
    const QString text = block.text();
    qsizetype i = 0;
    size_t at = start;
    while (i < text.size() && at < offset) {
        const qsizetype units =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2
                                                                                             : 1;
        at += encodedSize(QStringView(text).mid(i, units), m_encoding);
        i += units;
    }
    if (at < offset && block.next().isValid()) return block.next().position();
    return block.position() + static_cast<int>(i);
}

size_t EditorControl::selectionBytes() const {
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection()) return 0;
    return byteOffsetOf(cursor.selectionEnd()) - byteOffsetOf(cursor.selectionStart());
}

void EditorControl::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    // The control makes a line break of CR LF, CR and LF alike.
    QString text = source->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const size_t kept = storedSize() - selectionBytes();
    const size_t room = kept < TEXT_LIMIT ? TEXT_LIMIT - kept : 0;
    const qsizetype fits =
        prefixThatFits(text, m_encoding, std::strlen(lineEndBytes(m_newLineEnd)), room);
    if (fits > 0) {
        textCursor().insertText(text.left(fits));
        ensureCursorVisible();
    }
    if (fits < text.size())
        platform().messageBox(WindowId::Main, TEXT_TOO_LONG, TEXT_TOO_LONG_CAPTION, MsgButtons::Ok,
                              MsgIcon::Warning);
}

void EditorControl::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    const bool lineBreak = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool inserts =
        lineBreak || (!typed.isEmpty() && (typed[0] == QLatin1Char('\t') || typed[0].isPrint()) &&
                      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)));
    if (inserts) {
        const size_t needed =
            lineBreak ? std::strlen(lineEndBytes(m_newLineEnd)) : encodedSize(typed, m_encoding);
        // Every character takes at most three bytes a UTF-16 unit, a line
        // break at most two: most texts are far from the limit.
        const size_t bound = 3 * static_cast<size_t>(document()->characterCount()) + needed;
        if (bound > TEXT_LIMIT && storedSize() - selectionBytes() + needed > TEXT_LIMIT) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

} // namespace vortigo
