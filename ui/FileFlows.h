// The File menu's flows: the file dialog routine, the open and save
// dispatchers that choose by extension, New, Open..., Save, Save as...,
// Save All... and the question before edited texts would be lost.
//
// Threads: user-interface thread only.
#pragma once

#include <functional>
#include <string>

class QLineEdit;
class QWidget;

namespace vortigo {

class MainWindow;

struct FileDialogRequest {
    std::string filterName; // "Open File"
    std::string patterns;   // "*.*", or several joined by ";"
    std::string title;
    std::string defaultExtension; // without the dot
    bool save = false;
    // Where the dialog starts: this path's folder, else the project's folder.
    std::string startPath;
};

// The uses of the file dialog, with their filters, titles and extensions.
FileDialogRequest openFileRequest();
FileDialogRequest saveFileRequest();
FileDialogRequest outputFileRequest();
FileDialogRequest waveFileRequest();

// The folder a dialog starts in: `startPath` cut at its last "/" or "\", or
// the project's folder when it has none.
std::string dialogFolder(const std::string& startPath);

// Shows the dialog; the chosen path, or an empty string when cancelled. With
// an edit control the dialog starts from its text, and in open mode the
// chosen path is written into it.
std::string fileDialog(QWidget* owner, FileDialogRequest request, QLineEdit* edit = nullptr);

// Tests answer the dialogs themselves: the hook gets every request and returns
// what the user would have chosen.
using FileDialogHook = std::function<std::string(const FileDialogRequest&)>;
void setFileDialogHook(FileDialogHook hook);

// The text after the last ".", or empty when there is none.
std::string extensionOf(const std::string& path);

// The dispatchers: VORT, VORN, BMP, VERT, FRAG, ANIM in that order, without
// regard to case; any other extension does nothing.
void openByExtension(MainWindow& window, const std::string& path);
void saveByExtension(MainWindow& window, const std::string& path);

// The edited texts, one a line: their file names, or "(untitled script)",
// "(untitled vertex shader, layer N)" and "(untitled fragment shader, layer
// N)" for texts that have none yet. Empty when nothing is edited.
std::string editedTextsList();

// Asks with the list of edited texts and `caption` when there are any; true
// when nothing would be lost or the user answered Yes.
bool mayDiscardEditedTexts(const char* caption);

constexpr const char* EXIT_QUESTION = "Exit without saving the following files?";
constexpr const char* DISCARD_QUESTION = "Continue without saving the following files?";

// The commands. New and Open change what the render thread reads: their
// caller runs them only once stopFlightAndCheckParked() has passed.
void newProjectCommand(MainWindow& window);
void openCommand(MainWindow& window);
void saveCommand(MainWindow& window);
void saveAsCommand(MainWindow& window);
void saveAllCommand(MainWindow& window);

// Open by extension after the question about the texts it would replace;
// File > Open and the command line both go through it.
void openFileAsked(MainWindow& window, const std::string& path);

} // namespace vortigo
