// The compression dialog and Copy Image on Qt's offscreen platform.
#include "ui/CompressionDialog.h"
#include "ui/StillCommands.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace vortigo {
namespace {

TEST(CompressionDialog, PreselectsTheLastChoiceAndReturnsTheNewOne) {
    CompressionChoice last{VideoCodec::Mpeg4, 40, 0, 12};
    CompressionDialog dialog(last, nullptr);
    auto* codec = dialog.findChild<QComboBox*>(CompressionDialog::CODEC);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->currentData().toInt(), static_cast<int>(VideoCodec::Mpeg4));
    // Only encoders this build has are offered; full frames always are.
    EXPECT_GE(codec->findData(static_cast<int>(VideoCodec::Raw)), 0);
    EXPECT_EQ(codec->findData(static_cast<int>(VideoCodec::H264)) >= 0,
              codecAvailable(VideoCodec::H264));
    EXPECT_EQ(dialog.findChild<QSpinBox*>(CompressionDialog::KEY_FRAMES)->value(), 12);
    EXPECT_EQ(dialog.findChild<QSpinBox*>(CompressionDialog::QUALITY)->value(), 40);

    dialog.findChild<QCheckBox*>(CompressionDialog::USE_DATA_RATE)->setChecked(true);
    dialog.findChild<QSpinBox*>(CompressionDialog::DATA_RATE)->setValue(800);
    codec->setCurrentIndex(codec->findData(static_cast<int>(VideoCodec::Ffv1)));
    const CompressionChoice chosen = dialog.choice();
    EXPECT_EQ(chosen.codec, VideoCodec::Ffv1);
    EXPECT_EQ(chosen.dataRateKbps, 800);
    EXPECT_FALSE(dialog.findChild<QSpinBox*>(CompressionDialog::QUALITY)->isEnabled());
}

TEST(CompressionDialog, CancelKeepsTheChoiceAndSaysSo) {
    CompressionChoice choice{VideoCodec::Raw, 70, 0, 5};
    QTimer::singleShot(0, [] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
    });
    EXPECT_FALSE(CompressionDialog::choose(choice, nullptr));
    EXPECT_EQ(choice.codec, VideoCodec::Raw);
    EXPECT_EQ(choice.keyFrameEvery, 5);
}

TEST(CopyImage, WithoutFrameBuffersTheClipboardIsUntouched) {
    QGuiApplication::clipboard()->setText("kept");
    copyImageToClipboard();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
    EXPECT_TRUE(shownFrameImage().isNull());
}

} // namespace
} // namespace vortigo
