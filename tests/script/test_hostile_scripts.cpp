// Scripts that try to take the host down through what the host lends them:
// the C library's heap, the memory around the shared blocks, the ways of
// ending a thread or the process, never returning, threads that outlive
// the script, the guard's signals, new processes and a short address space.
#include "core/CameraFlight.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/ScriptShared.h"
#include "core/ThreadRole.h"
#include "media/Backgrounds.h"
#include "script/DebugLog.h"
#include "script/FaultGuard.h"
#include "script/ScriptCalls.h"
#include "script/ScriptFixture.h"
#include "script/ScriptHeap.h"
#include "script/ScriptThreads.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vortigo {
namespace {

using HostileScriptTest = test::ScriptFixture;

// Runs `work` on a thread of its own, as a worker would; false when it did
// not end within `limitMs` (the stuck thread is left behind).
bool endsWithin(int limitMs, std::function<void()> work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread([work = std::move(work), done] {
        registerThreadRole(ThreadRole::Render);
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

// Polls `done` for up to `limitMs`; true once it holds.
bool becomesTrue(int limitMs, const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool debugTextHas(const std::string& text) {
    return debugTextCopy().find(text) != std::string::npos;
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
    EXPECT_EQ(cameraView().udef[0], 1.0f);
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
    const std::string udefEnd = "u[" + std::to_string(projectFiles().maxUdef) + "] = 1.0f;";
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
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&scriptShared().frameInfo) % 8, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(cameraView().udef.get()) % alignof(float), 0u);
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
        registerThreadRole(ThreadRole::Render);
        callUdPre(0, 0);
        returned = true;
    });
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(cameraView().udef[1], 1.0f);
    EXPECT_EQ(cameraView().udef[2], 0.0f);
    EXPECT_EQ(boxTextsOf(m_platform), std::vector<std::string>{"udPre caused an exception."});
}

TEST_F(HostileScriptTest, AnEntryPointThatNeverReturnsIsInterruptedByTheWatchdog) {
    projectFiles().scriptTimeoutSeconds = 1;
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
    EXPECT_EQ(cameraView().udef[3], 50.0f);
    EXPECT_EQ(m_platform.messageBoxes().size(), 2u);
}

TEST_F(HostileScriptTest, AScriptThreadKeepsTheOldScriptMappedUntilItEnds) {
    timeouts().scriptThreadsEndMs = 200;
    const std::string script = std::string(KEEP_UDEF) + R"(
#include <pthread.h>
static void *spin(void *arg) {
    while (((volatile float *)u)[0] == 0) ;
    u[1] += 1;
    return arg;
}
static void *quick(void *arg) { return arg; }
static void *quits(void *arg) { pthread_exit(arg); return 0; }
static void *crashes(void *arg) { *(volatile int *)0 = 1; return arg; }
void udResize(void) {
    pthread_t t;
    void *r = 0;
    u[2] = 0;
    pthread_create(&t, 0, quick, (void *)7);
    u[2] += pthread_join(t, &r) == 0 && r == (void *)7;
    pthread_create(&t, 0, quits, (void *)9);
    u[2] += pthread_join(t, &r) == 0 && r == (void *)9;
    pthread_create(&t, 0, crashes, 0);
    u[2] += pthread_join(t, &r) == 0;
    pthread_create(&t, 0, spin, 0);
}
)";
    // Once on recompiling, once on the exit path.
    for (const bool atExit : {false, true}) {
        SCOPED_TRACE(atExit ? "exit" : "recompile");
        cameraFlight().udef[0] = 0;
        cameraFlight().udef[1] = 0;
        ASSERT_TRUE(compileScript(script.c_str()));
        callUdResize();
        EXPECT_EQ(cameraView().udef[2], 3.0f);
        EXPECT_TRUE(debugTextHas("A thread of the script caused an exception and has ended."));
        if (atExit)
            shutDownScript();
        else
            ASSERT_TRUE(compileScript(""));
        // Unmapped under the spinning thread, the process would die here.
        EXPECT_EQ(scriptImagesKeptForThreads(), 1);
        EXPECT_TRUE(debugTextHas("1 thread of the old script still ran after 200 ms: its code and "
                                 "heap stay in memory until that thread ends."));
        cameraFlight().udef[0] = 1;
        EXPECT_TRUE(becomesTrue(10000, [] { return scriptImagesKeptForThreads() == 0; }));
        EXPECT_EQ(cameraView().udef[1], 1.0f);
    }
    EXPECT_TRUE(debugTextHas("The threads of a replaced script have ended: its code and heap are "
                             "released."));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(HostileScriptTest, NoDestructorOrExitHandlerOfTheScriptRunsAfterIt) {
    const std::string script = std::string(KEEP_UDEF) + R"(
#include <pthread.h>
#include <stdlib.h>
static pthread_key_t key;
static void dropValue(void *value) { u[1] += 1; }
static void atEnd(void) { u[2] += 1; }
void udPost(void) {
    u[0] = pthread_key_create(&key, dropValue) == 0 && pthread_setspecific(key, u) == 0;
    u[3] = atexit(atEnd) != 0;
}
)";
    ASSERT_TRUE(compileScript(script.c_str()));
    // A worker that set a value ends only after the script is gone: the
    // key's destructor would run in unmapped code.
    std::promise<void> called, replaced;
    std::thread worker([&] {
        callUdPost(0);
        called.set_value();
        replaced.get_future().wait();
    });
    called.get_future().wait();
    const bool compiled = compileScript("");
    replaced.set_value();
    worker.join();
    EXPECT_TRUE(compiled);
    EXPECT_EQ(cameraView().udef[0], 1.0f);
    EXPECT_EQ(cameraView().udef[1], 0.0f);
    EXPECT_EQ(cameraView().udef[3], 1.0f); // refused: it would run at the studio's exit
    EXPECT_TRUE(debugTextHas("atexit() refused: not available to a script."));
}

TEST_F(HostileScriptTest, TheScriptCannotTakeTheFaultSignalsFromTheGuard) {
    projectFiles().scriptTimeoutSeconds = 1;
    const std::string script = std::string(KEEP_UDEF) + R"(
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <ucontext.h>
int sigsetmask(int mask);
static void onUser(int s) { }
static int deep(int n) { volatile char pad[256]; pad[0] = n; return deep(n + 1) + pad[0]; }
void udResize(void) { signal(SIGUSR1, onUser); }
void udPre(unsigned char *b, float *f) {
    sigset_t all;
    struct sigaction fallback;
    stack_t off;
    int which = u[0];
    sigfillset(&all);
    memset(&fallback, 0, sizeof fallback);
    memset(&off, 0, sizeof off);
    off.ss_flags = SS_DISABLE;
    if (which == 1) u[1] = signal(SIGSEGV, SIG_DFL) == SIG_ERR && errno == EINVAL;
    if (which == 2) u[1] = sigaction(SIGBUS, &fallback, 0) == -1 && errno == EINVAL &&
                           sigaction(SIGSEGV, &fallback, 0) == -1;
    if (which == 3) { u[1] = sigprocmask(SIG_BLOCK, &all, 0) == 0; for (;;) ; }
    if (which == 4) u[1] = pthread_sigmask(SIG_SETMASK, &all, 0) == 0;
    if (which == 5) { u[1] = sigaltstack(&off, 0) == -1; deep(0); }
    if (which == 6) { u[1] = 1; pthread_cancel(pthread_self()); u[1] = 2; }
    if (which == 7) u[1] = sigsetmask(-1) >= 0;
    if (which == 8) {
        volatile int switched = 0;
        ucontext_t context;
        getcontext(&context);
        if (!switched) {
            switched = 1;
            sigfillset(&context.uc_sigmask);
            setcontext(&context);
        }
        u[1] = 1;
    }
    *(volatile int *)0 = 1;
}
)";
    struct sigaction ignored {};
    ignored.sa_handler = SIG_IGN;
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGUSR1, &ignored, &before), 0);
    for (int which = 1; which <= 8; ++which) {
        SCOPED_TRACE(which);
        m_platform.clearRecords();
        ASSERT_TRUE(compileScript(script.c_str()));
        callUdResize();
        cameraFlight().udef[0] = static_cast<float>(which);
        cameraFlight().udef[1] = 0;
        // On a thread of its own, as on the render thread, so that no mask
        // the script might leave stays on the test's thread.
        EXPECT_TRUE(endsWithin(10000, [] { callUdPre(0, 0); }));
        EXPECT_EQ(cameraView().udef[1], 1.0f);
        EXPECT_EQ(boxTextsOf(m_platform),
                  std::vector<std::string>{which == 3 ? "udPre did not return within 1 seconds."
                                                      : "udPre caused an exception."});
    }
    // Other signals are the script's, but its handler goes with its code.
    struct sigaction current {};
    sigaction(SIGUSR1, nullptr, &current);
    EXPECT_NE(current.sa_handler, SIG_IGN);
    ASSERT_TRUE(compileScript(""));
    sigaction(SIGUSR1, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    sigaction(SIGUSR1, &before, nullptr);
}

TEST_F(HostileScriptTest, StartingAProcessIsRefusedWithAnError) {
    const std::string script = std::string(KEEP_UDEF) + R"(
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>
int execvpe(const char *file, char *const argv[], char *const envp[]);
#define NOPE "/nonexistent/vortigo-no-such-program"
#define REFUSED(call) (u[1] += (call) == -1 && errno == EPERM)
void udPre(unsigned char *b, float *f) {
    char *argv[] = {"x", 0};
    char *envp[] = {0};
    pid_t pid = fork();
    if (pid == 0) syscall(SYS_exit_group, 0);
    u[1] = pid == -1 && errno == EPERM;
    pid = vfork();
    if (pid == 0) syscall(SYS_exit_group, 0);
    REFUSED(pid);
    REFUSED(system("exit 3"));
    u[1] += popen("true", "r") == 0 && errno == EPERM;
    REFUSED(execl(NOPE, "x", (char *)0));
    REFUSED(execlp(NOPE, "x", (char *)0));
    REFUSED(execle(NOPE, "x", (char *)0, envp));
    REFUSED(execv(NOPE, argv));
    REFUSED(execvp(NOPE, argv));
    REFUSED(execvpe(NOPE, argv, envp));
    REFUSED(execve(NOPE, argv, envp));
    REFUSED(fexecve(-1, argv, envp));
    u[1] += posix_spawn(&pid, NOPE, 0, 0, argv, envp) == EPERM;
    u[1] += posix_spawnp(&pid, NOPE, 0, 0, argv, envp) == EPERM;
}
)";
    ASSERT_TRUE(compileScript(script.c_str()));
    callUdPre(0, 0);
    EXPECT_EQ(cameraView().udef[1], 14.0f);
    EXPECT_TRUE(debugTextHas("fork() refused: a script cannot start processes.\r\n"));
    EXPECT_TRUE(debugTextHas("posix_spawnp() refused: a script cannot start processes.\r\n"));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

// The process's address space in bytes (VmSize).
size_t addressSpaceBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    size_t kilobytes = 0;
    while (status >> key) {
        if (key == "VmSize:" && status >> kilobytes) return kilobytes * 1024;
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

// Runs `body` in a child process whose address space may grow by
// `headroomBytes` only, so that this process keeps its own; the child's
// exit code.
int inChildWithAddressLimit(size_t headroomBytes, const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = addressSpaceBytes() + headroomBytes;
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(90);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST_F(HostileScriptTest, TheScriptHeapShrinksToFitALimitedAddressSpace) {
    // No watchdog in the child: its thread stayed behind in the parent.
    projectFiles().scriptTimeoutSeconds = 0;
    const std::string script = std::string(KEEP_UDEF) + R"(
#include <stdlib.h>
void udResize(void) { u[0] = malloc(100 << 20) != 0; }
)";
    constexpr size_t MB = size_t{1} << 20;
    // Half of what is left: 320 MB, which holds 100 MB.
    EXPECT_EQ(inChildWithAddressLimit(640 * MB,
                                      [&] {
                                          if (!compileScript(script.c_str())) return 1;
                                          callUdResize();
                                          return cameraView().udef[0] == 1.0f ? 0 : 2;
                                      }),
              0);
    // A heap would fit, but would leave the drawing too little: the
    // compile says why it failed.
    EXPECT_EQ(inChildWithAddressLimit(200 * MB,
                                      [&] {
                                          if (compileScript(script.c_str())) return 1;
                                          return boxTextsOf(m_platform) ==
                                                         std::vector<std::string>{
                                                             "Not enough address space for the "
                                                             "script heap"}
                                                     ? 0
                                                     : 2;
                                      }),
              0);
}

} // namespace
} // namespace vortigo
