// The editor control of the main window: a plain-text control that shows a
// text buffer's bytes and gives back exactly those bytes for every line the
// user did not change, and that never holds more than a buffer can take.
// User-interface thread only.
#pragma once

#include "ui/EditorText.h"

#include <QPlainTextEdit>
#include <string>
#include <string_view>

namespace vortigo {

class EditorControl : public QPlainTextEdit {
  public:
    explicit EditorControl(QWidget* parent);

    // Replaces the shown text by `bytes`: UTF-8 when valid, else Latin-1;
    // each line remembers how it ended (LF, CR LF or CR).
    void showBytes(std::string_view bytes);
    // The shown text as a buffer holds it.
    std::string storedBytes() const;
    size_t storedSize() const;

    TextEncoding encoding() const { return m_encoding; }
    // Byte offset in storedBytes() of character position `position`, and
    // the character position of a byte offset (an offset inside a line
    // ending or a character maps to the start of what follows).
    size_t byteOffsetOf(int position) const;
    int positionOfByte(size_t offset) const;

  protected:
    // Paste and drop: what does not fit is left out, and the user is told.
    void insertFromMimeData(const QMimeData* source) override;
    // A typed character that does not fit is refused with a beep.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int lineEndOf(const QTextBlock& block) const;
    size_t blockBytes(const QTextBlock& block) const;
    size_t selectionBytes() const;

    TextEncoding m_encoding = TextEncoding::Utf8;
    int m_newLineEnd = LINE_END_LF; // the ending a line typed by the user gets
};

} // namespace vortigo
