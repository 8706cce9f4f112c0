// View > Shader Parameters: a modeless panel with a control for every named
// parameter of the built layers, grouped by layer. Moving a control sets the
// value and asks for a frame at once, as the Sliders dialog does; Reset puts
// one parameter back to its default, Reset All every one. The panel follows
// compiles (new controls) and values the script sets.
//
// Threads: user-interface thread only.
#pragma once

#include "core/ShaderParams.h"

#include <QDialog>
#include <QTimer>
#include <string>
#include <vector>

class QAbstractButton;
class QAbstractSpinBox;
class QCheckBox;
class QDoubleSpinBox;
class QGridLayout;
class QPushButton;
class QSlider;
class QSpinBox;
class QVBoxLayout;

namespace vortigo {

class ShaderParamsPanel : public QDialog {
  public:
    explicit ShaderParamsPanel(QWidget* owner);

    // Rebuilds the controls when the declarations changed since the last
    // look, else shows values that changed elsewhere.
    void refresh();

    // For the tests: the slider of a component, the check box, the colour
    // button and the reset button of a parameter; null when there is none.
    QSlider* slider(int layer, const std::string& name, int component = 0) const;
    QCheckBox* checkBox(int layer, const std::string& name) const;
    QPushButton* colourButton(int layer, const std::string& name) const;
    QPushButton* resetButton(int layer, const std::string& name) const;
    QPushButton* resetAllButton() const { return m_resetAll; }

  private:
    struct Row {
        int layer = 0;
        ParamDecl decl;
        int count = 1;
        ParamValues values{};
        std::vector<QSlider*> sliders;
        std::vector<QAbstractSpinBox*> spins;
        QCheckBox* check = nullptr;
        QPushButton* colour = nullptr;
        QPushButton* reset = nullptr;
    };

    void rebuild();
    void addRow(QWidget* group, QGridLayout* grid, int row, Row& r);
    void showValues(Row& r);
    void apply(Row& r);
    void pickColour(Row& r);
    const Row* find(int layer, const std::string& name) const;

    QVBoxLayout* m_groups = nullptr;
    QWidget* m_content = nullptr;
    QPushButton* m_resetAll = nullptr;
    std::vector<Row> m_rows;
    QTimer m_poll;
    uint64_t m_generation = 0;
    uint64_t m_revision = 0;
};

// Opens the panel, or brings the open one to the front.
ShaderParamsPanel* openShaderParamsPanel(QWidget* owner);

} // namespace vortigo
