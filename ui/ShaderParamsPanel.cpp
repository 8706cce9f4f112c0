#include "ui/ShaderParamsPanel.h"

#include "platform/Platform.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace vortigo {
namespace {

QPointer<ShaderParamsPanel> g_panel;

constexpr int FLOAT_STEPS = 1000; // slider positions across a float's range
constexpr int POLL_MS = 200;      // how soon compiles and script changes show

int positionOf(const ParamDecl& d, float value) {
    if (d.type == ParamType::Int) return static_cast<int>(std::lround(value));
    const double t = (static_cast<double>(value) - d.minimum) / (d.maximum - d.minimum);
    return static_cast<int>(std::lround(std::clamp(t, 0.0, 1.0) * FLOAT_STEPS));
}

float valueOf(const ParamDecl& d, int position) {
    if (d.type == ParamType::Int) return static_cast<float>(position);
    return d.minimum + (d.maximum - d.minimum) * static_cast<float>(position) / FLOAT_STEPS;
}

QColor colourOf(const ParamValues& v) {
    return QColor::fromRgbF(v[0], v[1], v[2]);
}

void paintSwatch(QPushButton* button, const ParamValues& v) {
    button->setStyleSheet(QStringLiteral("background-color: %1").arg(colourOf(v).name()));
}

// The frame shows the change at once, whether or not the flight runs.
void redraw() {
    platform().postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
}

} // namespace

ShaderParamsPanel::ShaderParamsPanel(QWidget* owner) : QDialog(owner) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("Shader Parameters"));
    auto* outer = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    m_content = new QWidget(scroll);
    m_groups = new QVBoxLayout(m_content);
    scroll->setWidget(m_content);
    outer->addWidget(scroll);
    auto* buttons = new QHBoxLayout;
    m_resetAll = new QPushButton(QStringLiteral("Reset All"), this);
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(m_resetAll);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    outer->addLayout(buttons);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(m_resetAll, &QPushButton::clicked, this, [this] {
        shaderParams().resetAllToDefaults();
        m_revision = 0; // show the defaults
        refresh();
        redraw();
    });
    resize(460, 420);
    rebuild();
    connect(&m_poll, &QTimer::timeout, this, [this] { refresh(); });
    m_poll.start(POLL_MS);
}

void ShaderParamsPanel::refresh() {
    const ShaderParams& params = shaderParams();
    if (params.generation() != m_generation) {
        rebuild();
        return;
    }
    const uint64_t revision = params.valueRevision();
    if (revision == m_revision) return;
    m_revision = revision;
    for (Row& r : m_rows) {
        // A slider the user holds keeps what the hand says.
        if (std::any_of(r.sliders.begin(), r.sliders.end(),
                        [](const QSlider* s) { return s->isSliderDown(); }))
            continue;
        ParamValues now{};
        if (params.get(r.layer, r.decl.name, now) == r.count && now != r.values) {
            r.values = now;
            showValues(r);
        }
    }
}

void ShaderParamsPanel::rebuild() {
    const ShaderParams& params = shaderParams();
    m_generation = params.generation();
    m_revision = params.valueRevision();
    m_rows.clear();
    while (QLayoutItem* item = m_groups->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            // The old controls hold row numbers of the old rows: they say
            // nothing more before they go.
            for (QObject* child : w->findChildren<QObject*>())
                child->disconnect(this);
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    for (int layer = 0; layer < PARAM_LAYERS; ++layer)
        for (const ParamEntry& entry : params.entries(layer))
            if (entry.declared)
                m_rows.push_back(Row{layer,
                                     entry.decl,
                                     entry.count,
                                     entry.values,
                                     {},
                                     {},
                                     nullptr,
                                     nullptr,
                                     nullptr});
    if (m_rows.empty()) {
        auto* none = new QLabel(
            QStringLiteral("No built layer declares a parameter. Annotate a uniform of a shader "
                           "on its line, for example:\n"
                           "uniform float power; // @param 2 16 8 \"Power\""),
            m_content);
        none->setWordWrap(true);
        m_groups->addWidget(none);
    }
    QGroupBox* group = nullptr;
    QGridLayout* grid = nullptr;
    int line = 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        Row& r = m_rows[i];
        if (i == 0 || m_rows[i - 1].layer != r.layer) {
            group = new QGroupBox(QStringLiteral("Layer %1").arg(r.layer + 1), m_content);
            grid = new QGridLayout(group);
            m_groups->addWidget(group);
            line = 0;
        }
        addRow(group, grid, line, r);
        line += std::max(1, static_cast<int>(r.sliders.size()));
    }
    m_groups->addStretch();
    m_resetAll->setEnabled(!m_rows.empty());
}

void ShaderParamsPanel::addRow(QWidget* group, QGridLayout* grid, int line, Row& r) {
    const size_t index = static_cast<size_t>(&r - m_rows.data());
    auto* label = new QLabel(QString::fromStdString(r.decl.label), group);
    label->setToolTip(QStringLiteral("%1 %2").arg(QString::fromLatin1(paramTypeName(r.decl.type)),
                                                  QString::fromStdString(r.decl.name)));
    grid->addWidget(label, line, 0);
    r.reset = new QPushButton(QStringLiteral("Reset"), group);
    r.reset->setToolTip(QStringLiteral("Back to the default"));
    connect(r.reset, &QPushButton::clicked, this, [this, index] {
        Row& row = m_rows[index];
        shaderParams().resetToDefault(row.layer, row.decl.name);
        row.values = row.decl.defaults;
        showValues(row);
        m_revision = shaderParams().valueRevision();
        redraw();
    });
    grid->addWidget(r.reset, line, 3);
    if (r.decl.type == ParamType::Bool) {
        r.check = new QCheckBox(group);
        grid->addWidget(r.check, line, 1);
        connect(r.check, &QCheckBox::toggled, this, [this, index](bool on) {
            m_rows[index].values[0] = on ? 1.0f : 0.0f;
            apply(m_rows[index]);
        });
    } else if (r.decl.type == ParamType::Colour) {
        r.colour = new QPushButton(group);
        r.colour->setMinimumWidth(80);
        grid->addWidget(r.colour, line, 1);
        connect(r.colour, &QPushButton::clicked, this,
                [this, index] { pickColour(m_rows[index]); });
    } else {
        for (int c = 0; c < r.count; ++c) {
            auto* slider = new QSlider(Qt::Horizontal, group);
            slider->setMinimumWidth(180);
            if (r.decl.type == ParamType::Int) {
                slider->setRange(static_cast<int>(r.decl.minimum),
                                 static_cast<int>(r.decl.maximum));
                auto* spin = new QSpinBox(group);
                spin->setRange(static_cast<int>(r.decl.minimum), static_cast<int>(r.decl.maximum));
                r.spins.push_back(spin);
                connect(spin, &QSpinBox::valueChanged, this, [this, index, c](int v) {
                    Row& row = m_rows[index];
                    row.values[static_cast<size_t>(c)] = static_cast<float>(v);
                    const QSignalBlocker quiet(row.sliders[static_cast<size_t>(c)]);
                    row.sliders[static_cast<size_t>(c)]->setValue(v);
                    apply(row);
                });
            } else {
                slider->setRange(0, FLOAT_STEPS);
                auto* spin = new QDoubleSpinBox(group);
                spin->setDecimals(4);
                spin->setRange(r.decl.minimum, r.decl.maximum);
                spin->setSingleStep((r.decl.maximum - r.decl.minimum) / 100.0);
                r.spins.push_back(spin);
                connect(spin, &QDoubleSpinBox::valueChanged, this, [this, index, c](double v) {
                    Row& row = m_rows[index];
                    row.values[static_cast<size_t>(c)] = static_cast<float>(v);
                    const QSignalBlocker quiet(row.sliders[static_cast<size_t>(c)]);
                    row.sliders[static_cast<size_t>(c)]->setValue(
                        positionOf(row.decl, static_cast<float>(v)));
                    apply(row);
                });
            }
            r.sliders.push_back(slider);
            connect(slider, &QSlider::valueChanged, this, [this, index, c](int position) {
                Row& row = m_rows[index];
                row.values[static_cast<size_t>(c)] = valueOf(row.decl, position);
                QAbstractSpinBox* spin = row.spins[static_cast<size_t>(c)];
                const QSignalBlocker quiet(spin);
                if (auto* d = qobject_cast<QDoubleSpinBox*>(spin))
                    d->setValue(row.values[static_cast<size_t>(c)]);
                else if (auto* s = qobject_cast<QSpinBox*>(spin))
                    s->setValue(position);
                apply(row);
            });
            grid->addWidget(slider, line + c, 1);
            grid->addWidget(r.spins.back(), line + c, 2);
        }
    }
    showValues(r);
}

void ShaderParamsPanel::showValues(Row& r) {
    if (r.check) {
        const QSignalBlocker quiet(r.check);
        r.check->setChecked(r.values[0] != 0.0f);
    }
    if (r.colour) paintSwatch(r.colour, r.values);
    for (size_t c = 0; c < r.sliders.size(); ++c) {
        const QSignalBlocker quietSlider(r.sliders[c]);
        const QSignalBlocker quietSpin(r.spins[c]);
        r.sliders[c]->setValue(positionOf(r.decl, r.values[c]));
        if (auto* d = qobject_cast<QDoubleSpinBox*>(r.spins[c]))
            d->setValue(r.values[c]);
        else if (auto* s = qobject_cast<QSpinBox*>(r.spins[c]))
            s->setValue(static_cast<int>(std::lround(r.values[c])));
    }
}

void ShaderParamsPanel::apply(Row& r) {
    shaderParams().set(r.layer, r.decl.name, r.values.data(), r.count);
    // Our own change: the next look need not show it again.
    m_revision = shaderParams().valueRevision();
    redraw();
}

void ShaderParamsPanel::pickColour(Row& r) {
    // The dialog runs its own event loop: no rebuild may take the row away
    // meanwhile, and the row is looked up again afterwards.
    const int layer = r.layer;
    const std::string name = r.decl.name;
    m_poll.stop();
    const QColor chosen =
        QColorDialog::getColor(colourOf(r.values), this, QString::fromStdString(r.decl.label));
    m_poll.start(POLL_MS);
    Row* row = nullptr;
    for (Row& candidate : m_rows)
        if (candidate.layer == layer && candidate.decl.name == name) row = &candidate;
    if (!chosen.isValid() || !row) return;
    row->values = {static_cast<float>(chosen.redF()), static_cast<float>(chosen.greenF()),
                   static_cast<float>(chosen.blueF()), 0.0f};
    paintSwatch(row->colour, row->values);
    apply(*row);
}

const ShaderParamsPanel::Row* ShaderParamsPanel::find(int layer, const std::string& name) const {
    for (const Row& r : m_rows)
        if (r.layer == layer && r.decl.name == name) return &r;
    return nullptr;
}

QSlider* ShaderParamsPanel::slider(int layer, const std::string& name, int component) const {
    const Row* r = find(layer, name);
    if (!r || component < 0 || component >= static_cast<int>(r->sliders.size())) return nullptr;
    return r->sliders[static_cast<size_t>(component)];
}

QCheckBox* ShaderParamsPanel::checkBox(int layer, const std::string& name) const {
    const Row* r = find(layer, name);
    return r ? r->check : nullptr;
}

QPushButton* ShaderParamsPanel::colourButton(int layer, const std::string& name) const {
    const Row* r = find(layer, name);
    return r ? r->colour : nullptr;
}

QPushButton* ShaderParamsPanel::resetButton(int layer, const std::string& name) const {
    const Row* r = find(layer, name);
    return r ? r->reset : nullptr;
}

ShaderParamsPanel* openShaderParamsPanel(QWidget* owner) {
    if (!g_panel) g_panel = new ShaderParamsPanel(owner);
    g_panel->refresh();
    g_panel->show();
    g_panel->raise();
    g_panel->activateWindow();
    return g_panel;
}

} // namespace vortigo
