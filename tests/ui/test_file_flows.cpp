// The File menu on Qt's offscreen platform: the dispatchers by extension, the
// questions before edited texts are lost, Save without a name, Save All and
// the file dialog's requests.
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "persist/FlightFile.h"
#include "persist/ProjectFile.h"
#include "resources/Resources.h"
#include "script/ScriptFixture.h"
#include "ui/EditorState.h"
#include "ui/FileFlows.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vortigo {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class FileFlowsTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        m_window = std::make_unique<MainWindow>();
        m_window->setExitPath([this] { ++m_exits; });
        m_window->showCurrentText();
        setFileDialogHook([this](const FileDialogRequest& request) {
            m_requests.push_back(request);
            return m_chosen;
        });
    }
    void TearDown() override {
        setFileDialogHook(nullptr);
        m_window.reset();
        test::ScriptFixture::TearDown();
    }

    std::string file(const std::string& name, const std::string& bytes) const {
        m_dir.write(name, bytes);
        return m_dir.file(name);
    }
    QString title() const { return m_window->windowTitle(); }
    // Answers questions with `answer` and everything else with OK.
    void answerQuestions(MsgAnswer answer) {
        m_platform.setResponder([answer](const HeadlessPlatform::MessageBoxRecord& box) {
            return box.buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
        });
    }
    std::vector<std::string> captions() const {
        std::vector<std::string> result;
        for (const auto& box : m_platform.messageBoxes())
            result.push_back(box.caption);
        return result;
    }

    std::unique_ptr<MainWindow> m_window;
    std::vector<FileDialogRequest> m_requests;
    std::string m_chosen;
    int m_exits = 0;
};

TEST_F(FileFlowsTest, OpenChoosesByExtensionWithoutRegardToCase) {
    ProjectFiles& files = projectFiles();
    EditorState& editor = editorState();
    editor.currentLayer = 2;
    openByExtension(*m_window, file("wave.VeRt", "vertex text"));
    EXPECT_STREQ(files.layers[2].vertexText.get(), "vertex text");
    EXPECT_EQ(std::string(files.layers[2].vertexFile), m_dir.file("wave.VeRt"));
    EXPECT_EQ(editor.currentKind, KIND_VERTEX);
    EXPECT_EQ(title(), "Vertex Shader Layer 3");
    EXPECT_EQ(m_window->editor()->toPlainText(), "vertex text");

    openByExtension(*m_window, file("f.fRAG", "fragment text"));
    EXPECT_STREQ(files.layers[2].fragmentText.get(), "fragment text");
    openByExtension(*m_window, file("s.Anim", "script text"));
    EXPECT_STREQ(files.scriptText.get(), "script text");
    EXPECT_EQ(title(), "Animation Script");
    EXPECT_EQ(editor.currentLayer, 2); // opening never changes the layer

    // Unknown, missing and image extensions do nothing at all.
    for (const char* name : {"notes.txt", "noextension", "shot.bmp"})
        openByExtension(*m_window, file(name, "other"));
    openByExtension(*m_window, m_dir.file("dir.frag/inside"));
    EXPECT_STREQ(files.scriptText.get(), "script text");
    EXPECT_TRUE(m_platform.messageBoxes().empty());

    openByExtension(*m_window, file("ring.VoRn", std::string(1, '\x0c') + std::string(96, 0)));
    EXPECT_EQ(flightRecordCount(), 2);
    storePath(files.layers[0].vertexFile, file("p.vert", "from project"));
    ASSERT_TRUE(saveProject(m_dir.file("p.VoRt")));
    std::strcpy(files.layers[2].vertexText.get(), "changed");
    openByExtension(*m_window, m_dir.file("p.VoRt"));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_STREQ(files.layers[2].vertexText.get(), "vertex text");
    EXPECT_STREQ(files.layers[0].vertexText.get(), "from project");
}

// A pasted-shader file opens as the current layer's fragment text, the titles
// say that the layer's vertex text is not used, and Save writes it back.
TEST_F(FileFlowsTest, AGlslImageShaderOpensAsTheFragmentTextAndSavesBack) {
    ProjectFiles& files = projectFiles();
    EditorState& editor = editorState();
    editor.currentLayer = 1;
    const std::string text = "void mainImage(out vec4 c, in vec2 p) { c = vec4(1.0); }\n";
    openByExtension(*m_window, file("tunnel.GLSL", text));
    EXPECT_EQ(files.layers[1].fragmentText.get(), text);
    EXPECT_EQ(std::string(files.layers[1].fragmentFile), m_dir.file("tunnel.GLSL"));
    EXPECT_EQ(editor.currentKind, KIND_FRAGMENT);
    EXPECT_EQ(title(), "Fragment Shader Layer 2 (image shader: the vertex text is not used)");
    editor.setKind(KIND_VERTEX);
    m_window->showCurrentText();
    EXPECT_EQ(title(), "Vertex Shader Layer 2 (not used: the fragment text is an image shader)");

    editor.setKind(KIND_FRAGMENT);
    m_window->showCurrentText();
    m_window->editor()->setPlainText("void mainImage(out vec4 c, in vec2 p) { c = vec4(0.5); }");
    answerQuestions(MsgAnswer::Yes);
    saveCommand(*m_window);
    EXPECT_EQ(readFile(m_dir.file("tunnel.GLSL")),
              "void mainImage(out vec4 c, in vec2 p) { c = vec4(0.5); }");
}

TEST_F(FileFlowsTest, SaveRefusesAnotherKindAndKeepsAFailedTextEdited) {
    ProjectFiles& files = projectFiles();
    m_window->onCommand(CMD_SHOW_SCRIPT);
    saveByExtension(*m_window, m_dir.file("x.frag"));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Switch to frag text first!"});
    EXPECT_EQ(captions(), std::vector<std::string>{"Wrong Extension?"});
    EXPECT_FALSE(fs::exists(m_dir.file("x.frag")));

    m_window->onCommand(CMD_SHOW_FRAGMENT);
    m_window->editor()->setPlainText("edited fragment");
    EXPECT_EQ(files.layers[0].fragmentDirty, 1);
    const std::string before = files.layers[0].fragmentFile;
    m_platform.clearRecords();
    saveByExtension(*m_window, m_dir.file("missing folder/y.FRAG"));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{
                              "There has been an error saving the script file.\n" +
                              m_dir.file("missing folder/y.FRAG") + ": No such file or directory"});
    EXPECT_EQ(std::string(files.layers[0].fragmentFile), before);
    EXPECT_EQ(files.layers[0].fragmentDirty, 1);

    saveByExtension(*m_window, m_dir.file("y.FRAG"));
    EXPECT_EQ(readFile(m_dir.file("y.FRAG")), "edited fragment");
    EXPECT_EQ(std::string(files.layers[0].fragmentFile), m_dir.file("y.FRAG"));
    EXPECT_EQ(files.layers[0].fragmentDirty, 0);

    m_platform.clearRecords();
    saveByExtension(*m_window, m_dir.file("p.Vort"));
    EXPECT_EQ(std::string(files.projectFile), m_dir.file("p.Vort"));
    saveByExtension(*m_window, m_dir.file("r.vorn"));
    EXPECT_EQ(std::string(files.flightFile), m_dir.file("r.vorn"));
    saveByExtension(*m_window, m_dir.file("notes.txt"));
    EXPECT_FALSE(fs::exists(m_dir.file("notes.txt")));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(FileFlowsTest, EditedTextsAreListedWithNamesOrAsUntitled) {
    ProjectFiles& files = projectFiles();
    EXPECT_EQ(editedTextsList(), "");
    files.scriptFile[0] = 0;
    files.scriptDirty = 1;
    files.layers[0].fragmentDirty = 1;
    files.layers[2].vertexDirty = 1;
    storePath(files.layers[3].fragmentFile, "/p/four.frag");
    files.layers[3].fragmentDirty = 1;
    EXPECT_EQ(editedTextsList(), "(untitled script)\n" + std::string(files.layers[0].fragmentFile) +
                                     "\n(untitled vertex shader, layer 3)\n/p/four.frag");
}

TEST_F(FileFlowsTest, NewOpenExitAndTheCloseBoxAskBeforeEditedTextsAreLost) {
    ProjectFiles& files = projectFiles();
    const std::string script = file("mine.anim", "mine");
    storePath(files.scriptFile, script);
    files.scriptDirty = 1;
    files.imageWidth = 1234;
    const std::string scriptBefore = files.scriptText.get();

    answerQuestions(MsgAnswer::No);
    m_window->onCommand(CMD_NEW);
    m_window->onCommand(CMD_EXIT);
    m_window->close();
    m_chosen = file("other.anim", "other");
    m_window->onCommand(CMD_OPEN);
    m_chosen = m_dir.file("x.vort");
    m_window->onCommand(CMD_OPEN);
    ASSERT_EQ(m_platform.messageBoxes().size(), 5u);
    EXPECT_EQ(captions(), (std::vector<std::string>{DISCARD_QUESTION, EXIT_QUESTION, EXIT_QUESTION,
                                                    DISCARD_QUESTION, DISCARD_QUESTION}));
    for (const auto& box : m_platform.messageBoxes())
        EXPECT_EQ(box.text, script);
    EXPECT_EQ(files.imageWidth, 1234);
    EXPECT_EQ(std::string(files.scriptText.get()), scriptBefore);
    EXPECT_EQ(std::string(files.scriptFile), script);
    EXPECT_EQ(m_exits, 0);

    // An open that replaces no edited text asks nothing.
    m_platform.clearRecords();
    m_chosen = file("v.vert", "v");
    m_window->onCommand(CMD_OPEN);
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_STREQ(files.layers[0].vertexText.get(), "v");

    answerQuestions(MsgAnswer::Yes);
    m_window->onCommand(CMD_NEW);
    EXPECT_EQ(files.imageWidth, 640);
    EXPECT_EQ(files.scriptDirty, 0);
    EXPECT_EQ(title(), "Fragment Shader Layer 1");
    EXPECT_TRUE(runState().compileRequest);

    files.scriptDirty = 1;
    m_window->close();
    EXPECT_EQ(m_exits, 1);
}

TEST_F(FileFlowsTest, ExitWithNothingEditedClosesWithoutAsking) {
    m_window->onCommand(CMD_EXIT);
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_EQ(m_exits, 1);
}

TEST_F(FileFlowsTest, SaveAsksWithTheNameAndWithoutANameActsAsSaveAs) {
    ProjectFiles& files = projectFiles();
    m_window->onCommand(CMD_SHOW_SCRIPT);
    const std::string script = file("s.anim", "old");
    storePath(files.scriptFile, script);
    m_window->editor()->setPlainText("new");
    answerQuestions(MsgAnswer::No);
    m_window->onCommand(CMD_SAVE);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{script});
    EXPECT_EQ(captions(), std::vector<std::string>{"Are you sure you want to save?"});
    EXPECT_EQ(readFile(script), "old");
    answerQuestions(MsgAnswer::Yes);
    m_window->onCommand(CMD_SAVE);
    EXPECT_EQ(readFile(script), "new");
    EXPECT_EQ(files.scriptDirty, 0);

    // No name yet: the Save as dialog chooses one, and no question is asked.
    m_platform.clearRecords();
    m_window->onCommand(CMD_LAYER_2);
    m_window->onCommand(CMD_SHOW_VERTEX);
    m_window->editor()->setPlainText("fresh");
    m_chosen = m_dir.file("fresh.vert");
    m_window->onCommand(CMD_SAVE);
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].title, "Save File");
    EXPECT_TRUE(m_requests[0].save);
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_EQ(readFile(m_dir.file("fresh.vert")), "fresh");
    EXPECT_EQ(std::string(files.layers[1].vertexFile), m_dir.file("fresh.vert"));

    // The debug output has no file: the question has an empty text, Yes does nothing.
    m_window->onCommand(CMD_SHOW_DEBUG);
    m_window->onCommand(CMD_SAVE);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{""});
    EXPECT_EQ(m_requests.size(), 1u);
}

TEST_F(FileFlowsTest, SaveAllListsAndWritesExactlyTheNamedFiles) {
    ProjectFiles& files = projectFiles();
    storePath(files.scriptFile, m_dir.file("all.anim"));
    storePath(files.layers[0].vertexFile, m_dir.file("all.vert"));
    storePath(files.layers[0].fragmentFile, m_dir.file("all.frag"));
    storePath(files.projectFile, m_dir.file("all.vort"));
    files.scriptDirty = files.layers[0].vertexDirty = 1;
    files.layers[1].vertexDirty = 1; // edited, but without a name: not saved, still edited
    answerQuestions(MsgAnswer::No);
    m_window->onCommand(CMD_SAVE_ALL);
    EXPECT_FALSE(fs::exists(m_dir.file("all.vort")));
    answerQuestions(MsgAnswer::Yes);
    m_window->onCommand(CMD_SAVE_ALL);
    const std::string list = m_dir.file("all.anim") + "\n" + m_dir.file("all.vert") + "\n" +
                             m_dir.file("all.frag") + "\n" + m_dir.file("all.vort");
    EXPECT_EQ(boxTexts(), std::vector<std::string>(2, list));
    EXPECT_EQ(captions()[0], "Are you sure you want to save the following files?");
    EXPECT_EQ(readFile(m_dir.file("all.vert")), files.layers[0].vertexText.get());
    EXPECT_TRUE(fs::exists(m_dir.file("all.anim")) && fs::exists(m_dir.file("all.frag")));
    EXPECT_EQ(readFile(m_dir.file("all.vort")).rfind(PROJECT_MAGIC, 0), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.path()), {}), 4 + 4); // + defaults, lib
    EXPECT_EQ(
        std::tuple(files.scriptDirty, files.layers[0].vertexDirty, files.layers[1].vertexDirty),
        std::tuple(0, 0, 1));
}

// The real dialog: a name without an extension is opened as it is (and the
// dispatch then does nothing with it), not looked for as name.txt.
TEST_F(FileFlowsTest, TheOpenDialogTakesANameWithoutExtensionAsItIs) {
    setFileDialogHook(nullptr);
    const std::string notes = file("notes", "no extension");
    int accepts = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                box->reject(); // Qt's own "file not found"
                return;
            }
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        if (accepts++ > 0) {
            dialog->reject();
            return;
        }
        // Typed, as a user would: selectFile() leaves a focused field alone.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("notes"));
        // Queued: a refusal's message box must not block this timer.
        QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
    });
    driver.start(20);
    FileDialogRequest request = openFileRequest();
    request.startPath = notes;
    EXPECT_EQ(fileDialog(m_window.get(), request), notes);
    EXPECT_EQ(accepts, 1);
}

TEST_F(FileFlowsTest, DialogsStartInTheProjectsFolderWithTheirFilters) {
    ProjectFiles& files = projectFiles();
    storePath(files.projectFile, "/projects/space dir/p.vort");
    m_chosen.clear();
    m_window->onCommand(CMD_OPEN);
    m_window->onCommand(CMD_SAVE_AS);
    ASSERT_EQ(m_requests.size(), 2u);
    const FileDialogRequest& open = m_requests[0];
    EXPECT_EQ(
        std::tuple(open.filterName, open.patterns, open.title, open.defaultExtension, open.save),
        std::tuple("Open File", "*.*", "Open File", "txt", false));
    EXPECT_EQ(m_requests[1].filterName, "Save File");
    EXPECT_TRUE(m_requests[1].save);
    EXPECT_EQ(dialogFolder(open.startPath), "/projects/space dir");
    EXPECT_EQ(dialogFolder("C:\\out\\clip.avi"), "C:\\out");
    EXPECT_EQ(dialogFolder("clip.avi"), "/projects/space dir");
    EXPECT_EQ(extensionOf("/a.b/c"), "b/c");
    EXPECT_EQ(extensionOf("/a/c"), "");
}

} // namespace
} // namespace vortigo
