// File > Render Poster... with the studio's real render and post-processing
// threads on a real EGL context: the tiles put together equal the studio's
// single frame, a cancel leaves no file, and the studio's own frame comes
// back either way.
#include "TempDir.h"
#include "control/TraceKeys.h"
#include "core/CameraFlight.h"
#include "core/FrameQueue.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"
#include "render/FramePipeline.h"
#include "render/Tiles.h"
#include "render/Workers.h"
#include "ui/PosterDialog.h"
#include "ui/StillCommands.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QLineEdit>
#include <QSpinBox>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace vortigo {
namespace {

class StudioPosterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::copyDefaultTexts(m_dir);
        // The filters reach across tile borders: a seam would show.
        m_dir.write("VORTOptions.ini", "[VORT]\nWidth=256\nHeight=128\nMaxWidth=256\n"
                                       "MaxHeight=128\nSuperSample=1\nDespeckle=1\n");
        setProgramDirectory(m_dir.path());
        m_platform.setImmediate(true);
        m_platform.setHandler(WindowId::Trace, [](const WindowMessage& m) {
            if (m.type == MSG_ADVANCE) handleAdvanceMessage();
        });
        ASSERT_TRUE(initialiseProjectState());
        startWorkers();
        runState().compileRequest.set();
        runState().resizeRequest.set();
        ASSERT_TRUE(waitFor([] {
            return runState().scriptReady && runState().buffersReady &&
                   stopFlightAndCheckParked() && !shownFrameImage().isNull();
        }));
        m_single = shownFrameImage().convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(m_single.size(), QSize(256, 128));
    }

    void TearDown() override {
        if (renderThreadRunning() || postThreadRunning()) runExitPath();
        // A poster a failed test left running must not reach the next test.
        setFrameSink(nullptr);
        setTiledDrawing(nullptr);
    }

    // Runs Qt's event loop (the poster's timer) until `done` holds.
    static bool waitFor(const std::function<bool()>& done, int limitMs = 60000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // The poster as the dialog asks for it.
    PosterRequest fromDialog(int width, int height, int tile, const std::string& out) {
        PosterDialog dialog(nullptr);
        dialog.controls().width->setText(QString::number(width));
        dialog.controls().height->setText(QString::number(height));
        dialog.controls().tile->setValue(tile);
        dialog.controls().file->setText(QString::fromStdString(out));
        return dialog.request();
    }

    // The studio draws its own frame again, at its own size, the same as
    // before the poster.
    void expectStudioFrameBack() {
        ASSERT_TRUE(waitFor([] {
            return runState().buffersReady && !runState().resizeRequest &&
                   stopFlightAndCheckParked() && shownFrameImage().size() == QSize(256, 128);
        }));
        EXPECT_EQ(shownFrameImage().convertToFormat(QImage::Format_RGB888), m_single);
    }

    size_t filesIn() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(m_dir.path()),
                                                 std::filesystem::directory_iterator()));
    }

    test::TempDir m_dir;
    HeadlessPlatform m_platform;
    ScopedPlatform m_installed{&m_platform};
    QImage m_single;
};

TEST_F(StudioPosterTest, TilesPutTogetherEqualTheSingleFrame) {
    const std::string out = m_dir.file("poster.png");
    const size_t before = filesIn();
    // 3 x 2 tiles, the last row and column partial.
    StudioPoster* poster = startPoster(nullptr, fromDialog(256, 128, 96, out));
    ASSERT_NE(poster, nullptr);
    EXPECT_EQ(poster->total(), 6);
    bool ended = false, ok = false;
    QString message;
    int lastDone = 0;
    QObject::connect(poster, &StudioPoster::progress, [&](int done, int) { lastDone = done; });
    QObject::connect(poster, &StudioPoster::ended, [&](bool good, const QString& text) {
        ended = true;
        ok = good;
        message = text;
    });
    ASSERT_TRUE(waitFor([&] { return ended; }));
    EXPECT_TRUE(ok) << message.toStdString();
    EXPECT_EQ(lastDone, 6);
    const QImage picture(QString::fromStdString(out));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.convertToFormat(QImage::Format_RGB888), m_single);
    EXPECT_EQ(filesIn(), before + 1); // no temporary file stays
    expectStudioFrameBack();
}

TEST_F(StudioPosterTest, CancelLeavesNoFile) {
    const std::string out = m_dir.file("poster.tif");
    const size_t before = filesIn();
    StudioPoster* poster = startPoster(nullptr, fromDialog(1024, 1024, 64, out));
    ASSERT_NE(poster, nullptr);
    bool ended = false, ok = true;
    QObject::connect(poster, &StudioPoster::progress, [&](int done, int) {
        if (done >= 2) poster->cancel();
    });
    QObject::connect(poster, &StudioPoster::ended, [&](bool good, const QString&) {
        ended = true;
        ok = good;
    });
    ASSERT_TRUE(waitFor([&] { return ended; }));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(filesIn(), before);
    expectStudioFrameBack();
}

// Runs a poster to its end; ok and the message it ended with.
std::pair<bool, std::string> runToEnd(StudioPoster* poster) {
    bool ended = false, ok = false;
    std::string message;
    QObject::connect(poster, &StudioPoster::ended, [&](bool good, const QString& text) {
        ended = true;
        ok = good;
        message = text.toStdString();
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ended && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(ended);
    return {ok, message};
}

// A deep poster is drawn with 16 bits a channel; the studio's frames are
// 8-bit again afterwards.
TEST_F(StudioPosterTest, ADeepPosterLeavesTheStudioAtEightBits) {
    PosterDialog dialog(nullptr);
    dialog.controls().width->setText(QStringLiteral("256"));
    dialog.controls().height->setText(QStringLiteral("128"));
    dialog.controls().tile->setValue(96);
    dialog.controls().format->setCurrentIndex(
        dialog.controls().format->findText("PNG, 16 bits a channel"));
    dialog.controls().file->setText(QString::fromStdString(m_dir.file("deep")));
    const PosterRequest request = dialog.request();
    EXPECT_TRUE(request.deep);
    EXPECT_EQ(request.out, m_dir.file("deep.png"));
    StudioPoster* poster = startPoster(nullptr, request);
    ASSERT_NE(poster, nullptr);
    const auto [ok, message] = runToEnd(poster);
    EXPECT_TRUE(ok) << message;
    const QImage picture(QString::fromStdString(request.out));
    EXPECT_EQ(picture.format(), QImage::Format_RGBX64);
    EXPECT_EQ(picture.size(), QSize(256, 128));
    expectStudioFrameBack();
}

// After a fault the script draws no more: the later tiles would differ, so
// the poster ends without a file.
TEST_F(StudioPosterTest, AScriptFaultEndsThePosterWithoutAFile) {
    std::snprintf(projectFiles().scriptText.get(), TEXT_SIZE, "%s",
                  "#include <vortigo.h>\nstatic int *f;\n"
                  "void udSetup(void *t, float *u, float *a, int *fi, char *l) { f = fi; }\n"
                  "void udPost(void) { if (f[FI_TILE_X] > 0) *(volatile int *)0 = 1; }\n");
    runState().compileRequest.set();
    ASSERT_TRUE(waitFor([] {
        return !runState().compileRequest && runState().scriptReady && stopFlightAndCheckParked();
    }));
    const size_t before = filesIn();
    StudioPoster* poster = startPoster(nullptr, fromDialog(256, 128, 96, m_dir.file("f.png")));
    ASSERT_NE(poster, nullptr);
    const auto [ok, message] = runToEnd(poster);
    EXPECT_FALSE(ok);
    EXPECT_NE(message.find("The script faulted while tile 2 of 6"), std::string::npos) << message;
    EXPECT_EQ(filesIn(), before);
}

TEST_F(StudioPosterTest, ATileBeyondTheDriverIsLoweredWithANote) {
    StudioPoster poster;
    std::string error, note;
    ASSERT_TRUE(poster.start({256, 128, 1 << 20, m_dir.file("big.png")}, error, note)) << error;
    EXPECT_NE(note.find("lowered to"), std::string::npos) << note;
    EXPECT_EQ(poster.total(), 1);
    bool ended = false;
    QObject::connect(&poster, &StudioPoster::ended, [&](bool, const QString&) { ended = true; });
    ASSERT_TRUE(waitFor([&] { return ended; }));
    EXPECT_TRUE(std::filesystem::exists(m_dir.file("big.png")));
    expectStudioFrameBack();
}

TEST(PosterRequestCheck, RefusesBadSizesNamesAndRoom) {
    const std::string png = "/tmp/vortigo-poster-check.png";
    EXPECT_EQ(checkPosterRequest({100, 50, 64, png}), "");
    for (const auto& [w, h] : {std::pair{0, 10}, {10, -3}, {1000001, 10}})
        EXPECT_NE(checkPosterRequest({w, h, 64, png}).find("1 to 1000000 pixels a side"),
                  std::string::npos);
    EXPECT_NE(checkPosterRequest({100, 50, 64, "/tmp/x.jpg"}), "");
    // Beyond what PNG readers take: TIFF is asked for.
    EXPECT_TRUE(posterNeedsTiff({50000, 50000, 64, png}));
    EXPECT_FALSE(posterNeedsTiff({50000, 50000, 64, "/tmp/x.tif"}));
    // 3 TB: the free space and the need are both named.
    const std::string room = checkPosterRequest({1000000, 1000000, 2048, "/tmp/x.tif"});
    EXPECT_NE(room.find("3000000 MB"), std::string::npos) << room;
    EXPECT_NE(room.find("free"), std::string::npos) << room;
}

} // namespace
} // namespace vortigo
