// GetParam and SetParam from a real script compiled with libtcc.
#include "core/CameraFlight.h"
#include "core/ShaderParams.h"
#include "script/ScriptFixture.h"

namespace vortigo {
namespace {

using ScriptParamsTest = test::ScriptFixture;

TEST_F(ScriptParamsTest, AScriptReadsAndSetsParametersByNameAndUnknownOnesFail) {
    ParamDecl power;
    power.name = power.label = "power";
    power.minimum = 2.0f;
    power.maximum = 16.0f;
    power.defaults = {8.0f};
    ParamDecl offset = power;
    offset.name = "offset";
    offset.type = ParamType::Vec3;
    offset.minimum = -1.0f;
    offset.maximum = 1.0f;
    offset.defaults = {0.25f, 0.5f, 0.75f};
    shaderParams().declare(1, {power, offset});

    ASSERT_TRUE(compileScript(R"(
#include <vortigo.h>
void udSetup(void *w, float *udef, float *anim, int *frame, char *line) {
    float v[4] = {0, 0, 0, 0};
    udef[0] = GetParam(1, "power", v);
    udef[1] = v[0];
    udef[2] = GetParam(1, "offset", v);
    udef[3] = v[2];
    float big = 40;
    udef[4] = SetParam(1, "power", &big);
    float o[3] = {-0.5f, 0.0f, 3.0f};
    udef[5] = SetParam(1, "offset", o);
    udef[6] = GetParam(0, "power", v);   /* another layer: separate */
    udef[7] = SetParam(1, "Power", &big); /* names are exact */
    udef[8] = GetParam(4, "power", v);
    udef[9] = GetParam(1, 0, v);
    udef[10] = GetParam(1, "power", 0);
}
)")) << (m_platform.messageBoxes().empty() ? "" : m_platform.messageBoxes()[0].text);
    const float* udef = cameraView().udef.get();
    EXPECT_EQ(udef[0], 1.0f);
    EXPECT_EQ(udef[1], 8.0f);
    EXPECT_EQ(udef[2], 3.0f);
    EXPECT_EQ(udef[3], 0.75f);
    EXPECT_EQ(udef[4], 1.0f);
    EXPECT_EQ(udef[5], 3.0f);
    for (int i = 6; i <= 10; ++i)
        EXPECT_EQ(udef[i], -1.0f) << i;
    ParamValues v{};
    ASSERT_EQ(shaderParams().get(1, "power", v), 1);
    EXPECT_EQ(v[0], 16.0f); // fitted to the range
    ASSERT_EQ(shaderParams().get(1, "offset", v), 3);
    EXPECT_EQ(v, (ParamValues{-0.5f, 0.0f, 1.0f, 0.0f}));
}

} // namespace
} // namespace vortigo
