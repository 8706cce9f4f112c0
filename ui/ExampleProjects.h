// Help > Examples: the example projects shipped with the studio, one menu item
// each. Choosing one copies its folder to a fresh folder of the user's and
// opens the copy there, so the shipped example (often in a folder the user
// may not write) is never edited or saved over.
//
// Threads: user-interface thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace vortigo {

class MainWindow;

struct ExampleProject {
    std::string name;   // the folder's name, also the project's: NAME/NAME.vort
    std::string folder; // the folder that holds it
};

// The folder the examples are read from: "examples" in the program's own
// folder (beside the executable in a build tree, share/vortigo when
// installed).
std::string examplesFolder();

// Every sub-folder NAME of `folder` that holds NAME.vort, sorted by name.
std::vector<ExampleProject> listExamples(const std::string& folder);

// Copies the example's files into a new folder under `parent`: NAME, or
// NAME-2, NAME-3, ... when that name is taken, never into an existing folder.
// The copies are writable by the user. Returns the copied project's path, or
// an empty string with `error` set.
std::string copyExample(const ExampleProject& example, const std::string& parent,
                        std::string& error);

// The folder the user is offered for the copies: their documents folder
// (XDG_DOCUMENTS_DIR), else their home folder.
std::string defaultCopyParent();

// Asks where the copy goes (a folder dialog starting at `start`); empty when
// cancelled. Tests answer it themselves.
using ExampleFolderHook = std::function<std::string(const std::string& start)>;
void setExampleFolderHook(ExampleFolderHook hook);

// Fills `menu` with one item per example of examplesFolder(), or one disabled
// item saying there are none.
void fillExamplesMenu(MainWindow& window, QMenu* menu);

// The command behind an item: asks about edited texts, asks for the folder,
// copies and opens the copy. Runs once the render thread rests.
void openExampleCommand(MainWindow& window, const ExampleProject& example);

} // namespace vortigo
