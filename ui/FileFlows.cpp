#include "ui/FileFlows.h"

#include "ui/StillCommands.h"

#include "control/StatusLine.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "media/Capture.h"
#include "persist/FlightFile.h"
#include "persist/ProjectDefaults.h"
#include "persist/ProjectFile.h"
#include "persist/TextFile.h"
#include "ui/EditorState.h"
#include "ui/MainWindow.h"

#include <QFileDialog>
#include <QLineEdit>
#include <algorithm>
#include <cctype>
#include <cerrno>

namespace vortigo {
namespace {

FileDialogHook& dialogHook() {
    static FileDialogHook hook;
    return hook;
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

LayerSlot& shownLayer() {
    ProjectFiles& files = projectFiles();
    EditorState& editor = editorState();
    return files.layers[std::clamp(editor.currentLayer, 0, LAYER_COUNT - 1)];
}

char* fileOfKind(int kind) {
    switch (kind) {
    case KIND_SCRIPT:
        return projectFiles().scriptFile;
    case KIND_FRAGMENT:
        return shownLayer().fragmentFile;
    case KIND_VERTEX:
        return shownLayer().vertexFile;
    default:
        return nullptr;
    }
}

uint8_t* dirtyOfKind(int kind) {
    switch (kind) {
    case KIND_SCRIPT:
        return &projectFiles().scriptDirty;
    case KIND_FRAGMENT:
        return &shownLayer().fragmentDirty;
    case KIND_VERTEX:
        return &shownLayer().vertexDirty;
    default:
        return nullptr;
    }
}

// The text kind an extension names, or -1.
int textKindOf(const std::string& extension) {
    if (extension == "VERT") return KIND_VERTEX;
    // Image shaders are kept as .glsl files; their text is a fragment text.
    if (extension == "FRAG" || extension == "GLSL") return KIND_FRAGMENT;
    if (extension == "ANIM") return KIND_SCRIPT;
    return -1;
}

void showProject(MainWindow& window) {
    window.showCurrentText();
    window.checkLayerItem(editorState().currentLayer);
    updateStatusLine(WindowId::Trace);
}

void openText(MainWindow& window, const std::string& path, int kind) {
    window.storeShownText();
    if (path.size() >= static_cast<size_t>(PATH_SIZE)) {
        // The name could not be kept, and a later Save would go elsewhere.
        platform().messageBox(WindowId::Main,
                              "There has been an error opening the text file: " + path,
                              "File Error", MsgButtons::Ok, MsgIcon::Error);
        return;
    }
    if (!loadText(WindowId::Main, path, textOfKind(kind), TEXT_SIZE)) return;
    storePath(fileOfKind(kind), path);
    *dirtyOfKind(kind) = 0;
    editorState().setKind(kind);
    topLineOfKind(kind) = 0;
    window.showCurrentText();
}

void saveTextOfKind(MainWindow& window, const std::string& path, int kind) {
    static const char* const refusals[] = {
        "Switch to anim text first!", "Switch to frag text first!", "Switch to vert text first!"};
    if (editorState().currentKind != kind) {
        platform().messageBox(WindowId::Main, refusals[kind], "Wrong Extension?", MsgButtons::Ok,
                              MsgIcon::Warning);
        return;
    }
    window.storeShownText();
    const bool fits = path.size() < static_cast<size_t>(PATH_SIZE);
    if (!fits) {
        platform().messageBox(
            WindowId::Main,
            saveFailureText("There has been an error saving the script file.", path, ENAMETOOLONG),
            "File Error", MsgButtons::Ok, MsgIcon::Error);
        return;
    }
    // A text that did not reach its file stays edited under its old name, so
    // leaving the studio still asks about it.
    if (!saveText(WindowId::Main, path, textOfKind(kind))) return;
    storePath(fileOfKind(kind), path);
    *dirtyOfKind(kind) = 0;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    return text;
}

// The edited texts; `onlyKind` >= 0 lists just that text of the shown layer.
std::vector<std::string> editedTexts(int onlyKind) {
    const ProjectFiles& files = projectFiles();
    const EditorState& editor = editorState();
    std::vector<std::string> list;
    auto add = [&](bool dirty, const char* name, const std::string& untitled) {
        if (dirty) list.push_back(name[0] ? std::string(name) : untitled);
    };
    if (onlyKind >= 0) {
        const int layer = std::clamp(editor.currentLayer, 0, LAYER_COUNT - 1) + 1;
        const std::string number = std::to_string(layer);
        if (onlyKind == KIND_SCRIPT) add(files.scriptDirty, files.scriptFile, "(untitled script)");
        if (onlyKind == KIND_VERTEX)
            add(shownLayer().vertexDirty, shownLayer().vertexFile,
                "(untitled vertex shader, layer " + number + ")");
        if (onlyKind == KIND_FRAGMENT)
            add(shownLayer().fragmentDirty, shownLayer().fragmentFile,
                "(untitled fragment shader, layer " + number + ")");
        return list;
    }
    add(files.scriptDirty, files.scriptFile, "(untitled script)");
    for (int i = 0; i < LAYER_COUNT; ++i) {
        const LayerSlot& layer = files.layers[i];
        const std::string number = std::to_string(i + 1);
        add(layer.vertexDirty, layer.vertexFile, "(untitled vertex shader, layer " + number + ")");
        add(layer.fragmentDirty, layer.fragmentFile,
            "(untitled fragment shader, layer " + number + ")");
    }
    return list;
}

bool askAbout(const std::vector<std::string>& list, const char* caption) {
    if (list.empty()) return true;
    return platform().messageBox(WindowId::Main, joinLines(list), caption, MsgButtons::YesNo,
                                 MsgIcon::Question) == MsgAnswer::Yes;
}

std::string qtPatterns(const std::string& patterns) {
    // "*.*" means every file, with or without a dot.
    if (patterns == "*.*") return "*";
    std::string result = patterns;
    std::replace(result.begin(), result.end(), ';', ' ');
    return result;
}

std::string runQtDialog(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner, QString::fromStdString(request.title),
                       QString::fromStdString(dialogFolder(request.startPath)));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(
        QString::fromStdString(request.filterName + " (" + qtPatterns(request.patterns) + ")"));
    // Qt adds the suffix to any name without a dot, existing or not: an open
    // dialog would then look for a file that is not there. Only a name to
    // save under takes it.
    if (request.save) dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first().toStdString();
}

} // namespace

FileDialogRequest openFileRequest() {
    return {"Open File", "*.*", "Open File", "txt", false, projectFiles().projectFile};
}
FileDialogRequest saveFileRequest() {
    return {"Save File", "*.*", "Save File", "txt", true, projectFiles().projectFile};
}
FileDialogRequest outputFileRequest() {
    return {"Output Files", "*.tga;*.bmp;*.avi", "Output File", "tga", false, {}};
}
FileDialogRequest waveFileRequest() {
    return {"Wave Files", "*.wav", "Wave File", "wav", false, {}};
}

std::string dialogFolder(const std::string& startPath) {
    size_t cut = startPath.find_last_of("/\\");
    if (cut != std::string::npos) return startPath.substr(0, cut == 0 ? 1 : cut);
    const std::string project = projectFiles().projectFile;
    cut = project.find_last_of("/\\");
    if (cut != std::string::npos) return project.substr(0, cut == 0 ? 1 : cut);
    return {};
}

std::string fileDialog(QWidget* owner, FileDialogRequest request, QLineEdit* edit) {
    if (edit) request.startPath = edit->text().left(PATH_SIZE - 1).toStdString();
    std::string path = dialogHook() ? dialogHook()(request) : runQtDialog(owner, request);
    if (path.empty()) return {};
    // The fields keep at most 259 bytes: a path cut to fit would name another file.
    if (path.size() >= static_cast<size_t>(PATH_SIZE)) {
        platform().messageBox(WindowId::Main,
                              formatC("The path is %zu bytes long; at most %i bytes fit: %s",
                                      path.size(), PATH_SIZE - 1, path.c_str()),
                              "File Error", MsgButtons::Ok, MsgIcon::Error);
        return {};
    }
    if (edit && !request.save) edit->setText(QString::fromStdString(path));
    return path;
}

void setFileDialogHook(FileDialogHook hook) {
    dialogHook() = std::move(hook);
}

std::string extensionOf(const std::string& path) {
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

void openByExtension(MainWindow& window, const std::string& path) {
    const std::string extension = upper(extensionOf(path));
    if (extension == "VORT") {
        ShownText shown;
        if (loadProject(path, &shown)) {
            EditorState& editor = editorState();
            editor.currentLayer = shown.layer;
            if (shown.kind >= 0) editor.setKind(shown.kind);
            showProject(window);
        }
    } else if (extension == "VORN") {
        loadFlightData(path);
    } else if (extension == "BMP") {
        // A frame buffer is only ever written.
    } else if (const int kind = textKindOf(extension); kind >= 0) {
        openText(window, path, kind);
    }
}

void saveByExtension(MainWindow& window, const std::string& path) {
    const std::string extension = upper(extensionOf(path));
    if (extension == "VORT") {
        saveProject(path);
    } else if (extension == "VORN") {
        saveFlightData(path);
    } else if (extension == "BMP") {
        saveBmpSnapshot(path);
    } else if (const int kind = textKindOf(extension); kind >= 0) {
        saveTextOfKind(window, path, kind);
    }
}

std::string editedTextsList() {
    return joinLines(editedTexts(-1));
}

bool mayDiscardEditedTexts(const char* caption) {
    return askAbout(editedTexts(-1), caption);
}

void openFileAsked(MainWindow& window, const std::string& path) {
    const std::string extension = upper(extensionOf(path));
    if (extension == "VORT" && !askAbout(editedTexts(-1), DISCARD_QUESTION)) return;
    if (const int kind = textKindOf(extension);
        kind >= 0 && !askAbout(editedTexts(kind), DISCARD_QUESTION))
        return;
    openByExtension(window, path);
}

void newProjectCommand(MainWindow& window) {
    if (!mayDiscardEditedTexts(DISCARD_QUESTION)) return;
    // While capturing is still set the writer knows there is a file to end.
    finishCapture();
    resetToDefaults();
    editorState().showNewProject();
    runState().compileRequest.set();
    runState().resizeRequest.set();
    showProject(window);
}

void openCommand(MainWindow& window) {
    const std::string path = fileDialog(&window, openFileRequest());
    if (!path.empty()) openFileAsked(window, path);
}

void saveCommand(MainWindow& window) {
    window.storeShownText();
    const int kind = editorState().currentKind;
    const char* file = fileOfKind(kind);
    const std::string name = file ? file : "";
    // A text without a name would be saved nowhere: choose one first.
    if (file && name.empty()) {
        saveAsCommand(window);
        return;
    }
    const MsgAnswer answer =
        platform().messageBox(WindowId::Main, name, "Are you sure you want to save?",
                              MsgButtons::YesNo, MsgIcon::Question);
    if (answer == MsgAnswer::Yes) saveByExtension(window, name);
}

void saveAsCommand(MainWindow& window) {
    const std::string path = fileDialog(&window, saveFileRequest());
    if (!path.empty()) saveByExtension(window, path);
}

void saveAllCommand(MainWindow& window) {
    ProjectFiles& files = projectFiles();
    std::vector<std::string> list = {files.scriptFile};
    for (const LayerSlot& layer : files.layers) {
        if (layer.vertexFile[0]) list.emplace_back(layer.vertexFile);
        if (layer.fragmentFile[0]) list.emplace_back(layer.fragmentFile);
    }
    list.emplace_back(files.projectFile);
    window.storeShownText();
    const MsgAnswer answer = platform().messageBox(
        WindowId::Main, joinLines(list), "Are you sure you want to save the following files?",
        MsgButtons::YesNo, MsgIcon::Question);
    if (answer != MsgAnswer::Yes) return;

    // Each flag is cleared only when its text reached the file.
    if (saveText(WindowId::Main, files.scriptFile, files.scriptText.get())) files.scriptDirty = 0;
    for (LayerSlot& layer : files.layers) {
        if (layer.vertexFile[0] &&
            saveText(WindowId::Main, layer.vertexFile, layer.vertexText.get()))
            layer.vertexDirty = 0;
        if (layer.fragmentFile[0] &&
            saveText(WindowId::Main, layer.fragmentFile, layer.fragmentText.get()))
            layer.fragmentDirty = 0;
    }
    saveProject(files.projectFile);
}

} // namespace vortigo
