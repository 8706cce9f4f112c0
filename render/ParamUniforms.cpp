#include "render/ParamUniforms.h"

#include "core/ProjectFiles.h"
#include "core/ShaderParams.h"
#include "platform/Platform.h"
#include "script/DebugLog.h"

#include <array>
#include <string>
#include <vector>

namespace vortigo {
namespace {

struct Binding {
    GLint location = -1;
    ParamType type = ParamType::Float;
};

struct LayerBindings {
    std::vector<Binding> uniforms;   // in declaration order
    std::vector<ParamValues> values; // reused every frame
};

std::array<LayerBindings, LAYER_COUNT> g_layers;
uint64_t g_generation = 0; // the declarations the locations belong to

void report(int layer, const char* kind, const std::vector<ParamIssue>& issues) {
    for (const ParamIssue& issue : issues) {
        const std::string line = formatC("Layer %d %s shader, line %d: %s; the uniform gets no "
                                         "control.\r\n",
                                         layer + 1, kind, issue.line, issue.message.c_str());
        appendDebugText(line.c_str());
    }
}

} // namespace

void bindParamUniforms(GlState& gls) {
    ProjectFiles& files = projectFiles();
    ShaderParams& params = shaderParams();
    for (int i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& slot = files.layers[static_cast<size_t>(i)];
        LayerBindings& bindings = g_layers[static_cast<size_t>(i)];
        bindings.uniforms.clear();
        const GLuint program = gls.layers[static_cast<size_t>(i)].program;
        if (!slot.active() || !program) {
            params.declare(i, {});
            continue;
        }
        const LayerParamScan scan = scanLayerParams(slot.vertexText.get(), slot.fragmentText.get());
        report(i, "vertex", scan.vertexIssues);
        report(i, "fragment", scan.fragmentIssues);
        params.declare(i, scan.params);
        for (const ParamDecl& decl : scan.params)
            bindings.uniforms.push_back(
                Binding{gls.gl.glGetUniformLocation(program, decl.name.c_str()), decl.type});
    }
    g_generation = params.generation();
}

void releaseParamUniforms() {
    for (LayerBindings& layer : g_layers)
        layer.uniforms.clear();
    g_generation = 0;
}

void setParamUniforms(const GlEntryPoints& gl, int layer) {
    if (layer < 0 || layer >= LAYER_COUNT) return;
    LayerBindings& bindings = g_layers[static_cast<size_t>(layer)];
    if (bindings.uniforms.empty()) return;
    // Changed declarations (a load waiting for its compile) set nothing.
    if (!shaderParams().copyDeclared(layer, g_generation, bindings.values) ||
        bindings.values.size() != bindings.uniforms.size())
        return;
    for (size_t i = 0; i < bindings.uniforms.size(); ++i) {
        const Binding& b = bindings.uniforms[i];
        if (b.location < 0) continue;
        const float* v = bindings.values[i].data();
        switch (b.type) {
        case ParamType::Int:
        case ParamType::Bool: {
            const GLint whole = static_cast<GLint>(v[0]);
            gl.glUniform1iv(b.location, 1, &whole);
            break;
        }
        case ParamType::Float:
            gl.glUniform1fv(b.location, 1, v);
            break;
        case ParamType::Vec2:
            if (gl.glUniform2fv) gl.glUniform2fv(b.location, 1, v);
            break;
        case ParamType::Vec3:
        case ParamType::Colour:
            gl.glUniform3fv(b.location, 1, v);
            break;
        case ParamType::Vec4:
            gl.glUniform4fv(b.location, 1, v);
            break;
        }
    }
}

} // namespace vortigo
