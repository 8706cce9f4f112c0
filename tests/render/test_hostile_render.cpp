// Scripts that try to make the GL driver or the read-back fault or write
// out of bounds for them: short and bad texture buffers, and pixel-store
// state left set.
#include "RendererFixture.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "script/ScriptCalls.h"

#include <thread>

namespace vortigo {
namespace {

using test::PASS_VERTEX;
using HostileRenderTest = test::RendererFixture;

const char* const STEEL_BLUE = "void main() { gl_FragColor = vec4(0.2, 0.4, 0.6, 1.0); }";

TEST_F(HostileRenderTest, AShortDataTextureBufferFaultsInTheScriptNotInTheDriver) {
    openFrame(32, 24);
    setLayer(0, PASS_VERTEX, STEEL_BLUE);
    // 4000 texels of 3 bytes read from a buffer whose second page is
    // inaccessible: the driver would fault holding its own locks.
    ASSERT_TRUE(compileAndDraw(R"(
#include <sys/mman.h>
static unsigned char *block;
int SetupDataTex(void *data, int w, int h, int c, int f, int filter);
void udSetup(void *w, float *u, float *a, int *f, char *l) {
    block = mmap(0, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    mprotect(block + 4096, 4096, PROT_NONE);
}
void udPre(unsigned char *b, float *f) { SetupDataTex(block, 4000, 1, 3, 0, 2); }
)"));
    drawAgain(); // the driver is still usable
    const auto boxes = m_platform.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "udPre caused an exception.");
    EXPECT_EQ(pixel(16, 12).b, 153);
}

TEST_F(HostileRenderTest, BadPointersInTheTextureRequestsAreTheScriptsFault) {
    openFrame(32, 24);
    setLayer(0, PASS_VERTEX, STEEL_BLUE);
    for (const char* request : {"FI_DATA_TEX(frame) = (void *)16; frame[FI_DATA_TEX_WIDTH] = 4;",
                                "FI_VOL_TEX(frame) = (void *)4096; frame[FI_VOL_TEX_WIDTH] = 2;"
                                " frame[FI_VOL_TEX_HEIGHT] = 2; frame[FI_VOL_TEX_DEPTH] = 2;"}) {
        SCOPED_TRACE(request);
        m_platform.clearRecords();
        const std::string script =
            std::string(
                "#include <vortigo.h>\nstatic int *frame;\n"
                "void udSetup(void *w, float *u, float *a, int *f, char *l) { frame = f; }\n"
                "void udPre(unsigned char *b, float *f) { ") +
            request + " }\n";
        ASSERT_TRUE(compileAndDraw(script.c_str(), 2));
        const auto boxes = m_platform.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "udPre caused an exception.");
        EXPECT_EQ(pixel(1, 1).b, 153); // the frame is still drawn
    }
}

TEST_F(HostileRenderTest, WritesJustOutsideTheFrameLentToUdPostFrameFault) {
    openFrame(32, 24);
    setLayer(0, PASS_VERTEX, STEEL_BLUE);
    // One byte past the last pixel and one before the first, in the frame
    // the post-processing thread lends out.
    for (const char* write : {"p[32 * 24 * 3] = 7;", "p[-1] = 7;"}) {
        SCOPED_TRACE(write);
        m_platform.clearRecords();
        const std::string script =
            std::string("void udPostFrame(unsigned char *p) { p[0] = 9; ") + write + " }\n";
        ASSERT_TRUE(compileAndDraw(script.c_str()));
        runState().scriptReady.set();
        frameQueue().handOver(); // as by the render thread
        std::thread post([] { finishFrame(); });
        post.join();
        const auto boxes = m_platform.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "udPostFrame caused an exception.");
        EXPECT_EQ(entryPoint(UD_POST_FRAME), nullptr);
        drawAgain(); // the renderer goes on with the same buffers
        EXPECT_EQ(pixel(16, 12).b, 153);
    }
}

TEST_F(HostileRenderTest, PixelStoreStateLeftByTheScriptDoesNotReachTheReadBack) {
    openFrame(40, 30);
    setLayer(0, PASS_VERTEX, STEEL_BLUE);
    ASSERT_TRUE(compileAndDraw(R"(
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
static GLuint buffer;
void udPost(void) {
    glPixelStorei(GL_PACK_SKIP_ROWS, 7);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 5);
    glPixelStorei(GL_PACK_ROW_LENGTH, 999);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 7);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 999);
    if (!buffer) {
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
        glBufferData(GL_PIXEL_PACK_BUFFER, 1 << 20, 0, GL_STREAM_READ);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffer);
    }
}
)",
                               2));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    for (const auto& [x, y] : {std::pair{0, 0}, {39, 0}, {0, 29}, {39, 29}, {20, 15}}) {
        const test::Bgr p = pixel(x, y);
        EXPECT_EQ(p.b, 153) << x << "," << y;
        EXPECT_EQ(p.g, 102) << x << "," << y;
        EXPECT_EQ(p.r, 51) << x << "," << y;
    }
    // Depth of field reads back and uploads too.
    projectFiles().dofEnabled = 1;
    drawAgain();
    drawAgain();
    EXPECT_EQ(projectFiles().dofEnabled, 1);
    EXPECT_NEAR(pixel(20, 15).g, 102, 2);
    EXPECT_NEAR(pixel(39, 29).b, 153, 2);
}

} // namespace
} // namespace vortigo
