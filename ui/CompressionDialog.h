// The compression dialog of a capture's first AVI file: the codec, the
// key-frame interval and the quality or data rate. The last choice is
// preselected.
//
// Threads: user-interface thread only.
#pragma once

#include "media/AviWriter.h"

#include <QDialog>

class QComboBox;
class QSpinBox;
class QCheckBox;

namespace vortigo {

class CompressionDialog : public QDialog {
    Q_OBJECT
  public:
    // Object names of the controls, for tests and scripts of the interface.
    static constexpr const char* CODEC = "codec";
    static constexpr const char* KEY_FRAMES = "keyFrames";
    static constexpr const char* QUALITY = "quality";
    static constexpr const char* USE_DATA_RATE = "useDataRate";
    static constexpr const char* DATA_RATE = "dataRate";

    CompressionDialog(const CompressionChoice& last, QWidget* parent);
    CompressionChoice choice() const;

    // Shows the dialog modally; false when it was cancelled.
    static bool choose(CompressionChoice& choice, QWidget* parent);

  private:
    void updateEnabled();

    QComboBox* m_codec = nullptr;
    QSpinBox* m_keyFrames = nullptr;
    QSpinBox* m_quality = nullptr;
    QCheckBox* m_useDataRate = nullptr;
    QSpinBox* m_dataRate = nullptr;
    int m_threads = 0;
};

} // namespace vortigo
