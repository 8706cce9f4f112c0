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
    m_text->setMaxLength(259);
    m_text->selectAll();
    m_line = new QCheckBox(tr("Line #"), this);
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

} // namespace vortigo
