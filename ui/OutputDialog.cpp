#include "ui/OutputDialog.h"

#include "control/StatusLine.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/Handoff.h"
#include "core/Numbers.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "media/Capture.h"
#include "persist/Options.h"
#include "persist/ProjectFile.h"
#include "ui/FileFlows.h"
#include "ui/IdleRetry.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <climits>

namespace vortigo {
namespace {

constexpr int REAL_TEXT_LIMIT = 255;

QString wholeText(int value) {
    return QString::number(static_cast<unsigned>(value));
}

float realFrom(const QLineEdit* edit) {
    return parseFloat(edit->text().left(REAL_TEXT_LIMIT).toStdString().c_str());
}

// Whole: a name cut to fit would name another file (OK refuses one that
// does not fit).
std::string pathFrom(const QLineEdit* edit) {
    return edit->text().toStdString();
}

} // namespace

OutputDialog::OutputDialog(QWidget* owner) : QDialog(owner) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    const CaptureState& capture = captureView();
    camera.flightMode = FLIGHT_STOPPED;
    setWindowTitle(tr("Select Output"));
    setModal(true);

    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    auto edit = [&](const QString& text, bool digitsOnly) {
        auto* e = new QLineEdit(text, this);
        if (digitsOnly) e->setValidator(digits);
        return e;
    };
    auto check = [&](const QString& label, int value) {
        auto* c = new QCheckBox(label, this);
        c->setChecked(value != 0);
        return c;
    };
    auto button = [&](const QString& label, void (OutputDialog::*work)()) {
        auto* b = new QPushButton(label, this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, work);
        return b;
    };
    auto real = [](double value) { return QString::fromStdString(formatC("%.4f", value)); };

    Controls& c = m_controls;
    c.width = edit(wholeText(files.imageWidth), true);
    c.height = edit(wholeText(files.imageHeight), true);
    c.fps = edit(wholeText(capture.aviFps), true);
    c.motionBlur = check(tr("Motion Blur"), capture.useMotionBlur);
    c.despeckle = check(tr("Despeckle"), files.despeckle);
    c.superSample = check(tr("Super Sample"), files.superSample);
    c.dof = check(tr("Depth of Field"), files.dofEnabled);
    c.dofScale = edit(real(files.dofScale), false);
    c.dofOffset = edit(real(files.dofOffset), false);
    c.maxDepth = edit(real(files.maxDepth), false);
    c.file = edit(QString::fromUtf8(capture.outputFile), false);
    c.fileBrowse = button(QStringLiteral("..."), &OutputDialog::browseOutputFile);
    c.audio = edit(QString::fromUtf8(capture.audioFile), false);
    c.audioBrowse = button(QStringLiteral("..."), &OutputDialog::browseAudioFile);
    c.maxAviFrames = edit(wholeText(capture.maxAviFrames), true);
    // The acceleration is a fraction: a digits-only field could not take its
    // decimal point.
    c.acceleration = edit(
        QString::fromStdString(formatC("%.5f", static_cast<double>(camera.flightAcceleration))),
        false);
    c.saveDefaults = button(tr("Save as Defaults"), &OutputDialog::saveAsDefaults);
    c.ok = button(tr("OK"), &OutputDialog::apply);
    c.ok->setDefault(true);
    c.cancel = button(tr("Cancel"), &OutputDialog::reject);

    auto* grid = new QGridLayout(this);
    auto label = [&](const QString& text, int row, int column) {
        grid->addWidget(new QLabel(text, this), row, column);
    };
    label(tr("Width"), 0, 0);
    grid->addWidget(c.width, 0, 1);
    label(tr("Height"), 0, 2);
    grid->addWidget(c.height, 0, 3);
    label(tr("FPS"), 0, 4);
    grid->addWidget(c.fps, 0, 5);
    grid->addWidget(c.motionBlur, 1, 0, 1, 2);
    grid->addWidget(c.despeckle, 1, 2, 1, 2);
    grid->addWidget(c.superSample, 1, 4, 1, 2);
    grid->addWidget(c.dof, 2, 0, 1, 2);
    label(tr("Scale"), 2, 2);
    grid->addWidget(c.dofScale, 2, 3);
    label(tr("Offset"), 2, 4);
    grid->addWidget(c.dofOffset, 2, 5);
    label(tr("Max Depth"), 3, 0);
    grid->addWidget(c.maxDepth, 3, 1);
    label(tr("Max AVI Frames"), 3, 2);
    grid->addWidget(c.maxAviFrames, 3, 3);
    label(tr("Acceleration"), 3, 4);
    grid->addWidget(c.acceleration, 3, 5);
    label(tr("File"), 4, 0);
    grid->addWidget(c.file, 4, 1, 1, 4);
    grid->addWidget(c.fileBrowse, 4, 5);
    label(tr("Audio"), 5, 0);
    grid->addWidget(c.audio, 5, 1, 1, 4);
    grid->addWidget(c.audioBrowse, 5, 5);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(c.saveDefaults);
    buttons->addStretch();
    buttons->addWidget(c.ok);
    buttons->addWidget(c.cancel);
    grid->addLayout(buttons, 6, 0, 1, 6);
    setMinimumWidth(540);
}

int OutputDialog::wholeNumber(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return 0;
    int64_t value = 0;
    for (QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return 0;
        value = value * 10 + (c.unicode() - '0');
        if (value > INT_MAX) return 0;
    }
    return static_cast<int>(value);
}

OutputDialog::Values OutputDialog::readControls() const {
    const Controls& c = m_controls;
    auto checked = [](const QCheckBox* box) { return box->isChecked() ? 1 : 0; };
    Values v;
    v.width = wholeNumber(c.width->text());
    v.height = wholeNumber(c.height->text());
    v.fps = wholeNumber(c.fps->text());
    v.maxAviFrames = wholeNumber(c.maxAviFrames->text());
    v.motionBlur = checked(c.motionBlur);
    v.despeckle = checked(c.despeckle);
    v.superSample = checked(c.superSample);
    v.dof = checked(c.dof);
    v.dofScale = realFrom(c.dofScale);
    v.dofOffset = realFrom(c.dofOffset);
    v.maxDepth = realFrom(c.maxDepth);
    v.acceleration = realFrom(c.acceleration);
    v.outputFile = pathFrom(c.file);
    v.audioFile = pathFrom(c.audio);
    return v;
}

void OutputDialog::browseOutputFile() {
    fileDialog(this, outputFileRequest(), m_controls.file);
}

void OutputDialog::browseAudioFile() {
    fileDialog(this, waveFileRequest(), m_controls.audio);
}

void OutputDialog::apply() {
    // Sizes and buffers change under the render thread only while it rests.
    if (!stopFlightAndCheckParked()) {
        retryWhenIdle(this, [this] { apply(); });
        return;
    }
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    if (capture.capturing()) finishCapture();
    const Values v = readControls();
    if (v.width <= 0 || v.height <= 0 || v.fps <= 0) {
        platform().messageBox(WindowId::Main, "No negative values please.", "Entry Error",
                              MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    const std::pair<const char*, const std::string*> paths[] = {{"File", &v.outputFile},
                                                                {"Audio", &v.audioFile}};
    for (const auto& [field, path] : paths) {
        if (path->size() < static_cast<size_t>(PATH_SIZE)) continue;
        platform().messageBox(WindowId::Main,
                              formatC("The %s name is %zu bytes long; at most %i bytes fit.", field,
                                      path->size(), PATH_SIZE - 1),
                              "Entry Error", MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    files.imageWidth = v.width;
    files.imageHeight = v.height;
    capture.aviFps = v.fps;
    capture.maxAviFrames = v.maxAviFrames;
    capture.useMotionBlur = v.motionBlur;
    files.despeckle = v.despeckle;
    files.superSample = v.superSample;
    files.dofEnabled = v.dof;
    files.dofScale = v.dofScale;
    files.dofOffset = v.dofOffset;
    files.maxDepth = v.maxDepth;
    camera.flightAcceleration = v.acceleration;
    storePath(capture.outputFile, v.outputFile);
    storePath(capture.audioFile, v.audioFile);
    runState().buffersReady.clear();
    runState().resizeRequest.set();
    accept();
}

void OutputDialog::saveAsDefaults() {
    const Values v = readControls();
    writeDefaults(optionsPathForWriting(), SavedDefaults{.width = v.width,
                                                         .height = v.height,
                                                         .motionBlur = v.motionBlur,
                                                         .despeckle = v.despeckle,
                                                         .fps = v.fps,
                                                         .dof = v.dof,
                                                         .superSample = v.superSample,
                                                         .maxAviFrames = v.maxAviFrames,
                                                         .dofScale = v.dofScale,
                                                         .dofOffset = v.dofOffset,
                                                         .maxDepth = v.maxDepth,
                                                         .flightAcceleration = v.acceleration});
    platform().beep(350, 250);
}

void runOutputDialog(QWidget* owner) {
    OutputDialog dialog(owner);
    dialog.exec();
    updateStatusLine(WindowId::Trace);
}

} // namespace vortigo
