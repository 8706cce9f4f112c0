// Scripts that try to take the host down through what the host lends them:
// the C library's heap, the memory around the shared blocks, the ways of
// ending a thread or the process, and never returning.
#include "media/Backgrounds.h"
#include "script/FaultGuard.h"
#include "script/ScriptCalls.h"
#include "script/ScriptFixture.h"
#include "script/ScriptHeap.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace vortigo {
namespace {

using HostileScriptTest = test::ScriptFixture;

// Runs `work` on a thread of its own, as a worker would; false when it did
// not end within `limitMs` (the stuck thread is left behind).
bool endsWithin(int limitMs, std::function<void()> work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread([work = std::move(work), done] {
        work();
        done->set_value();
    }).detach();
    return ended.wait_for(std::chrono::milliseconds(limitMs)) == std::future_status::ready;
}

std::vector<std::string> boxTextsOf(const HeadlessPlatform& platform) {
    std::vector<std::string> texts;
    for (const auto& box : platform.messageBoxes())
        texts.push_back(box.text);
    return texts;
}

const char* const KEEP_UDEF =
    "static float *u;\n"
    "void udSetup(void *w, float *udef, float *a, int *f, char *l) { u = udef; }\n";

TEST_F(HostileScriptTest, ADoubleFreeFaultsInTheScriptAndTheHostHeapStaysUsable) {
    ASSERT_TRUE(compileScript(R"(
#include <stdlib.h>
void udPre(unsigned char *b, float *f) {
    char *p = malloc(5000);
    free(p);
    free(p);
}
)"));
    // With the C library's heap this aborts while its lock is held, and the
    // next allocation of the thread waits for ever.
    EXPECT_TRUE(endsWithin(5000, [] {
        callUdPre(0, 0);
        void* p = std::malloc(5000);
        std::free(p);
    }));
    EXPECT_EQ(boxTextsOf(m_platform), std::vector<std::string>{"udPre caused an exception."});
    EXPECT_TRUE(endsWithin(5000, [] {
        void* p = std::malloc(100000);
        std::free(p);
    }));
}

TEST_F(HostileScriptTest, TheScriptsHeapKeepsTheCContractAndReusesFreedBlocks) {
    const std::string script = std::string(KEEP_UDEF) + R"(
#include <stdlib.h>
#include <string.h>
void *aligned_alloc(size_t alignment, size_t size);
void udPre(unsigned char *b, float *f) {
    int i, ok = 1;
    char *s = strdup("hello"), *n = strndup("abcdef", 3);
    int *z = calloc(100, sizeof(int));
    void *a = 0;
    char *r = malloc(10);
    ok &= strcmp(s, "hello") == 0 && strcmp(n, "abc") == 0;
    for (i = 0; i < 100; i++) ok &= z[i] == 0;
    ok &= posix_memalign(&a, 256, 1000) == 0 && ((unsigned long)a % 256) == 0;
    void *page = aligned_alloc(4096, 10);
    ok &= ((unsigned long)page % 4096) == 0;
    strcpy(r, "keep me");
    r = realloc(r, 100000);
    ok &= strcmp(r, "keep me") == 0;
    ok &= calloc((size_t)-1 / 2, 4) == 0;
    free(s); free(n); free(z); free(a); free(r); free(page);
    for (i = 0; i < 1000; i++) free(malloc(64 + i));
    u[0] = ok;
}
)";
    ASSERT_TRUE(compileScript(script.c_str()));
    callUdPre(0, 0);
    EXPECT_EQ(state().udef[0], 1.0f);
    const size_t afterOne = scriptHeapBytesUsed();
    EXPECT_GT(afterOne, 0u);
    for (int i = 0; i < 20; ++i)
        callUdPre(0, 0);
    EXPECT_EQ(scriptHeapBytesUsed(), afterOne); // freed blocks come back
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(HostileScriptTest, WritesPastEitherEndOfEachLentBlockFaultAndSpareTheHost) {
    // One element past the end and one before the start of every block the
    // script is lent, 32 bytes past the fixed blocks, and through the Trace
    // window's handle. Past udef or the flight ring, the host's heap was
    // corrupted and the process aborted at a later free.
    std::string tga("\0\0\2\0\0\0\0\0\0\0\0\0\2\0\2\0\x18\x20", 18); // 2 x 2 pixels
    tga.append(12, '\x40');
    m_dir.write("grey.tga", tga);
    ASSERT_EQ(loadBackground(0, m_dir.file("grey.tga").c_str(), nullptr), 1);
    const std::string udefEnd = "u[" + std::to_string(state().maxUdef) + "] = 1.0f;";
    const char* const writes[] = {"b[2 * 2 * 4] = 1;",     "b[-1] = 1;",
                                  udefEnd.c_str(),         "u[-1] = 1.0f;",
                                  "fl[120000] = 1.0f;",    "fl[-1] = 1.0f;",
                                  "anim[16 + 8] = 1.0f;",  "anim[-1] = 1.0f;",
                                  "frame[260 + 8] = 1;",   "frame[-1] = 1;",
                                  "line[260 + 32] = 'x';", "line[-1] = 'x';",
                                  "*(char *)win = 'x';",   "((char *)win)[-1] = 'x';"};
    for (const char* write : writes) {
        SCOPED_TRACE(write);
        m_platform.clearRecords();
        const std::string script =
            std::string("static float *anim, *u; static int *frame; static char *line;\n"
                        "static void *win;\n"
                        "void udSetup(void *w, float *ud, float *a, int *f, char *l) {\n"
                        "    win = w; u = ud; anim = a; frame = f; line = l; }\n"
                        "void udPre(unsigned char *b, float *fl) { b[0] = 1; ") +
            write + " }\n";
        ASSERT_TRUE(compileScript(script.c_str()));
        EXPECT_TRUE(endsWithin(5000, [] {
            callUdPre(0, 0);
            void* p = std::malloc(100000);
            std::free(p);
        }));
        EXPECT_EQ(boxTextsOf(m_platform), std::vector<std::string>{"udPre caused an exception."});
        // The next script starts clean: nothing of the write is charged to it.
        ASSERT_TRUE(compileScript("void udPre(unsigned char *b, float *f) { }\n"));
        m_platform.clearRecords();
        callUdPre(0, 0);
        EXPECT_TRUE(m_platform.messageBoxes().empty());
    }
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&state().frameInfo) % 8, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(state().udef.get()) % alignof(float), 0u);
}

TEST_F(HostileScriptTest, PthreadExitIsAFaultAndKillingTheProcessEndsNothing) {
    const std::string script = std::string(KEEP_UDEF) + R"(
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
void udPre(unsigned char *b, float *f) {
    kill(getpid(), SIGSEGV);
    kill(getpid(), SIGBUS);
    kill(getpid(), SIGFPE);
    u[1] = 1;
    pthread_exit(0);
    u[2] = 1;
}
)";
    ASSERT_TRUE(compileScript(script.c_str()));
    // On a thread of its own, as on the render thread: the signals go to the
    // process, whose main thread is inside no guard.
    bool returned = false;
    std::thread worker([&] {
        callUdPre(0, 0);
        returned = true;
    });
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(state().udef[1], 1.0f);
    EXPECT_EQ(state().udef[2], 0.0f);
    EXPECT_EQ(boxTextsOf(m_platform), std::vector<std::string>{"udPre caused an exception."});
}

TEST_F(HostileScriptTest, AnEntryPointThatNeverReturnsIsInterruptedByTheWatchdog) {
    state().scriptTimeoutSeconds = 1;
    const std::string script = std::string(KEEP_UDEF) + R"(
#include <stdlib.h>
void udPre(unsigned char *b, float *f) { for (;;) free(malloc(16)); }
void udPostFrame(unsigned char *p) { volatile int spin = 1; while (spin) ; }
void udPost(void) { u[3] += 1; }
)";
    ASSERT_TRUE(compileScript(script.c_str()));
    uint8_t frame[3] = {};
    EXPECT_TRUE(endsWithin(10000, [&] { callUdPostFrame(frame); }));
    ASSERT_TRUE(compileScript(script.c_str()));
    EXPECT_TRUE(endsWithin(10000, [] { callUdPre(0, 0); }));
    EXPECT_EQ(boxTextsOf(m_platform),
              (std::vector<std::string>{"udPostFrame did not return within 1 seconds.",
                                        "udPre did not return within 1 seconds."}));
    // The watchdog's interruption never reaches a later call.
    callUdPost(0);
    EXPECT_EQ(entryPoint(UD_POST), nullptr); // dropped by the udPre reaction
    ASSERT_TRUE(compileScript(script.c_str()));
    for (int i = 0; i < 50; ++i)
        callUdPost(0);
    EXPECT_EQ(state().udef[3], 50.0f);
    EXPECT_EQ(m_platform.messageBoxes().size(), 2u);
}

} // namespace
} // namespace vortigo
