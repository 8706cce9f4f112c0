#include "ui/FindDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace vortigo {

FindDialog::FindDialog(QWidget* parent, const char* findText) : QDialog(parent) {
    setWindowTitle(tr("Find"));
    m_text = new QLineEdit(QString::fromUtf8(findText), this);
    m_text->setObjectName(QString::number(FIND_TEXT_ID));
    m_text->setMaxLength(259);
    m_text->selectAll();
    m_line = new QCheckBox(tr("Line #"), this);
    m_line->setObjectName(QString::number(FIND_LINE_ID));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(m_line);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

QString FindDialog::text() const {
    return m_text->text();
}
bool FindDialog::lineNumber() const {
    return m_line->isChecked();
}

QWidget* FindDialog::control(int id) const {
    if (id == FIND_TEXT_ID) return m_text;
    if (id == FIND_LINE_ID) return m_line;
    return nullptr;
}

} // namespace vortigo
