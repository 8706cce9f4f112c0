// The four layers' GLSL programs and the built-in depth-of-field program.
//
// Threads: render thread only, with the context current.
#pragma once

#include "platform/Platform.h"
#include "render/GlContext.h"

namespace vortigo {

constexpr int DOF_LAYER_INDEX = 100;

// The built-in depth-of-field shaders.
extern const char* const DOF_VERTEX_SHADER;
extern const char* const DOF_FRAGMENT_SHADER;

// Builds the programs of every active layer from the layer texts. The first
// failure is reported once, releases every layer and fails; success beeps.
bool buildLayerPrograms(GlState& gl, WindowId owner);

// Compiles and links one program; empty texts leave it inactive (success).
// Layer indices below 4 also look up the layer uniforms into `uniforms`.
bool compileAndLinkProgram(GlState& gl, WindowId owner, GLuint program, GLuint vertexShader,
                           GLuint fragmentShader, const char* vertexText, const char* fragmentText,
                           int layerIndex, GLint* uniforms);

// Detaches and deletes both shaders of every layer and deletes its program.
void releaseLayerPrograms(GlState& gl);

// Makes the depth-of-field buffer match the frame and builds the program on
// first use; false when either fails.
bool prepareDepthOfField(GlState& gl, int width, int height);

// Posts go-to-line requests for a shader's info log. Logs in the form
// "0:12(22): error" (Mesa) name the line between ':' and '('; every other
// log is scanned for numbers between '(' and ')'.
void scanShaderLog(WindowId owner, int page, const char* log);

} // namespace vortigo
