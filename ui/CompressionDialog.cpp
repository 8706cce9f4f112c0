#include "ui/CompressionDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vortigo {

CompressionDialog::CompressionDialog(const CompressionChoice& last, QWidget* parent)
    : QDialog(parent), m_threads(last.threads) {
    setWindowTitle(tr("Video Compression"));
    m_codec = new QComboBox(this);
    m_codec->setObjectName(CODEC);
    // Only the encoders this FFmpeg build has.
    for (int c = 0; c < VIDEO_CODEC_COUNT; ++c) {
        const auto codec = static_cast<VideoCodec>(c);
        if (codecAvailable(codec)) m_codec->addItem(QString::fromLatin1(codecTitle(codec)), c);
    }
    const int lastIndex = m_codec->findData(static_cast<int>(last.codec));
    m_codec->setCurrentIndex(lastIndex >= 0 ? lastIndex : 0);

    m_keyFrames = new QSpinBox(this);
    m_keyFrames->setObjectName(KEY_FRAMES);
    m_keyFrames->setRange(0, 1000);
    m_keyFrames->setSpecialValueText(tr("codec default"));
    m_keyFrames->setValue(last.keyFrameEvery);
    m_quality = new QSpinBox(this);
    m_quality->setObjectName(QUALITY);
    m_quality->setRange(1, 100);
    m_quality->setValue(std::clamp(last.quality, 1, 100));
    m_useDataRate = new QCheckBox(tr("Data rate (kbit/s)"), this);
    m_useDataRate->setObjectName(USE_DATA_RATE);
    m_useDataRate->setChecked(last.dataRateKbps > 0);
    m_dataRate = new QSpinBox(this);
    m_dataRate->setObjectName(DATA_RATE);
    m_dataRate->setRange(1, 1000000);
    m_dataRate->setValue(last.dataRateKbps > 0 ? last.dataRateKbps : 5000);

    auto* form = new QFormLayout;
    form->addRow(tr("Compressor:"), m_codec);
    form->addRow(tr("Key frame every (frames):"), m_keyFrames);
    form->addRow(tr("Quality:"), m_quality);
    form->addRow(m_useDataRate, m_dataRate);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(m_codec, &QComboBox::currentIndexChanged, this, [this] { updateEnabled(); });
    connect(m_useDataRate, &QCheckBox::toggled, this, [this] { updateEnabled(); });
    updateEnabled();
}

void CompressionDialog::updateEnabled() {
    const auto codec = static_cast<VideoCodec>(m_codec->currentData().toInt());
    // Full frames and FFV1 keep every bit: nothing to tune but key frames.
    const bool lossy = codec != VideoCodec::Raw && codec != VideoCodec::Ffv1;
    m_keyFrames->setEnabled(codec != VideoCodec::Raw);
    m_useDataRate->setEnabled(lossy);
    m_dataRate->setEnabled(lossy && m_useDataRate->isChecked());
    m_quality->setEnabled(lossy && !m_useDataRate->isChecked());
}

CompressionChoice CompressionDialog::choice() const {
    CompressionChoice c;
    c.codec = static_cast<VideoCodec>(m_codec->currentData().toInt());
    c.keyFrameEvery = m_keyFrames->value();
    c.quality = m_quality->value();
    c.dataRateKbps = m_useDataRate->isChecked() ? m_dataRate->value() : 0;
    c.threads = m_threads;
    return c;
}

bool CompressionDialog::choose(CompressionChoice& choice, QWidget* parent) {
    CompressionDialog dialog(choice, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    choice = dialog.choice();
    return true;
}

} // namespace vortigo
