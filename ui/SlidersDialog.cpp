#include "ui/SlidersDialog.h"

#include "core/CameraFlight.h"
#include "core/ProjectState.h"
#include "ui/EditorState.h"
#include "ui/EditorText.h"
#include "ui/MainWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <cmath>
#include <cstring>

namespace vortigo {
namespace {

QPointer<SlidersDialog> g_dialog;

ScrollRequest requestOf(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return ScrollRequest::LineLeft;
    case QAbstractSlider::SliderSingleStepAdd:
        return ScrollRequest::LineRight;
    case QAbstractSlider::SliderPageStepSub:
        return ScrollRequest::PageLeft;
    case QAbstractSlider::SliderPageStepAdd:
        return ScrollRequest::PageRight;
    case QAbstractSlider::SliderMove:
        return ScrollRequest::ThumbTrack;
    default:
        return ScrollRequest::End;
    }
}

} // namespace

int sliderPositionOf(float value) {
    return static_cast<int>(std::trunc(100.0 * static_cast<double>(value) + 100.0));
}

float sliderValueOf(int position) {
    return static_cast<float>(position - 100) / 100.0f;
}

SlidersDialog::SlidersDialog(MainWindow* owner) : QDialog(owner), m_owner(owner) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("Sliders (udef[4]..[11])"));
    Controls& c = m_controls;
    auto* grid = new QGridLayout;
    for (int k = SLIDER_FIRST; k <= SLIDER_LAST; ++k) {
        auto* bar = new QScrollBar(Qt::Horizontal, this);
        bar->setRange(0, 200);
        bar->setPageStep(1);
        bar->setSingleStep(1);
        bar->setMinimumWidth(200);
        auto* value = new QLineEdit(this);
        value->setReadOnly(true);
        const int row = k - SLIDER_FIRST;
        c.bars[static_cast<size_t>(row)] = bar;
        c.values[static_cast<size_t>(row)] = value;
        grid->addWidget(new QLabel(QString::number(k), this), row, 0);
        grid->addWidget(bar, row, 1);
        grid->addWidget(value, row, 2);
        // The bar has already moved by the action when this runs; the
        // request decides where it ends up.
        connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar, k](int action) {
            const int before = bar->value();
            const int proposed = bar->sliderPosition();
            bar->setSliderPosition(before);
            scroll(k, requestOf(action), proposed);
        });
    }
    grid->setColumnStretch(1, 1);

    c.insert = new QPushButton(QStringLiteral("Insert"), this);
    c.cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(c.insert, &QPushButton::clicked, this, [this] { insert(); });
    connect(c.cancel, &QPushButton::clicked, this, [this] { cancel(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(c.insert);
    buttons->addWidget(c.cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    g_dialog = this;
    m_attached = true;
    editorState().slidersOpen = 1;
    for (int k = SLIDER_FIRST; k <= SLIDER_LAST; ++k)
        showRow(k);
}

SlidersDialog::~SlidersDialog() {
    detach();
}

void SlidersDialog::showRow(int k) {
    const float value = cameraView().udef[k];
    const auto row = static_cast<size_t>(k - SLIDER_FIRST);
    m_controls.values[row]->setText(QString::fromStdString(formatC("%.4f", value)));
    m_controls.bars[row]->setValue(sliderPositionOf(value));
}

void SlidersDialog::scroll(int k, ScrollRequest request, int thumb) {
    if (k < SLIDER_FIRST || k > SLIDER_LAST) return;
    const auto row = static_cast<size_t>(k - SLIDER_FIRST);
    QScrollBar* bar = m_controls.bars[row];
    const int p = bar->value();
    int position;
    switch (request) {
    case ScrollRequest::LineLeft:
        position = p == 0 ? 0 : p - 1;
        break;
    case ScrollRequest::LineRight:
        position = p == 200 ? 200 : p + 1;
        break;
    case ScrollRequest::ThumbPosition:
    case ScrollRequest::ThumbTrack:
        position = thumb;
        break;
    default:
        return;
    }
    cameraFlight().udef[k] = sliderValueOf(position);
    m_controls.values[row]->setText(QString::fromStdString(formatC("%.4f", cameraView().udef[k])));
    bar->setValue(position);
    // The Trace window takes it from the queue like every other advance.
    platform().postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
}

void SlidersDialog::insert() {
    detach();
    const MsgAnswer answer = platform().messageBox(
        WindowId::Main, "Are you sure you want to insert slider values as text?",
        "Insert Confirmation", MsgButtons::YesNo, MsgIcon::Question);
    if (answer == MsgAnswer::Yes && m_owner) {
        EditorState& editor = editorState();
        m_owner->storeShownText();
        if (char* buffer = textOfKind(editor.currentKind)) {
            std::string text = buffer;
            if (insertSliderValues(text)) {
                std::memcpy(buffer, text.data(), text.size());
                buffer[text.size()] = 0;
                m_owner->showCurrentText();
                // The values are the user's change: the text must not be
                // dropped unsaved at exit.
                m_owner->markShownTextEdited();
            }
        }
    }
    close();
}

void SlidersDialog::cancel() {
    detach();
    close();
}

void SlidersDialog::done(int result) {
    // Escape and the close box end here.
    detach();
    QDialog::done(result);
}

void SlidersDialog::detach() {
    if (!m_attached) return;
    m_attached = false;
    editorState().slidersOpen = 0;
    if (g_dialog == this) g_dialog = nullptr;
}

SlidersDialog* openSlidersDialog(MainWindow* owner) {
    if (editorState().slidersOpen) return nullptr;
    auto* dialog = new SlidersDialog(owner);
    dialog->show();
    return dialog;
}

bool insertSliderValues(std::string& text) {
    if (text.size() > TEXT_LIMIT) text.resize(TEXT_LIMIT);
    bool changed = false;
    const float* udef = cameraView().udef.get();
    for (int k = SLIDER_FIRST; k <= SLIDER_LAST; ++k) {
        const std::string name = formatC("udef[%i]", k);
        const std::string value = formatC("%.4f", udef[k]);
        changed |= replaceFirst(text, name, value, TEXT_LIMIT);
    }
    return changed;
}

} // namespace vortigo
