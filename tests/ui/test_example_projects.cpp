// Help > Examples on Qt's offscreen platform: the menu lists the shipped
// examples, and choosing one opens a fresh, writable copy in the folder the
// user picked, never the shipped files.
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "persist/FlightFile.h"
#include "script/ScriptFixture.h"
#include "ui/ExampleProjects.h"
#include "ui/MainWindow.h"

#include <QMenu>
#include <QMenuBar>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vortigo {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Every file under `folder` with its bytes, to show that nothing changed.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : "";
    return files;
}

class ExampleProjectsTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        // The shipped folder as an installation has it, beside the program's
        // own files: two real examples, and a folder that is no example.
        m_shipped = fs::path(m_dir.path()) / "examples";
        fs::create_directories(m_shipped);
        for (const char* name : {"menger", "mandelbulb"})
            fs::copy(fs::path(VORTIGO_EXAMPLES_DIR) / name, m_shipped / name,
                     fs::copy_options::recursive);
        fs::create_directories(m_shipped / "notes");
        for (const auto& entry : fs::recursive_directory_iterator(m_shipped))
            if (entry.is_regular_file())
                fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::group_read);
        m_window = std::make_unique<MainWindow>();
        setExampleFolderHook([this](const std::string&) { return m_chosen; });
    }
    void TearDown() override {
        setExampleFolderHook(nullptr);
        m_window.reset();
        test::ScriptFixture::TearDown();
    }

    QMenu* examplesMenu() const {
        for (QAction* top : m_window->menuBar()->actions())
            if (top->text() == "&Help")
                for (QAction* item : top->menu()->actions())
                    if (item->text() == "&Examples") return item->menu();
        return nullptr;
    }
    void choose(const QString& name) const {
        QMenu* menu = examplesMenu();
        ASSERT_NE(menu, nullptr);
        emit menu->aboutToShow();
        for (QAction* item : menu->actions())
            if (item->text() == name) return item->trigger();
        FAIL() << "no item " << name.toStdString();
    }

    fs::path m_shipped;
    std::string m_chosen;
    std::unique_ptr<MainWindow> m_window;
};

TEST_F(ExampleProjectsTest, OpensAFreshWritableCopyInTheChosenFolder) {
    QMenu* menu = examplesMenu();
    ASSERT_NE(menu, nullptr);
    QStringList names;
    for (QAction* item : menu->actions())
        names << item->text();
    EXPECT_EQ(names, QStringList({"mandelbulb", "menger"}));
    const auto shipped = snapshot(m_shipped);

    const fs::path mine = fs::path(m_dir.path()) / "my documents";
    m_chosen = mine.string();
    choose("menger");
    const fs::path copy = mine / "menger";
    ProjectFiles& files = projectFiles();
    EXPECT_EQ(std::string(files.projectFile), (copy / "menger.vort").string());
    EXPECT_EQ(std::string(files.layers[0].fragmentFile), (copy / "menger.frag").string());
    EXPECT_EQ(std::string(files.layers[0].backgroundFile), (copy / "nebula.jpg").string());
    EXPECT_EQ(std::string(files.scriptFile), (copy / "menger.anim").string());
    EXPECT_EQ(std::string(files.layers[0].fragmentText.get()), readFile(copy / "menger.frag"));
    EXPECT_EQ(flightRecordCount(),
              static_cast<int>((fs::file_size(copy / "menger.vorn") - 1) / 48));
    EXPECT_EQ(std::string(captureState().outputFile), (copy / "menger.avi").string());
    EXPECT_NE(fs::status(copy / "menger.frag").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_TRUE(m_platform.messageBoxes().empty());

    // A second choice never reuses the first copy, which keeps its edits.
    std::ofstream(copy / "menger.anim") << "edited";
    choose("menger");
    EXPECT_EQ(std::string(files.projectFile), (mine / "menger-2" / "menger.vort").string());
    EXPECT_EQ(readFile(copy / "menger.anim"), "edited");
    EXPECT_EQ(snapshot(m_shipped), shipped);
}

TEST_F(ExampleProjectsTest, CancelAndTheShippedFolderOpenNothing) {
    ProjectFiles& files = projectFiles();
    const std::string before = files.projectFile;
    const auto shipped = snapshot(m_shipped);

    m_chosen.clear(); // the folder dialog cancelled
    choose("mandelbulb");
    EXPECT_EQ(std::string(files.projectFile), before);
    EXPECT_TRUE(m_platform.messageBoxes().empty());

    for (const fs::path& inside : {m_shipped, m_shipped / "mandelbulb"}) {
        m_chosen = inside.string();
        choose("mandelbulb");
    }
    EXPECT_EQ(std::string(files.projectFile), before);
    ASSERT_EQ(m_platform.messageBoxes().size(), 2u);
    for (const auto& box : m_platform.messageBoxes())
        EXPECT_EQ(box.caption, "Examples");
    EXPECT_EQ(snapshot(m_shipped), shipped);
}

} // namespace
} // namespace vortigo
