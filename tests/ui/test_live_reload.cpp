// Live reload of the project's texts: a save from another editor (by an
// atomic rename, in a folder with spaces) reloads the text and asks for a
// quiet compile; unsaved edits are asked about and never lost; a deleted
// file comes back; a file turned into a folder stops being watched.
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "persist/ProjectFile.h"
#include "script/ScriptFixture.h"
#include "ui/EditorState.h"
#include "ui/LiveReload.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

namespace vortigo {
namespace {

namespace fs = std::filesystem;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class LiveReloadTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        fs::create_directories(m_dir.file("my shaders"));
        m_frag = m_dir.file("my shaders/a.frag");
        m_dir.write("my shaders/a.frag", "void main() { gl_FragColor = vec4(1.0); }\n");
        ProjectFiles& files = projectFiles();
        storePath(files.layers[0].fragmentFile, m_frag);
        std::strcpy(files.layers[0].fragmentText.get(), contents(m_frag).c_str());
        editorState().currentLayer = 0;
        m_window = std::make_unique<MainWindow>();
        m_window->showCurrentText();
        m_reload = m_window->liveReload();
        m_reload->sync();
        m_platform.clearRecords();
        runState().compileRequest.clear();
    }
    void TearDown() override {
        m_window.reset();
        test::ScriptFixture::TearDown();
    }

    // Another editor's save: a temporary file renamed over the name.
    void saveElsewhere(const std::string& text) const {
        const std::string temporary = m_dir.file("my shaders/.a.frag.swp");
        {
            std::ofstream out(temporary, std::ios::binary);
            out << text;
        }
        fs::rename(temporary, m_frag);
    }
    // Lets the watcher's signals arrive until `done` holds (at most 10 s).
    bool waitFor(const std::function<bool()>& done) const {
        for (int i = 0; i < 500 && !done(); ++i) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return done();
    }
    void drain() const {
        for (int i = 0; i < 25; ++i) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    const char* fragment() const { return projectFiles().layers[0].fragmentText.get(); }

    std::string m_frag;
    std::unique_ptr<MainWindow> m_window;
    LiveReload* m_reload = nullptr;
};

TEST_F(LiveReloadTest, ASaveElsewhereReloadsAndRecompilesAndADeletedFileComesBack) {
    ASSERT_TRUE(m_reload->watches(m_frag));
    const std::string saved = "void main() { gl_FragColor = vec4(0.5); }\n";
    saveElsewhere(saved);
    ASSERT_TRUE(waitFor([&] { return saved == fragment(); })) << fragment();
    EXPECT_EQ(m_window->editor()->toPlainText().toStdString(), saved);
    EXPECT_TRUE(runState().compileRequest);
    EXPECT_TRUE(runState().runAfterCompile);
    EXPECT_EQ(m_reload->lastNote(), "Reloaded a.frag");
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_EQ(projectFiles().layers[0].fragmentDirty, 0);

    // The watcher lost the replaced file; the next save is still seen.
    runState().compileRequest.clear();
    const std::string again = "void main() { gl_FragColor = vec4(0.25); }\n";
    saveElsewhere(again);
    ASSERT_TRUE(waitFor([&] { return again == fragment(); })) << fragment();
    EXPECT_TRUE(runState().compileRequest);

    fs::remove(m_frag);
    m_reload->check();
    EXPECT_NE(m_reload->lastNote().indexOf("a.frag was removed"), -1);
    EXPECT_EQ(again, fragment());
    drain(); // what the removal set off is over: only the folder's watch sees the new file
    const std::string back = "void main() { gl_FragColor = vec4(0.75); }\n";
    m_dir.write("my shaders/a.frag", back);
    ASSERT_TRUE(waitFor([&] { return back == fragment(); })) << fragment();

    // A folder in its place: no longer watched, and said so.
    fs::remove(m_frag);
    fs::create_directory(m_frag);
    m_reload->check();
    EXPECT_FALSE(m_reload->watches(m_frag));
    EXPECT_NE(m_reload->lastNote().indexOf("is now a folder"), -1);
    EXPECT_EQ(back, fragment());
}

TEST_F(LiveReloadTest, UnsavedEditsAreAskedAboutAndNeitherVersionIsLost) {
    const std::string edits = "void main() { /* mine */ }\n";
    m_window->editor()->setPlainText(QString::fromStdString(edits));
    projectFiles().layers[0].fragmentDirty = 1;

    m_platform.setAnswer(MsgAnswer::No);
    const std::string theirs = "void main() { /* theirs */ }\n";
    saveElsewhere(theirs);
    ASSERT_TRUE(waitFor([&] { return !m_platform.messageBoxes().empty(); }));
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "File Changed");
    EXPECT_EQ(edits, fragment());
    EXPECT_EQ(projectFiles().layers[0].fragmentDirty, 1);
    EXPECT_EQ(contents(m_frag), theirs);
    EXPECT_FALSE(runState().compileRequest);
    EXPECT_FALSE(fs::exists(m_frag + ".edited"));

    // Asked again for the next version; Yes keeps the edits beside the file.
    m_platform.setAnswer(MsgAnswer::Yes);
    const std::string later = "void main() { /* theirs, later */ }\n";
    saveElsewhere(later);
    ASSERT_TRUE(waitFor([&] { return later == fragment(); })) << fragment();
    EXPECT_EQ(m_platform.messageBoxes().size(), 2u);
    EXPECT_EQ(contents(m_frag + ".edited"), edits);
    EXPECT_EQ(projectFiles().layers[0].fragmentDirty, 0);
    EXPECT_TRUE(runState().compileRequest);
}

} // namespace
} // namespace vortigo
