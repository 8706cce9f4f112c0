// Image shaders in the common pasted form: a fragment text that defines
// mainImage(out vec4 fragColor, in vec2 fragCoord) and no main. The layer
// program wraps such a text with its inputs (iResolution, iTime, ...), a main
// that calls mainImage, and a vertex stage of its own.
//
// Threads: the text functions run anywhere; the GL functions run on the
// render thread with the context current; the mouse is set by the
// user-interface thread.
#pragma once

#include "render/GlContext.h"

#include <string>

namespace vortigo {

// True when `text` defines mainImage and does not define main.
bool isImageShaderText(const char* text);

// The fragment text the GL compiles for an image shader: the inputs the text
// does not declare itself, the text with its line numbers kept (a #version
// line in it is blanked), and a main that calls mainImage.
std::string wrapImageShader(const char* text);

// The vertex stage of every image-shader layer.
extern const char* const IMAGE_SHADER_VERTEX;

// Looks up the inputs of a linked image-shader program into the layer.
void lookUpImageInputs(const GlState& gl, LayerProgram& layer);

// Uploads and mipmaps the backgrounds the layer's channels show; called
// before the layer binds its own background.
void prepareImageChannels(GlState& gl, const LayerProgram& layer);

// Sets the inputs of the current image-shader program and binds its channels
// (texture units 3 to 6). `frame` is the value of iFrame; `width` and
// `height` are the whole picture's (iResolution), also when a tile is drawn.
void setImageInputs(GlState& gl, const LayerProgram& layer, int frame, int width, int height);

// iFrame: the build of the layer programs restarts the count at the first
// frame index (0, or where a range of a batch render begins). drawFrame takes
// one number per frame; its super-sample pass sees the same number.
void setImageShaderFirstFrame(int index);
void restartImageShaderFrames();
int imageShaderFrame(int pass);

// iTime for an animation time: animTime / (animationSpeed x aviFps), so that
// a motion step advances it by 1 / aviFps; animTime itself when either is 0.
float imageShaderTime(float animTime, float animationSpeed, int fps);
// The animation time at which iTime is `seconds`.
float animTimeForImageShader(float seconds, float animationSpeed, int fps);

// iMouse from the Trace window, in frame pixels from the bottom left: the
// position while the left button is down; a press also sets the press point.
void setImageShaderMouse(float x, float y, bool press);
void releaseImageShaderMouse();

} // namespace vortigo
