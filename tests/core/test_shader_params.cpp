// Named shader parameters: the annotation parser's accepted and refused
// forms, and the store keeping values across compiles.
#include "core/ShaderParams.h"

#include <gtest/gtest.h>
#include <string>

namespace vortigo {
namespace {

struct Case {
    const char* line;
    const char* refusal; // nullptr: accepted; else a part of the message
};

TEST(ShaderParamParser, AcceptsEveryTypeAndRefusesBadAnnotationsOnTheirLine) {
    const std::string longName(64, 'n');
    const std::string longest(63, 'n');
    const std::string longLine = "uniform float " + longName + "; // @param 0 1 0.5";
    const std::string longestLine = "uniform float " + longest + "; // @param 0 1 0.5";
    const Case cases[] = {
        {"uniform float power; // @param 2.0 16.0 8.0 \"Power of z\"", nullptr},
        {"uniform int steps;// @param 10 300 120", nullptr},
        {"uniform bool shadows; // @param true \"Shadows\"", nullptr},
        {"uniform vec2 c; // @param -2 2 -0.5,0.25 \"Seed\"", nullptr},
        {"  uniform highp vec3 offset ; //@param -1 1 0.5", nullptr},
        {"uniform vec4 q; // @param -1 1 0,0,0,1", nullptr},
        {"uniform vec3 tint; // @param colour 1,0.5,0.25 \"Tint\"", nullptr},
        {longestLine.c_str(), nullptr},
        {"uniform float a; // @param 16 2 8", "minimum 16 must be below the maximum 2"},
        {"uniform float b; // @param 1 1 1", "must be below"},
        {"uniform float c2; // @param 0 1 1.5", "default 1.5 lies outside 0 to 1"},
        {"uniform vec3 d; // @param 0 1 0,2,0", "default 2 lies outside"},
        {"uniform vec3 e; // @param 0 1 0,1", "one a component"},
        {"uniform int f; // @param 0 10 2.5", "whole numbers"},
        {"uniform float g; // @param colour 1", "only a vec3 can be a colour"},
        {"uniform bool h; // @param maybe", "not true or false"},
        {"uniform float i; // @param 0 1 x", "a minimum, a maximum, a default"},
        {"uniform float j; // @param 0 1 0.5 \"label\" junk", "one quoted text at the end"},
        {"uniform float k[3]; // @param 0 1 0.5", "is refused"},
        {longLine.c_str(), "is refused"},
        {"uniform mat3 m; // @param 0 1 0.5", "needs a uniform declaration"},
        {"float notUniform; // @param 0 1 0.5", "needs a uniform declaration"},
        {"uniform float power; // @param 0 1 0.5", "declared twice"},
        {"uniform float plain; // a comment, no annotation", ""},
        {"uniform float other; // @parameter 0 1 0.5", ""},
    };
    std::string text;
    for (const Case& c : cases)
        text += std::string(c.line) + "\n";
    const ParamScan scan = scanShaderParams(text);

    size_t accepted = 0;
    for (int line = 1; line <= static_cast<int>(std::size(cases)); ++line) {
        const Case& c = cases[line - 1];
        const ParamIssue* issue = nullptr;
        for (const ParamIssue& found : scan.issues)
            if (found.line == line) issue = &found;
        if (c.refusal && *c.refusal) {
            ASSERT_NE(issue, nullptr) << c.line;
            EXPECT_NE(issue->message.find(c.refusal), std::string::npos)
                << c.line << " -> " << issue->message;
        } else {
            EXPECT_EQ(issue, nullptr) << c.line << " -> " << issue->message;
            if (!c.refusal) ++accepted;
        }
    }
    ASSERT_EQ(scan.params.size(), accepted);
    const ParamDecl& power = scan.params[0];
    EXPECT_EQ(power.name, "power");
    EXPECT_EQ(power.label, "Power of z");
    EXPECT_EQ(power.line, 1);
    EXPECT_FLOAT_EQ(power.minimum, 2.0f);
    EXPECT_FLOAT_EQ(power.maximum, 16.0f);
    EXPECT_FLOAT_EQ(power.defaults[0], 8.0f);
    EXPECT_EQ(scan.params[1].type, ParamType::Int);
    EXPECT_EQ(scan.params[1].label, "steps"); // the name stands in for a missing label
    EXPECT_FLOAT_EQ(scan.params[2].defaults[0], 1.0f);
    EXPECT_EQ(scan.params[3].defaults[1], 0.25f);
    const ParamDecl& offset = scan.params[4];
    EXPECT_EQ(offset.name, "offset");
    EXPECT_EQ(offset.type, ParamType::Vec3);
    EXPECT_EQ(offset.defaults, (ParamValues{0.5f, 0.5f, 0.5f, 0.0f}));
    EXPECT_EQ(scan.params[6].type, ParamType::Colour);
    EXPECT_EQ(scan.params[6].defaults, (ParamValues{1.0f, 0.5f, 0.25f, 0.0f}));

    // The same name in both stages is one parameter; another type is refused.
    const LayerParamScan layer = scanLayerParams(
        "uniform float power; // @param 0 2 1\nuniform float both; // @param 0 1 0\n",
        "uniform int both; // @param 0 9 1\nuniform float power; // @param 0 2 1\n");
    ASSERT_EQ(layer.params.size(), 2u);
    ASSERT_EQ(layer.fragmentIssues.size(), 1u);
    EXPECT_EQ(layer.fragmentIssues[0].line, 1);
}

ParamDecl decl(const char* name, ParamType type, float low, float high, ParamValues defaults) {
    ParamDecl d;
    d.name = d.label = name;
    d.type = type;
    d.minimum = low;
    d.maximum = high;
    d.defaults = defaults;
    return d;
}

TEST(ShaderParamStore, KeepsValuesAcrossCompilesByNameAndTypeAndKeepsUndeclaredOnes) {
    ShaderParams params;
    const float nine = 9.0f;
    const float fileTint[3] = {0.1f, 0.2f, 0.3f};
    const float fileSteps[2] = {1.0f, 2.0f};
    // A project's values wait for the compile that declares them; a wrong
    // component count does not fit.
    ASSERT_TRUE(params.store(0, "tint", fileTint, 3));
    ASSERT_TRUE(params.store(0, "steps", fileSteps, 2));
    params.declare(0, {decl("power", ParamType::Float, 2, 16, {8}),
                       decl("tint", ParamType::Colour, 0, 1, {1, 1, 1}),
                       decl("steps", ParamType::Int, 1, 100, {50})});
    params.declare(1, {decl("power", ParamType::Float, 2, 16, {4})});
    ParamValues v{};
    EXPECT_EQ(params.get(0, "tint", v), 3);
    EXPECT_EQ(v, (ParamValues{0.1f, 0.2f, 0.3f, 0.0f}));
    EXPECT_EQ(params.get(0, "steps", v), 1);
    EXPECT_FLOAT_EQ(v[0], 50.0f);

    // Two layers' "power" are separate; set fits to the range and rounds ints.
    EXPECT_EQ(params.set(0, "power", &nine, 1), 1);
    const float far = 1000.5f;
    EXPECT_EQ(params.set(0, "steps", &far, 1), 1);
    EXPECT_EQ(params.get(1, "power", v), 1);
    EXPECT_FLOAT_EQ(v[0], 4.0f);
    EXPECT_EQ(params.get(0, "steps", v), 1);
    EXPECT_FLOAT_EQ(v[0], 100.0f);
    EXPECT_EQ(params.set(0, "nothing", &nine, 1), -1);
    EXPECT_EQ(params.set(4, "power", &nine, 1), -1);

    // Recompiled: same name and type keep (fitted to a new range), another
    // type starts at its default, a dropped name stays but is not declared.
    params.declare(0, {decl("power", ParamType::Float, 2, 5, {3}),
                       decl("tint", ParamType::Vec3, 0, 1, {0, 0, 0})});
    EXPECT_EQ(params.get(0, "power", v), 1);
    EXPECT_FLOAT_EQ(v[0], 5.0f);
    EXPECT_EQ(params.get(0, "tint", v), 3);
    EXPECT_EQ(v, (ParamValues{0, 0, 0, 0}));
    EXPECT_EQ(params.get(0, "steps", v), -1);
    const std::vector<ParamEntry> entries = params.entries(0);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].decl.name, "steps");
    EXPECT_FALSE(entries[2].declared);
    EXPECT_FLOAT_EQ(entries[2].values[0], 100.0f);
    // Declared again later, it comes back with its value.
    params.declare(0, {decl("steps", ParamType::Int, 1, 100, {50})});
    EXPECT_EQ(params.get(0, "steps", v), 1);
    EXPECT_FLOAT_EQ(v[0], 100.0f);

    params.resetAllToDefaults();
    EXPECT_EQ(params.get(0, "steps", v), 1);
    EXPECT_FLOAT_EQ(v[0], 50.0f);

    // The renderer's copy is refused once the declarations changed.
    std::vector<ParamValues> copied;
    const uint64_t generation = params.generation();
    EXPECT_TRUE(params.copyDeclared(1, generation, copied));
    ASSERT_EQ(copied.size(), 1u);
    params.declare(1, {});
    EXPECT_FALSE(params.copyDeclared(1, generation, copied));
}

} // namespace
} // namespace vortigo
