#include "ui/AboutDialog.h"

#include "resources/Resources.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>
#include <cmath>

namespace vortigo {

QIcon programIcon() {
    static const QIcon icon = [] {
        const int size = 64;
        QImage image(size, size, QImage::Format_ARGB32);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const double cr = -2.1 + 2.8 * x / size, ci = -1.4 + 2.8 * y / size;
                double zr = 0, zi = 0;
                int i = 0;
                for (; i < 48 && zr * zr + zi * zi < 16; ++i) {
                    const double t = zr * zr - zi * zi + cr;
                    zi = 2 * zr * zi + ci;
                    zr = t;
                }
                const double t = i / 48.0;
                image.setPixel(
                    x, y,
                    i == 48 ? qRgb(8, 8, 24)
                            : qRgb(int(255 * std::sqrt(t)), int(200 * t), int(90 + 120 * t)));
            }
        }
        return QIcon(QPixmap::fromImage(image));
    }();
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
