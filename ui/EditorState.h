// The editor's and the windows' own state: the font, colours and window
// places from the options file, which text of which layer the editor shows
// and where each text was scrolled to, the Find text, whether the Sliders
// dialog is open, and the titles of the texts.
//
// Owner: the user-interface thread alone. editorState() stops a caller on
// any other thread in debug builds. What the layers below need to know of
// it travels through core/ViewFlags.h (setKind() keeps the Debug Output
// flag there in step).
#pragma once

#include "core/ProjectTypes.h"
#include "persist/Options.h"

#include <string>

namespace vortigo {

struct EditorState : WindowLayout {
    int currentLayer = 0;
    int currentKind = KIND_FRAGMENT; // write through setKind()
    int scriptTopLine = 0, debugTopLine = 0;
    char findText[PATH_SIZE]{};
    uint8_t slidersOpen = 0; // the Sliders dialog exists

    // Shows `kind` and tells the post-processing thread whether the Debug
    // Output page is on screen.
    void setKind(int kind);
    // What a new project shows: the first layer's fragment shader, every
    // text scrolled to its top.
    void showNewProject();
};

EditorState& editorState();

// The text buffer, top line and title that belong to a text kind of the
// current layer.
char* textOfKind(int kind);
int& topLineOfKind(int kind);
std::string titleOfKind(int kind);

} // namespace vortigo
