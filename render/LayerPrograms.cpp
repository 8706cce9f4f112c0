#include "render/LayerPrograms.h"

#include "core/ProjectFiles.h"
#include "render/ImageShader.h"
#include "render/ParamUniforms.h"
#include "script/CompileNotes.h"
#include "script/ScriptHost.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vortigo {

// The fragment text needs texture2DLod, which GLSL 1.10 offers in fragment
// shaders only through this extension on some drivers (Mesa among them).
const char* const DOF_VERTEX_SHADER = "varying vec2 texcoord;\n"
                                      "void main(){\n"
                                      " gl_Position=gl_Vertex;\n"
                                      " texcoord = vec2(gl_MultiTexCoord0);\n"
                                      "}\n";
const char* const DOF_FRAGMENT_SHADER =
    "#extension GL_ARB_shader_texture_lod : enable\n"
    "varying vec2 texcoord;\n"
    "uniform sampler2D tex;\n"
    "uniform float offset,scale;\n"
    "void main(){\n"
    " gl_FragColor=texture2DLod(tex, texcoord, abs((texture2D(tex, texcoord).w - offset) * "
    "scale));\n"
    "}\n";

namespace {

const char* const UNIFORM_NAMES[LAYER_UNIFORM_COUNT] = {
    "size",        "time", "eye",     "rot",    "udef", "maxDepth",
    "superSample", "tex",  "datatex", "voltex", "tile", "tileOffset"};

// Reads a whole info log of a shader or a program: drivers write logs far
// longer than a fixed buffer.
template <typename GetIv, typename GetLog>
std::string infoLog(GetIv getIv, GetLog getLog, GLuint object) {
    GLint length = 0;
    getIv(object, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(std::max(length, 1)) + 1, 0);
    getLog(object, static_cast<GLsizei>(log.size()), nullptr, log.data());
    return log.data();
}

std::string shaderLog(const GlEntryPoints& gl, GLuint shader) {
    return infoLog(gl.glGetShaderiv, gl.glGetShaderInfoLog, shader);
}

std::string programLog(const GlEntryPoints& gl, GLuint program) {
    return infoLog(gl.glGetProgramiv, gl.glGetProgramInfoLog, program);
}

bool compileShader(const GlState& gls, WindowId owner, GLuint shader, const char* text, int page,
                   const char* captionFormat, int layerIndex) {
    const GlEntryPoints& gl = gls.gl;
    gl.glShaderSource(shader, 1, &text, nullptr);
    gl.glCompileShader(shader);
    GLint status = GL_FALSE;
    gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status) return true;
    const std::string log = shaderLog(gl, shader);
    // The built-in program has no text in the editor to point at.
    if (layerIndex < LAYER_COUNT) scanShaderLog(owner, page, log.c_str());
    const std::string caption = formatC(captionFormat, layerIndex + 1);
    if (layerIndex < LAYER_COUNT && noteCompileError(caption, log)) return false;
    platform().messageBox(owner, log, caption, MsgButtons::Ok, MsgIcon::Error);
    return false;
}

void releaseProgram(const GlEntryPoints& gl, GLuint& program, GLuint& vertex, GLuint& fragment) {
    if (program && gl.glDetachShader) {
        if (vertex) gl.glDetachShader(program, vertex);
        if (fragment) gl.glDetachShader(program, fragment);
    }
    if (gl.glDeleteShader) {
        if (vertex) gl.glDeleteShader(vertex);
        if (fragment) gl.glDeleteShader(fragment);
    }
    if (program && gl.glDeleteProgram) gl.glDeleteProgram(program);
    program = vertex = fragment = 0;
}

bool readsNumber(const char* text) {
    return *text >= '0' && *text <= '9';
}

} // namespace

void scanShaderLog(WindowId owner, int page, const char* log) {
    if (!log) return;
    // Mesa: every message line starts "0:LINE(COLUMN): ".
    bool mesaForm = false;
    for (const char* line = log; *line;) {
        const char* colon = std::strchr(line, ':');
        const char* end = std::strchr(line, '\n');
        if (colon && (!end || colon < end) && readsNumber(colon + 1)) {
            const char* after = colon + 1;
            while (readsNumber(after))
                ++after;
            if (*after == '(') {
                mesaForm = true;
                platform().postMessage(
                    WindowMessage{owner, MSG_GOTO_LINE, std::atoi(colon + 1), page});
            }
        }
        if (!end) break;
        line = end + 1;
    }
    if (!mesaForm) scanErrorLines(owner, page, log, '(', ')');
}

bool compileAndLinkProgram(GlState& gls, WindowId owner, GLuint program, GLuint vertexShader,
                           GLuint fragmentShader, const char* vertexText, const char* fragmentText,
                           int layerIndex, GLint* uniforms) {
    if (!vertexText || !fragmentText) return false;
    if (!*vertexText || !*fragmentText) return true;
    const GlEntryPoints& gl = gls.gl;
    if (!compileShader(gls, owner, vertexShader, vertexText, KIND_VERTEX,
                       "Layer %i Vertex Compilation Error", layerIndex))
        return false;
    if (!compileShader(gls, owner, fragmentShader, fragmentText, KIND_FRAGMENT,
                       "Layer %i Fragment Compilation Error", layerIndex))
        return false;
    gl.glAttachShader(program, vertexShader);
    gl.glAttachShader(program, fragmentShader);
    gl.glLinkProgram(program);
    GLint status = GL_FALSE;
    gl.glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (!status) {
        const std::string log = programLog(gl, program);
        gl.glDetachShader(program, vertexShader);
        gl.glDetachShader(program, fragmentShader);
        const std::string caption = formatC("Layer %i Program Link Error", layerIndex + 1);
        if (layerIndex >= LAYER_COUNT || !noteCompileError(caption, log))
            platform().messageBox(owner, log, caption, MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    if (layerIndex < LAYER_COUNT && uniforms) {
        gl.glUseProgram(program);
        for (int i = 0; i < LAYER_UNIFORM_COUNT; ++i)
            uniforms[i] = gl.glGetUniformLocation(program, UNIFORM_NAMES[i]);
    }
    return true;
}

void releaseLayerPrograms(GlState& gls) {
    releaseParamUniforms();
    for (LayerProgram& layer : gls.layers) {
        releaseProgram(gls.gl, layer.program, layer.vertexShader, layer.fragmentShader);
        for (GLint& location : layer.uniforms)
            location = -1;
        layer.imageShader = false;
        for (GLint& location : layer.imageInputs)
            location = -1;
    }
}

bool buildLayerPrograms(GlState& gls, WindowId owner) {
    ProjectFiles& files = projectFiles();
    const GlEntryPoints& gl = gls.gl;
    releaseLayerPrograms(gls);
    if (!gl.glCreateShader) return false;
    for (int i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& slot = files.layers[i];
        if (!slot.vertexText || !slot.fragmentText) {
            releaseLayerPrograms(gls);
            return false;
        }
        // An image shader brings its own vertex stage.
        if (!slot.active() && !(slot.fragmentText[0] && isImageShaderText(slot.fragmentText.get())))
            continue;
        LayerProgram& layer = gls.layers[i];
        layer.program = gl.glCreateProgram();
        layer.vertexShader = gl.glCreateShader(GL_VERTEX_SHADER);
        layer.fragmentShader = gl.glCreateShader(GL_FRAGMENT_SHADER);
        if (!layer.program || !layer.vertexShader || !layer.fragmentShader) {
            releaseLayerPrograms(gls);
            return false;
        }
    }
    for (int i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& slot = files.layers[i];
        LayerProgram& layer = gls.layers[i];
        if (!layer.program) continue;
        const char* vertexText = slot.vertexText.get();
        const char* fragmentText = slot.fragmentText.get();
        std::string wrapped;
        layer.imageShader = isImageShaderText(fragmentText);
        if (layer.imageShader) {
            wrapped = wrapImageShader(fragmentText);
            vertexText = IMAGE_SHADER_VERTEX;
            fragmentText = wrapped.c_str();
        }
        if (!compileAndLinkProgram(gls, owner, layer.program, layer.vertexShader,
                                   layer.fragmentShader, vertexText, fragmentText, i,
                                   layer.uniforms)) {
            releaseLayerPrograms(gls);
            return false;
        }
        if (layer.imageShader) lookUpImageInputs(gls, layer);
    }
    restartImageShaderFrames();
    bindParamUniforms(gls);
    if (gl.glUseProgram) gl.glUseProgram(0);
    platform().beep(240, 250);
    return true;
}

bool prepareDepthOfField(GlState& gls, int width, int height) {
    if (width <= 0 || height <= 0) return false;
    if (!gls.dofBuffer || gls.dofBufferWidth != width || gls.dofBufferHeight != height) {
        std::free(gls.dofBuffer);
        gls.dofBufferWidth = gls.dofBufferHeight = 0;
        gls.dofBuffer = static_cast<float*>(std::malloc(
            static_cast<size_t>(width) * static_cast<size_t>(height) * 4 * sizeof(float)));
        if (!gls.dofBuffer) return false;
        gls.dofBufferWidth = width;
        gls.dofBufferHeight = height;
    }
    if (gls.dofProgram) return true;
    const GlEntryPoints& gl = gls.gl;
    gls.dofProgram = gl.glCreateProgram();
    gls.dofVertexShader = gl.glCreateShader(GL_VERTEX_SHADER);
    gls.dofFragmentShader = gl.glCreateShader(GL_FRAGMENT_SHADER);
    bool ok = gls.dofProgram && gls.dofVertexShader && gls.dofFragmentShader &&
              compileAndLinkProgram(gls, WindowId::None, gls.dofProgram, gls.dofVertexShader,
                                    gls.dofFragmentShader, DOF_VERTEX_SHADER, DOF_FRAGMENT_SHADER,
                                    DOF_LAYER_INDEX, nullptr);
    // A failed program is released so a later switch-on tries again.
    if (!ok) releaseProgram(gl, gls.dofProgram, gls.dofVertexShader, gls.dofFragmentShader);
    return ok;
}

} // namespace vortigo
