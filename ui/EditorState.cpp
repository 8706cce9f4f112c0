#include "ui/EditorState.h"

#include "core/ProjectFiles.h"
#include "core/ScriptShared.h"
#include "core/ThreadRole.h"
#include "core/ViewFlags.h"
#include "render/ImageShader.h"

#include <algorithm>

namespace vortigo {

void EditorState::setKind(int kind) {
    currentKind = kind;
    viewFlags().debugShown = kind == KIND_DEBUG;
}

void EditorState::showNewProject() {
    currentLayer = 0;
    scriptTopLine = 0;
    debugTopLine = 0;
    setKind(KIND_FRAGMENT);
}

EditorState& editorState() {
    VORTIGO_CHECK_OWNER(onUiThread(), "editorState", "the user-interface thread");
    static EditorState instance;
    return instance;
}

char* textOfKind(int kind) {
    ProjectFiles& files = projectFiles();
    LayerSlot& layer = files.layers[std::clamp(editorState().currentLayer, 0, LAYER_COUNT - 1)];
    switch (kind) {
    case KIND_SCRIPT:
        return files.scriptText.get();
    case KIND_FRAGMENT:
        return layer.fragmentText.get();
    case KIND_VERTEX:
        return layer.vertexText.get();
    default:
        return scriptShared().debugText.get();
    }
}

int& topLineOfKind(int kind) {
    EditorState& editor = editorState();
    LayerSlot& layer = projectFiles().layers[std::clamp(editor.currentLayer, 0, LAYER_COUNT - 1)];
    switch (kind) {
    case KIND_SCRIPT:
        return editor.scriptTopLine;
    case KIND_FRAGMENT:
        return layer.fragmentTopLine;
    case KIND_VERTEX:
        return layer.vertexTopLine;
    default:
        return editor.debugTopLine;
    }
}

std::string titleOfKind(int kind) {
    const int layerNumber = std::clamp(editorState().currentLayer, 0, LAYER_COUNT - 1) + 1;
    // A layer whose fragment text is an image shader brings its own vertex stage.
    const LayerSlot& layer = projectFiles().layers[static_cast<size_t>(layerNumber - 1)];
    const bool imageShader = isImageShaderText(layer.fragmentText.get());
    switch (kind) {
    case KIND_SCRIPT:
        return "Animation Script";
    case KIND_FRAGMENT:
        return "Fragment Shader Layer " + std::to_string(layerNumber) +
               (imageShader ? " (image shader: the vertex text is not used)" : "");
    case KIND_VERTEX:
        return "Vertex Shader Layer " + std::to_string(layerNumber) +
               (imageShader ? " (not used: the fragment text is an image shader)" : "");
    default:
        return "Debug Output";
    }
}

} // namespace vortigo
