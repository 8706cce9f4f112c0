#include "ui/ParametersDialog.h"

#include "core/ProjectState.h"
#include "core/RunState.h"
#include "flight/QuatMath.h"
#include "media/Backgrounds.h"
#include "persist/Numbers.h"
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
    ProjectState& s = state();
    if (runState().drawing()) {
        retryWhenIdle(QCoreApplication::instance(), [] { reloadBackgrounds(); });
        return;
    }
    // The old pictures of the layers reloaded here must not count against
    // the budget the new ones share.
    for (LayerSlot& layer : s.layers)
        if (std::strlen(layer.backgroundFile) >= 2) layer.backgroundPixels.reset();
    for (int i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& layer = s.layers[i];
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
    ProjectState& s = state();
    orientationToAngles();

    auto identify = [this](QWidget* widget, int id) {
        widget->setObjectName(QString::number(id));
        m_controls[id] = widget;
    };
    auto* grid = new QGridLayout;
    int row = 0;
    auto numberRow = [&](const char* label, const int* ids, const float* values, int count) {
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        for (int i = 0; i < count; ++i) {
            auto* box = new QLineEdit(shown(values[i]), this);
            identify(box, ids[i]);
            grid->addWidget(box, row, 1 + i);
        }
        ++row;
    };
    const float eye[3] = {s.xCenter, s.yCenter, s.zLens};
    numberRow("eye", IDC_PARAM_EYE.data(), eye, 3);
    numberRow("cam rot", IDC_PARAM_ROTATION.data(), s.cameraRotation, 3);
    numberRow("time", &IDC_PARAM_TIME, &s.animTime, 1);
    numberRow("speed", &IDC_PARAM_SPEED, &s.animationSpeed, 1);
    for (int i = 0; i < 4; ++i) {
        const std::string label = "udef[" + std::to_string(i) + "]";
        numberRow(label.c_str(), &IDC_PARAM_UDEF[static_cast<size_t>(i)], &s.udef[i], 1);
    }

    grid->addWidget(new QLabel(QStringLiteral("textures"), this), row, 0);
    grid->addWidget(new QLabel(QStringLiteral("frame"), this), row, 3);
    ++row;
    for (size_t i = 0; i < LAYER_COUNT; ++i, ++row) {
        auto* texture = new QLineEdit(pathForEdit(s.layers[i].backgroundFile), this);
        auto* browseButton = new QPushButton(QStringLiteral("..."), this);
        auto* frame = new QLineEdit(
            QString::number(s.layers[i].videoFrameCounter
                                ? static_cast<uint32_t>(*s.layers[i].videoFrameCounter)
                                : 0u),
            this);
        identify(texture, IDC_PARAM_TEXTURE[i]);
        identify(browseButton, IDC_PARAM_BROWSE[i]);
        identify(frame, IDC_PARAM_FRAME[i]);
        const int textureId = IDC_PARAM_TEXTURE[i];
        connect(browseButton, &QPushButton::clicked, this,
                [this, textureId] { browse(textureId); });
        grid->addWidget(texture, row, 0, 1, 2);
        grid->addWidget(browseButton, row, 2);
        grid->addWidget(frame, row, 3);
    }

    auto* zeroButton = new QPushButton(QStringLiteral("Zero"), this);
    auto* okButton = new QPushButton(QStringLiteral("OK"), this);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    okButton->setDefault(true);
    identify(zeroButton, IDC_PARAM_ZERO);
    identify(okButton, IDC_PARAM_OK);
    identify(cancelButton, IDC_PARAM_CANCEL);
    connect(zeroButton, &QPushButton::clicked, this, [this] { zero(); });
    connect(okButton, &QPushButton::clicked, this, [this] { applyAndClose(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { done(IDC_PARAM_CANCEL); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(zeroButton);
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

QWidget* ParametersDialog::control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QLineEdit* ParametersDialog::edit(int id) const {
    return static_cast<QLineEdit*>(control(id));
}

double ParametersDialog::number(int id) const {
    return parseReal(edit(id)->text().toLatin1().constData());
}

void ParametersDialog::zero() {
    const std::pair<int, const char*> values[] = {
        {IDC_PARAM_EYE[0], "0.0"},      {IDC_PARAM_EYE[1], "0.0001"},
        {IDC_PARAM_EYE[2], "-3.00"},    {IDC_PARAM_ROTATION[0], "0.0"},
        {IDC_PARAM_ROTATION[1], "0.0"}, {IDC_PARAM_ROTATION[2], "0.0"},
        {IDC_PARAM_TIME, "0.0"},        {IDC_PARAM_SPEED, "0.01"},
        {IDC_PARAM_UDEF[0], "0.0"},     {IDC_PARAM_UDEF[1], "0.0"},
        {IDC_PARAM_UDEF[2], "0.0"},     {IDC_PARAM_UDEF[3], "0.0"},
    };
    for (const auto& [id, text] : values)
        edit(id)->setText(QString::fromLatin1(text));
}

void ParametersDialog::applyAndClose() {
    ProjectState& s = state();
    for (size_t i = 0; i < LAYER_COUNT; ++i) {
        const QString text = edit(IDC_PARAM_TEXTURE[i])->text();
        if (fitsAsBackground(text, s.layers[i].backgroundFile)) continue;
        refuseLongName(text);
        return;
    }
    s.xCenter = static_cast<float>(number(IDC_PARAM_EYE[0]));
    s.yCenter = static_cast<float>(number(IDC_PARAM_EYE[1]));
    s.zLens = static_cast<float>(number(IDC_PARAM_EYE[2]));
    float angles[3];
    for (size_t i = 0; i < 3; ++i)
        angles[i] = static_cast<float>(number(IDC_PARAM_ROTATION[i]));
    s.animTime = static_cast<float>(number(IDC_PARAM_TIME));
    s.animationSpeed = static_cast<float>(number(IDC_PARAM_SPEED));
    for (size_t i = 0; i < 4; ++i)
        s.udef[i] = static_cast<float>(number(IDC_PARAM_UDEF[i]));
    for (size_t i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& layer = s.layers[i];
        const std::string original = layer.backgroundFile;
        storePath(edit(IDC_PARAM_TEXTURE[i])->text(), original.c_str(), layer.backgroundFile);
        if (layer.videoFrameCounter)
            *layer.videoFrameCounter = readFrameCounter(edit(IDC_PARAM_FRAME[i])->text());
    }

    // Angles read back from "%.4f" would rebuild a slightly different
    // orientation: only a real change replaces it.
    bool turned = false;
    for (int i = 0; i < 3; ++i)
        if (std::fabs(angles[i] - s.cameraRotation[i]) > 0.01f) turned = true;
    if (turned) {
        std::copy(angles, angles + 3, s.cameraRotation);
        anglesToOrientation();
    }

    reloadBackgrounds();
    // The Trace window takes it from the queue like every other advance.
    platform().postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    done(IDC_PARAM_OK);
}

void ParametersDialog::browse(int textureId) {
    QLineEdit* box = edit(textureId);
    if (!box) return;
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
