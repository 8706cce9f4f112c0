#include "ui/PosterDialog.h"

#include "core/Handoff.h"
#include "media/PictureStream.h"
#include "platform/Platform.h"
#include "ui/IdleRetry.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <cmath>

namespace vortigo {
namespace {

struct PrintSize {
    const char* name;
    double width, height; // in the unit below
    double unitsPerInch;  // 2.54 for centimetres, 1 for inches
};

// Common print sizes, portrait; the first entry keeps the pixels typed.
constexpr PrintSize PRINT_SIZES[] = {
    {"Pixels", 0, 0, 1},
    {"A4 (21 x 29.7 cm)", 21.0, 29.7, 2.54},
    {"A3 (29.7 x 42 cm)", 29.7, 42.0, 2.54},
    {"A2 (42 x 59.4 cm)", 42.0, 59.4, 2.54},
    {"A1 (59.4 x 84.1 cm)", 59.4, 84.1, 2.54},
    {"60 x 90 cm", 60.0, 90.0, 2.54},
    {"8 x 10 in", 8.0, 10.0, 1.0},
    {"11 x 14 in", 11.0, 14.0, 1.0},
    {"16 x 20 in", 16.0, 20.0, 1.0},
    {"24 x 36 in", 24.0, 36.0, 1.0},
};

int pixelsFor(double length, double unitsPerInch, int dpi) {
    return static_cast<int>(std::lround(length / unitsPerInch * dpi));
}

// Any whole number, signs included, so that a negative size is refused by
// name rather than swallowed; text that is none reads 0.
int sideFrom(const QLineEdit* edit) {
    bool ok = false;
    const qlonglong value = edit->text().trimmed().toLongLong(&ok);
    if (!ok) return 0;
    return static_cast<int>(std::clamp<qlonglong>(value, -1, qlonglong{MAX_POSTER_SIDE} + 1));
}

std::string withSuffix(const std::string& path, const char* suffix) {
    const QFileInfo info(QString::fromStdString(path));
    const QString stem = info.suffix().isEmpty() ? QString::fromStdString(path)
                                                 : info.path() + "/" + info.completeBaseName();
    return (stem + suffix).toStdString();
}

constexpr int DEEP_ROLE = Qt::UserRole + 1;

void refuse(const std::string& text) {
    platform().messageBox(WindowId::Main, text, "Render Poster", MsgButtons::Ok, MsgIcon::Warning);
}

} // namespace

PosterDialog::PosterDialog(QWidget* owner) : QDialog(owner) {
    setWindowTitle(tr("Render Poster"));
    Controls& c = m_controls;
    c.preset = new QComboBox(this);
    for (const PrintSize& size : PRINT_SIZES)
        c.preset->addItem(QString::fromLatin1(size.name));
    c.dpi = new QSpinBox(this);
    c.dpi->setRange(1, 10000);
    c.dpi->setValue(300);
    c.dpi->setSuffix(tr(" dpi"));
    c.width = new QLineEdit(QStringLiteral("7087"), this);
    c.height = new QLineEdit(QStringLiteral("10630"), this);
    c.tile = new QSpinBox(this);
    c.tile->setRange(16, 1 << 20);
    c.tile->setValue(DEFAULT_POSTER_TILE);
    c.format = new QComboBox(this);
    // Each format: its suffix, and whether it is drawn with 16 bits a channel.
    auto addFormat = [&c](const QString& name, const char* suffix, bool deep) {
        c.format->addItem(name, QString::fromLatin1(suffix));
        c.format->setItemData(c.format->count() - 1, deep, DEEP_ROLE);
    };
    addFormat(tr("PNG"), ".png", false);
    addFormat(tr("PNG, 16 bits a channel"), ".png", true);
    addFormat(tr("TIFF (BigTIFF, any size)"), ".tif", false);
    addFormat(tr("TIFF, 16 bits a channel"), ".tif", true);
    addFormat(tr("OpenEXR (half float, linear light)"), ".exr", true);
    c.file = new QLineEdit(QStringLiteral("poster.png"), this);
    auto* browseButton = new QPushButton(tr("Browse..."), this);

    auto* size = new QHBoxLayout;
    size->addWidget(c.width);
    size->addWidget(new QLabel(QStringLiteral("x"), this));
    size->addWidget(c.height);
    auto* print = new QHBoxLayout;
    print->addWidget(c.preset, 1);
    print->addWidget(c.dpi);
    auto* file = new QHBoxLayout;
    file->addWidget(c.file, 1);
    file->addWidget(browseButton);
    auto* form = new QFormLayout;
    form->addRow(tr("Print size:"), print);
    form->addRow(tr("Size in pixels:"), size);
    form->addRow(tr("Tile size:"), c.tile);
    form->addRow(tr("Format:"), c.format);
    form->addRow(tr("File:"), file);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(c.preset, &QComboBox::currentIndexChanged, this, [this] { applyPreset(); });
    connect(c.dpi, &QSpinBox::valueChanged, this, [this] { applyPreset(); });
    connect(c.format, &QComboBox::currentIndexChanged, this, [this] { formatChosen(); });
    connect(browseButton, &QPushButton::clicked, this, [this] { browse(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { accept(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

PosterRequest PosterDialog::request() const {
    PosterRequest r;
    r.width = sideFrom(m_controls.width);
    r.height = sideFrom(m_controls.height);
    r.tileSize = m_controls.tile->value();
    r.out = m_controls.file->text().trimmed().toStdString();
    // A name typed without an extension takes the chosen format's.
    if (!r.out.empty() && lowerExtension(r.out).empty())
        r.out += m_controls.format->currentData().toString().toStdString();
    r.deep = m_controls.format->currentData(DEEP_ROLE).toBool();
    return r;
}

void PosterDialog::applyPreset() {
    const int index = m_controls.preset->currentIndex();
    if (index <= 0 || index >= static_cast<int>(std::size(PRINT_SIZES))) return;
    const PrintSize& size = PRINT_SIZES[index];
    const int dpi = m_controls.dpi->value();
    m_controls.width->setText(QString::number(pixelsFor(size.width, size.unitsPerInch, dpi)));
    m_controls.height->setText(QString::number(pixelsFor(size.height, size.unitsPerInch, dpi)));
}

void PosterDialog::formatChosen() {
    const std::string suffix = m_controls.format->currentData().toString().toStdString();
    m_controls.file->setText(QString::fromStdString(
        withSuffix(m_controls.file->text().trimmed().toStdString(), suffix.c_str())));
}

void PosterDialog::browse() {
    const QString chosen =
        QFileDialog::getSaveFileName(this, tr("Render Poster"), m_controls.file->text(),
                                     tr("Pictures (*.png *.tif *.tiff *.exr);;All files (*)"));
    if (!chosen.isEmpty()) m_controls.file->setText(chosen);
}

void PosterDialog::accept() {
    // Refusals that need no answer keep the dialog open for a correction.
    PosterRequest r = request();
    if (posterNeedsTiff(r)) r.out = withSuffix(r.out, ".tif");
    const std::string problem = checkPosterRequest(r);
    if (!problem.empty()) {
        refuse(problem);
        return;
    }
    QDialog::accept();
}

StudioPoster* startPoster(QWidget* owner, PosterRequest request) {
    if (posterNeedsTiff(request)) {
        const std::string tiff = withSuffix(request.out, ".tif");
        const MsgAnswer answer = platform().messageBox(
            WindowId::Main,
            "A poster of " + std::to_string(request.width) + " x " +
                std::to_string(request.height) +
                " pixels is too large for PNG readers. Write it as TIFF (" + tiff + ") instead?",
            "Render Poster", MsgButtons::YesNo, MsgIcon::Question);
        if (answer != MsgAnswer::Yes) return nullptr;
        request.out = tiff;
    }
    const std::string problem = checkPosterRequest(request);
    if (!problem.empty()) {
        refuse(problem);
        return nullptr;
    }
    // The render thread must rest before the frame size changes under it.
    if (!stopFlightAndCheckParked()) {
        retryWhenIdle(owner, [owner, request] { startPoster(owner, request); });
        return nullptr;
    }
    auto* poster = new StudioPoster(owner);
    std::string error, note;
    if (!poster->start(request, error, note)) {
        delete poster;
        refuse(error);
        return nullptr;
    }
    auto* bar = new QProgressDialog(owner);
    bar->setWindowTitle(QObject::tr("Render Poster"));
    QString label = QObject::tr("Rendering %1 x %2 pixels in %3 tiles into %4")
                        .arg(request.width)
                        .arg(request.height)
                        .arg(poster->total())
                        .arg(QString::fromStdString(request.out));
    if (!note.empty()) label += "\n" + QString::fromStdString(note);
    bar->setLabelText(label);
    bar->setRange(0, poster->total());
    bar->setAutoReset(false);
    bar->setAutoClose(false);
    bar->setMinimumDuration(0);
    // The other windows wait (their commands would change what the tiles
    // read), but the event loop runs: everything keeps painting.
    bar->setWindowModality(Qt::ApplicationModal);
    QObject::connect(poster, &StudioPoster::progress, bar,
                     [bar](int done, int) { bar->setValue(done); });
    QObject::connect(bar, &QProgressDialog::canceled, poster, &StudioPoster::cancel);
    QObject::connect(poster, &StudioPoster::ended, bar,
                     [bar, poster](bool ok, const QString& message) {
                         bar->hide();
                         bar->deleteLater();
                         poster->deleteLater();
                         if (!ok && !message.isEmpty())
                             platform().messageBox(WindowId::Main, message.toStdString(),
                                                   "Render Poster", MsgButtons::Ok, MsgIcon::Error);
                     });
    bar->show();
    return poster;
}

void runPosterDialog(QWidget* owner) {
    PosterDialog dialog(owner);
    if (dialog.exec() != QDialog::Accepted) return;
    startPoster(owner, dialog.request());
}

} // namespace vortigo
