#include "ui/ParametersDialog.h"

#include "core/CameraFlight.h"
#include "core/Numbers.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "flight/QuatMath.h"
#include "media/Backgrounds.h"
#include "ui/EditorText.h"
#include "ui/IdleRetry.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <cstring>

namespace vortigo {
namespace {

BackgroundLoader& loader() {
    static BackgroundLoader current;
    return current;
}

uint8_t loadLayerBackground(int layer, const char* path, int32_t* counter) {
    return loader() ? loader()(layer, path, counter) : loadBackground(layer, path, counter);
}

double number(const QLineEdit* box) {
    return parseReal(box->text().toLatin1().constData());
}

QString shown(double value) {
    return QString::fromStdString(formatC("%.4f", value));
}

// File names are bytes: shown by the editor's rule so that an unedited name
// comes back unchanged.
QString pathForEdit(const char* path) {
    return decodeText(path, encodingOf(path));
}

constexpr size_t BACKGROUND_NAME_BYTES = 255;

// A name cut to fit would load another file, or none.
bool fitsAsBackground(const QString& text, const char* original) {
    return prefixThatFits(text, encodingOf(original), 1, BACKGROUND_NAME_BYTES) == text.size();
}

void refuseLongName(const QString& text) {
    platform().messageBox(WindowId::Main,
                          formatC("The background name is longer than %zu bytes: %s",
                                  BACKGROUND_NAME_BYTES, text.toUtf8().constData()),
                          "Entry Error", MsgButtons::Ok, MsgIcon::Warning);
}

void storePath(const QString& text, const char* original, char* field) {
    const TextEncoding encoding = encodingOf(original);
    const qsizetype fits = prefixThatFits(text, encoding, 1, BACKGROUND_NAME_BYTES);
    const std::string bytes = encodeText(QStringView(text).left(fits), encoding);
    std::memcpy(field, bytes.data(), bytes.size());
    field[bytes.size()] = 0;
}

// The decoders replace a layer's pixels, which the render thread reads
// while it draws: they run only while it rests, else once it does.
void reloadBackgrounds() {
    ProjectFiles& files = projectFiles();
    if (runState().drawing()) {
        retryWhenIdle(QCoreApplication::instance(), [] { reloadBackgrounds(); });
        return;
    }
    // The old pictures of the layers reloaded here must not count against
    // the budget the new ones share.
    for (LayerSlot& layer : files.layers)
        if (std::strlen(layer.backgroundFile) >= 2) layer.backgroundPixels.reset();
    for (int i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& layer = files.layers[i];
        if (std::strlen(layer.backgroundFile) < 2)
            layer.backgroundChanged = 0;
        else
            layer.backgroundChanged =
                loadLayerBackground(i, layer.backgroundFile, layer.videoFrameCounter);
    }
}

} // namespace

void ParametersDialog::setBackgroundLoader(BackgroundLoader loaderFunction) {
    loader() = std::move(loaderFunction);
}

QString initialFolderOf(const QString& path) {
    const qsizetype slash =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return slash < 0 ? QString() : path.left(slash + 1);
}

int32_t readFrameCounter(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    int64_t value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        digits = true;
        value = value * 10 + (text[i].unicode() - '0');
        if (value > INT32_MAX) return 0;
    }
    return digits ? static_cast<int32_t>(value) : 0;
}

ParametersDialog::ParametersDialog(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Parameters"));
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    orientationToAngles();

    Controls& c = m_controls;
    auto* grid = new QGridLayout;
    int row = 0;
    auto numberRow = [&](const char* label, QLineEdit** boxes, const float* values, int count) {
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        for (int i = 0; i < count; ++i) {
            boxes[i] = new QLineEdit(shown(values[i]), this);
            grid->addWidget(boxes[i], row, 1 + i);
        }
        ++row;
    };
    const float eye[3] = {camera.xCenter, camera.yCenter, camera.zLens};
    numberRow("eye", c.eye.data(), eye, 3);
    numberRow("cam rot", c.rotation.data(), camera.cameraRotation, 3);
    numberRow("time", &c.time, &camera.animTime, 1);
    numberRow("speed", &c.speed, &camera.animationSpeed, 1);
    for (size_t i = 0; i < 4; ++i) {
        const std::string label = "udef[" + std::to_string(i) + "]";
        numberRow(label.c_str(), &c.udef[i], &camera.udef[i], 1);
    }

    grid->addWidget(new QLabel(QStringLiteral("textures"), this), row, 0);
    grid->addWidget(new QLabel(QStringLiteral("frame"), this), row, 3);
    ++row;
    for (size_t i = 0; i < LAYER_COUNT; ++i, ++row) {
        c.texture[i] = new QLineEdit(pathForEdit(files.layers[i].backgroundFile), this);
        c.browse[i] = new QPushButton(QStringLiteral("..."), this);
        c.frame[i] = new QLineEdit(
            QString::number(files.layers[i].videoFrameCounter
                                ? static_cast<uint32_t>(*files.layers[i].videoFrameCounter)
                                : 0u),
            this);
        connect(c.browse[i], &QPushButton::clicked, this, [this, i] { browse(i); });
        grid->addWidget(c.texture[i], row, 0, 1, 2);
        grid->addWidget(c.browse[i], row, 2);
        grid->addWidget(c.frame[i], row, 3);
    }

    c.zero = new QPushButton(QStringLiteral("Zero"), this);
    c.ok = new QPushButton(QStringLiteral("OK"), this);
    c.cancel = new QPushButton(QStringLiteral("Cancel"), this);
    c.ok->setDefault(true);
    connect(c.zero, &QPushButton::clicked, this, [this] { zero(); });
    connect(c.ok, &QPushButton::clicked, this, [this] { applyAndClose(); });
    connect(c.cancel, &QPushButton::clicked, this, [this] { done(RESULT_CANCEL); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(c.zero);
    buttons->addStretch(1);
    buttons->addWidget(c.ok);
    buttons->addWidget(c.cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

void ParametersDialog::zero() {
    const Controls& c = m_controls;
    const std::pair<QLineEdit*, const char*> values[] = {
        {c.eye[0], "0.0"},      {c.eye[1], "0.0001"},   {c.eye[2], "-3.00"}, {c.rotation[0], "0.0"},
        {c.rotation[1], "0.0"}, {c.rotation[2], "0.0"}, {c.time, "0.0"},     {c.speed, "0.01"},
        {c.udef[0], "0.0"},     {c.udef[1], "0.0"},     {c.udef[2], "0.0"},  {c.udef[3], "0.0"},
    };
    for (const auto& [box, text] : values)
        box->setText(QString::fromLatin1(text));
}

void ParametersDialog::applyAndClose() {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    const Controls& c = m_controls;
    for (size_t i = 0; i < LAYER_COUNT; ++i) {
        const QString text = c.texture[i]->text();
        if (fitsAsBackground(text, files.layers[i].backgroundFile)) continue;
        refuseLongName(text);
        return;
    }
    camera.xCenter = static_cast<float>(number(c.eye[0]));
    camera.yCenter = static_cast<float>(number(c.eye[1]));
    camera.zLens = static_cast<float>(number(c.eye[2]));
    float angles[3];
    for (size_t i = 0; i < 3; ++i)
        angles[i] = static_cast<float>(number(c.rotation[i]));
    camera.animTime = static_cast<float>(number(c.time));
    camera.animationSpeed = static_cast<float>(number(c.speed));
    for (size_t i = 0; i < 4; ++i)
        camera.udef[i] = static_cast<float>(number(c.udef[i]));
    for (size_t i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& layer = files.layers[i];
        const std::string original = layer.backgroundFile;
        storePath(c.texture[i]->text(), original.c_str(), layer.backgroundFile);
        if (layer.videoFrameCounter)
            *layer.videoFrameCounter = readFrameCounter(c.frame[i]->text());
    }

    // Angles read back from "%.4f" would rebuild a slightly different
    // orientation: only a real change replaces it.
    bool turned = false;
    for (int i = 0; i < 3; ++i)
        if (std::fabs(angles[i] - camera.cameraRotation[i]) > 0.01f) turned = true;
    if (turned) {
        std::copy(angles, angles + 3, camera.cameraRotation);
        anglesToOrientation();
    }

    reloadBackgrounds();
    // The Trace window takes it from the queue like every other advance.
    platform().postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    done(RESULT_OK);
}

void ParametersDialog::browse(size_t layer) {
    if (layer >= m_controls.texture.size()) return;
    QLineEdit* box = m_controls.texture[layer];
    QFileDialog dialog(this, QStringLiteral("Background Image"), initialFolderOf(box->text()),
                       QStringLiteral("Image Files (*.jpg *.bmp *.tga *.avi)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // No default suffix: Qt would add it to a name without a dot, existing
    // or not, and then not find the file.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString chosen = dialog.selectedFiles().first();
    if (!fitsAsBackground(chosen, "")) {
        refuseLongName(chosen);
        return;
    }
    box->setText(chosen);
}

void runParametersDialog(QWidget* owner) {
    ParametersDialog dialog(owner);
    dialog.exec();
}

} // namespace vortigo
