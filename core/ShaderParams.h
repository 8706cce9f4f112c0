// Named shader parameters: uniforms a layer's shader annotates on their
// declaration line, and the values the controls, the script, the project
// file and the batch renderer give them.
//
// The annotation is a line comment after the declaration, so the text stays
// valid GLSL:
//   uniform float power;  // @param 2 16 8 "Power"        min max default label
//   uniform int steps;    // @param 10 300 120 "Steps"
//   uniform bool shadows; // @param true "Shadows"        default label
//   uniform vec3 offset;  // @param -2 2 0,0.5,0 "Offset" one range, one value or one a component
//   uniform vec3 tint;    // @param colour 1,0.6,0.2 "Tint"  components 0 to 1
// The label is optional (the name stands in for it).
//
// Threads: the parser is a pure function. The store is shared by the
// user-interface thread (controls, project file), the render thread (the
// compile declares, every frame reads) and whichever thread runs the script
// (GetParam, SetParam); one lock guards it, held only for copies.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vortigo {

constexpr int PARAM_NAME_LIMIT = 63;
constexpr int PARAM_LAYERS = 4;

enum class ParamType : uint8_t { Float, Int, Bool, Vec2, Vec3, Vec4, Colour };

int componentCount(ParamType type);
const char* paramTypeName(ParamType type);

using ParamValues = std::array<float, 4>;

struct ParamDecl {
    std::string name;
    std::string label;
    ParamType type = ParamType::Float;
    float minimum = 0.0f;
    float maximum = 1.0f;
    ParamValues defaults{};
    int line = 0; // 1-based line of the declaration
};

struct ParamIssue {
    int line = 0;
    std::string message;
};

struct ParamScan {
    std::vector<ParamDecl> params;
    std::vector<ParamIssue> issues;
};

// The annotated uniforms of one shader text, in text order. An annotation
// that cannot be used is reported on its line and the uniform gets no
// parameter; a name declared twice keeps its first declaration.
ParamScan scanShaderParams(std::string_view text);

// Both texts of a layer, the vertex text first; a name both declare with the
// same type is one parameter (GLSL shares it), with another type an issue.
struct LayerParamScan {
    std::vector<ParamDecl> params;
    std::vector<ParamIssue> vertexIssues;
    std::vector<ParamIssue> fragmentIssues;
};
LayerParamScan scanLayerParams(const char* vertexText, const char* fragmentText);

// True for 1 to 63 characters of [A-Za-z0-9_].
bool validParamName(std::string_view name);

// Clamps to the declaration's range and rounds what is whole (int, bool).
ParamValues fitParamValues(const ParamDecl& decl, const ParamValues& values);

// One known value: a declared parameter, or a value the project named that
// the shader no longer declares (kept, saved again, shown nowhere).
struct ParamEntry {
    ParamDecl decl; // for an undeclared value: its name and component count only
    bool declared = false;
    bool typeKnown = false; // false for a value read from a file and not declared since
    int count = 1;
    ParamValues values{};
};

class ShaderParams {
  public:
    // The compile: the layer's parameters become `decls`. A value whose name
    // and type did not change is kept (fitted to the new range); a value read
    // from a file is taken when its component count matches; every other
    // declared parameter starts at its default. Known values that are no
    // longer declared stay as undeclared entries.
    void declare(int layer, const std::vector<ParamDecl>& decls);

    // New project or load: nothing is known.
    void clear();

    // A value read from a project file or given on a command line: fits a
    // declared parameter of the same component count, or waits for the
    // compile that declares it. False when a declared parameter of that name
    // has another count or when the layer, name or count is out of range.
    bool store(int layer, std::string_view name, const float* values, int count);

    // Declared parameters only: the component count, or -1 for an unknown
    // layer or name. Set fits the values to the parameter.
    int get(int layer, std::string_view name, ParamValues& values) const;
    int set(int layer, std::string_view name, const float* values, int count);

    bool resetToDefault(int layer, std::string_view name);
    void resetAllToDefaults();

    // Every entry of a layer: the declared ones in declaration order, then
    // the undeclared ones.
    std::vector<ParamEntry> entries(int layer) const;

    // The declared values of a layer in declaration order, for the renderer;
    // false when the declarations changed since `generation`.
    bool copyDeclared(int layer, uint64_t generation, std::vector<ParamValues>& out) const;

    // Changes with every declare, clear and structural store; values moves
    // with every value change.
    uint64_t generation() const;
    uint64_t valueRevision() const;

  private:
    ParamEntry* find(int layer, std::string_view name);
    const ParamEntry* find(int layer, std::string_view name) const;

    mutable std::mutex m_lock;
    std::array<std::vector<ParamEntry>, PARAM_LAYERS> m_layers;
    uint64_t m_generation = 1;
    uint64_t m_valueRevision = 1;
};

// The process-wide store.
ShaderParams& shaderParams();

} // namespace vortigo
