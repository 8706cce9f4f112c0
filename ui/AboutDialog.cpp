#include "ui/AboutDialog.h"

#include "platform/ProgramDir.h"
#include "resources/Resources.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace vortigo {

QIcon programIcon() {
    // The desktop's icon, drawn from the same SVG at build time.
    static const QIcon icon(QString::fromStdString(programDirectory() + "/vortigo.png"));
    return icon;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(ABOUT_TITLE));
    auto* iconLabel = new QLabel(this);
    iconLabel->setPixmap(programIcon().pixmap(48, 48));
    auto* version = new QLabel(QString::fromLatin1(ABOUT_VERSION), this);
    auto* keys = new QLabel(QString::fromLatin1(ABOUT_KEYS), this);
    keys->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* text = new QVBoxLayout;
    text->addWidget(version);
    text->addWidget(keys);
    auto* row = new QHBoxLayout;
    row->addWidget(iconLabel, 0, Qt::AlignTop);
    row->addLayout(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

} // namespace vortigo
