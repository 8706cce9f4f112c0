#include "ui/OutputDialog.h"

#include "core/Handoff.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/StatusLine.h"
#include "media/Capture.h"
#include "persist/Numbers.h"
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
    ProjectState& s = state();
    s.flightMode = FLIGHT_STOPPED;
    setWindowTitle(tr("Select Output"));
    setModal(true);

    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    auto edit = [&](int id, const QString& text, bool digitsOnly) {
        auto* e = new QLineEdit(text, this);
        if (digitsOnly) e->setValidator(digits);
        m_controls[id] = e;
        return e;
    };
    auto check = [&](int id, const QString& label, int value) {
        auto* c = new QCheckBox(label, this);
        c->setChecked(value != 0);
        m_controls[id] = c;
        return c;
    };
    auto button = [&](int id, const QString& label) {
        auto* b = new QPushButton(label, this);
        b->setAutoDefault(false);
        m_controls[id] = b;
        connect(b, &QPushButton::clicked, this, [this, id] { onCommand(id); });
        return b;
    };

    edit(IDC_OUTPUT_WIDTH, wholeText(s.imageWidth), true);
    edit(IDC_OUTPUT_HEIGHT, wholeText(s.imageHeight), true);
    edit(IDC_OUTPUT_FPS, wholeText(s.aviFps), true);
    check(IDC_OUTPUT_MOTION_BLUR, tr("Motion Blur"), s.useMotionBlur);
    check(IDC_OUTPUT_DESPECKLE, tr("Despeckle"), s.despeckle);
    check(IDC_OUTPUT_SUPER_SAMPLE, tr("Super Sample"), s.superSample);
    check(IDC_OUTPUT_DOF, tr("Depth of Field"), s.dofEnabled);
    edit(IDC_OUTPUT_DOF_SCALE, QString::fromStdString(formatC("%.4f", s.dofScale)), false);
    edit(IDC_OUTPUT_DOF_OFFSET, QString::fromStdString(formatC("%.4f", s.dofOffset)), false);
    edit(IDC_OUTPUT_MAX_DEPTH, QString::fromStdString(formatC("%.4f", s.maxDepth)), false);
    edit(IDC_OUTPUT_FILE, QString::fromUtf8(s.outputFile), false);
    button(IDC_OUTPUT_FILE_BROWSE, QStringLiteral("..."));
    edit(IDC_OUTPUT_AUDIO, QString::fromUtf8(s.audioFile), false);
    button(IDC_OUTPUT_AUDIO_BROWSE, QStringLiteral("..."));
    edit(IDC_OUTPUT_MAX_AVI_FRAMES, wholeText(s.maxAviFrames), true);
    // The acceleration is a fraction: a digits-only field could not take its
    // decimal point.
    edit(IDC_OUTPUT_ACCELERATION,
         QString::fromStdString(formatC("%.5f", static_cast<double>(s.flightAcceleration))), false);
    button(IDC_OUTPUT_SAVE_DEFAULTS, tr("Save as Defaults"));
    QPushButton* ok = button(IDC_OUTPUT_OK, tr("OK"));
    ok->setDefault(true);
    button(IDC_OUTPUT_CANCEL, tr("Cancel"));
    for (auto& [id, widget] : m_controls)
        widget->setObjectName(QString::number(id));

    auto* grid = new QGridLayout(this);
    auto label = [&](const QString& text, int row, int column) {
        grid->addWidget(new QLabel(text, this), row, column);
    };
    label(tr("Width"), 0, 0);
    grid->addWidget(control(IDC_OUTPUT_WIDTH), 0, 1);
    label(tr("Height"), 0, 2);
    grid->addWidget(control(IDC_OUTPUT_HEIGHT), 0, 3);
    label(tr("FPS"), 0, 4);
    grid->addWidget(control(IDC_OUTPUT_FPS), 0, 5);
    grid->addWidget(control(IDC_OUTPUT_MOTION_BLUR), 1, 0, 1, 2);
    grid->addWidget(control(IDC_OUTPUT_DESPECKLE), 1, 2, 1, 2);
    grid->addWidget(control(IDC_OUTPUT_SUPER_SAMPLE), 1, 4, 1, 2);
    grid->addWidget(control(IDC_OUTPUT_DOF), 2, 0, 1, 2);
    label(tr("Scale"), 2, 2);
    grid->addWidget(control(IDC_OUTPUT_DOF_SCALE), 2, 3);
    label(tr("Offset"), 2, 4);
    grid->addWidget(control(IDC_OUTPUT_DOF_OFFSET), 2, 5);
    label(tr("Max Depth"), 3, 0);
    grid->addWidget(control(IDC_OUTPUT_MAX_DEPTH), 3, 1);
    label(tr("Max AVI Frames"), 3, 2);
    grid->addWidget(control(IDC_OUTPUT_MAX_AVI_FRAMES), 3, 3);
    label(tr("Acceleration"), 3, 4);
    grid->addWidget(control(IDC_OUTPUT_ACCELERATION), 3, 5);
    label(tr("File"), 4, 0);
    grid->addWidget(control(IDC_OUTPUT_FILE), 4, 1, 1, 4);
    grid->addWidget(control(IDC_OUTPUT_FILE_BROWSE), 4, 5);
    label(tr("Audio"), 5, 0);
    grid->addWidget(control(IDC_OUTPUT_AUDIO), 5, 1, 1, 4);
    grid->addWidget(control(IDC_OUTPUT_AUDIO_BROWSE), 5, 5);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(control(IDC_OUTPUT_SAVE_DEFAULTS));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(control(IDC_OUTPUT_CANCEL));
    grid->addLayout(buttons, 6, 0, 1, 6);
    setMinimumWidth(540);
}

QWidget* OutputDialog::control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
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
    auto text = [&](int id) { return static_cast<QLineEdit*>(control(id)); };
    auto checked = [&](int id) {
        return static_cast<QCheckBox*>(control(id))->isChecked() ? 1 : 0;
    };
    Values v;
    v.width = wholeNumber(text(IDC_OUTPUT_WIDTH)->text());
    v.height = wholeNumber(text(IDC_OUTPUT_HEIGHT)->text());
    v.fps = wholeNumber(text(IDC_OUTPUT_FPS)->text());
    v.maxAviFrames = wholeNumber(text(IDC_OUTPUT_MAX_AVI_FRAMES)->text());
    v.motionBlur = checked(IDC_OUTPUT_MOTION_BLUR);
    v.despeckle = checked(IDC_OUTPUT_DESPECKLE);
    v.superSample = checked(IDC_OUTPUT_SUPER_SAMPLE);
    v.dof = checked(IDC_OUTPUT_DOF);
    v.dofScale = realFrom(text(IDC_OUTPUT_DOF_SCALE));
    v.dofOffset = realFrom(text(IDC_OUTPUT_DOF_OFFSET));
    v.maxDepth = realFrom(text(IDC_OUTPUT_MAX_DEPTH));
    v.acceleration = realFrom(text(IDC_OUTPUT_ACCELERATION));
    v.outputFile = pathFrom(text(IDC_OUTPUT_FILE));
    v.audioFile = pathFrom(text(IDC_OUTPUT_AUDIO));
    return v;
}

void OutputDialog::onCommand(int id) {
    switch (id) {
    case IDC_OUTPUT_OK:
        apply();
        break;
    case IDC_OUTPUT_CANCEL:
        reject();
        break;
    case IDC_OUTPUT_FILE_BROWSE:
        fileDialog(this, outputFileRequest(), static_cast<QLineEdit*>(control(IDC_OUTPUT_FILE)));
        break;
    case IDC_OUTPUT_AUDIO_BROWSE:
        fileDialog(this, waveFileRequest(), static_cast<QLineEdit*>(control(IDC_OUTPUT_AUDIO)));
        break;
    case IDC_OUTPUT_SAVE_DEFAULTS:
        saveAsDefaults();
        break;
    default:
        break;
    }
}

void OutputDialog::apply() {
    // Sizes and buffers change under the render thread only while it rests.
    if (!stopFlightAndCheckParked()) {
        retryWhenIdle(this, [this] { onCommand(IDC_OUTPUT_OK); });
        return;
    }
    ProjectState& s = state();
    if (s.capturing) finishCapture();
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
    s.imageWidth = v.width;
    s.imageHeight = v.height;
    s.aviFps = v.fps;
    s.maxAviFrames = v.maxAviFrames;
    s.useMotionBlur = v.motionBlur;
    s.despeckle = v.despeckle;
    s.superSample = v.superSample;
    s.dofEnabled = v.dof;
    s.dofScale = v.dofScale;
    s.dofOffset = v.dofOffset;
    s.maxDepth = v.maxDepth;
    s.flightAcceleration = v.acceleration;
    storePath(s.outputFile, v.outputFile);
    storePath(s.audioFile, v.audioFile);
    runState().buffersReady.clear();
    runState().resizeRequest.set();
    accept();
}

void OutputDialog::saveAsDefaults() {
    const Values v = readControls();
    writeDefaults(optionsPath(), SavedDefaults{.width = v.width,
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
