// The Find dialog: a text to search for, or with "Line #" ticked a line
// number to go to. The controls keep their resource identifiers so tests
// can drive them.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace vortigo {

constexpr int FIND_TEXT_ID = 1007;
constexpr int FIND_LINE_ID = 1008;

class FindDialog : public QDialog {
  public:
    // Shows `findText` in the field.
    FindDialog(QWidget* parent, const char* findText);

    QString text() const;
    bool lineNumber() const;
    QWidget* control(int id) const;

  private:
    QLineEdit* m_text;
    QCheckBox* m_line;
};

} // namespace vortigo
