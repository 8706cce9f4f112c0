// The Find dialog: a text to search for, or with "Line #" ticked a line
// number to go to.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace vortigo {

class FindDialog : public QDialog {
  public:
    // Shows `findText` in the field.
    FindDialog(QWidget* parent, const char* findText);

    QString text() const;
    bool lineNumber() const;
    // The text field, as the user types into it.
    QLineEdit* textField() const { return m_text; }

  private:
    QLineEdit* m_text;
    QCheckBox* m_line;
};

} // namespace vortigo
