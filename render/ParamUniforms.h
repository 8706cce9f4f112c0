// The named parameters' uniforms: found when the layer programs are built,
// their locations kept, and their values set every frame.
//
// Threads: render thread only, with the context current.
#pragma once

#include "render/GlContext.h"

namespace vortigo {

// After every layer linked: reads each layer's annotations, declares its
// parameters in the store (shaderParams()), reports unusable annotations on
// the Debug Output page with their text and line, and caches the uniform
// locations of the declared parameters.
void bindParamUniforms(GlState& gl);

// Forgets the cached locations (the programs are gone).
void releaseParamUniforms();

// Sets the declared parameters of `layer` on its program, which is current.
void setParamUniforms(const GlEntryPoints& gl, int layer);

} // namespace vortigo
