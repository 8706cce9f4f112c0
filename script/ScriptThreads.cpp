#include "script/ScriptThreads.h"

#include "core/Handoff.h"
#include "script/DebugLog.h"
#include "script/FaultGuard.h"
#include "script/ScriptHeap.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <libtcc.h>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <vector>

namespace vortigo {

struct ScriptImage {
    void* code = nullptr;
    size_t codeBytes = 0;
    ScriptHeap* heap = nullptr;
    // Under g_threadsMutex:
    int liveThreads = 0;
    bool kept = false; // retired while threads ran: the last one releases it
    // Started and neither joined nor detached by the script yet; joined
    // when the image goes, so their stacks go too.
    std::vector<pthread_t> joinable;
    // Thread-specific data keys the script created and has not deleted.
    std::vector<pthread_key_t> keys;
};

namespace {

// Never destroyed: a script thread may still end while the process exits.
std::mutex& g_threadsMutex = *new std::mutex;
std::condition_variable& g_threadEnded = *new std::condition_variable;
std::atomic<ScriptImage*> g_currentImage{nullptr};
std::atomic<int> g_keptImages{0};

// What a thread the script started runs with; owned by that thread.
struct ThreadStart {
    void* (*start)(void*);
    void* argument;
    ScriptImage* image;
    void* result = nullptr;
    bool exited = false; // pthread_exit, or a cancel of itself
};

thread_local ThreadStart* t_scriptThread = nullptr;

ScriptImage* callersImage() {
    return t_scriptThread ? t_scriptThread->image : g_currentImage.load();
}

// Joins what the script left joinable (those threads have all ended, or
// are the caller itself, which can only let itself go), then unmaps.
void releaseImage(ScriptImage* image) {
    for (pthread_t thread : image->joinable) {
        if (pthread_equal(thread, pthread_self()))
            pthread_detach(thread);
        else
            pthread_join(thread, nullptr);
    }
    for (pthread_key_t key : image->keys)
        pthread_key_delete(key);
    if (image->code) munmap(image->code, image->codeBytes);
    releaseScriptHeap(image->heap);
    delete image;
}

void runThreadStart(void* context) {
    auto* start = static_cast<ThreadStart*>(context);
    start->result = start->start(start->argument);
}

void* scriptThreadMain(void* context) {
    auto* start = static_cast<ThreadStart*>(context);
    t_scriptThread = start;
    bindThreadToScriptHeap(start->image->heap);
    // The script's thread attributes may have set a mask of their own.
    sigset_t guardSignals;
    sigemptyset(&guardSignals);
    for (int signal = 1; signal < NSIG; ++signal)
        if (isGuardSignal(signal)) sigaddset(&guardSignals, signal);
    pthread_sigmask(SIG_UNBLOCK, &guardSignals, nullptr);
    const int fault = runGuarded(&runThreadStart, start);
    if (fault && !start->exited)
        appendDebugText("A thread of the script caused an exception and has ended.\r\n");
    // From here on the thread runs host code only.
    ScriptImage* image = start->image;
    void* result = start->result;
    t_scriptThread = nullptr;
    delete start;
    bool release = false;
    {
        std::lock_guard lock(g_threadsMutex);
        release = --image->liveThreads == 0 && image->kept;
        g_threadEnded.notify_all();
    }
    if (release) {
        releaseImage(image);
        appendDebugText("The threads of a replaced script have ended: its code and heap are "
                        "released.\r\n");
        g_keptImages.fetch_sub(1);
    }
    return result;
}

int scriptPthreadCreate(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                        void* argument) {
    // Read the script's attributes before any lock is taken: a bad pointer
    // faults in the script's own guard.
    pthread_attr_t copy;
    if (attributes) std::memcpy(&copy, attributes, sizeof copy);
    ScriptImage* image = callersImage();
    if (!image || !start) return EINVAL;
    enterHostCode();
    auto* record = new ThreadStart{start, argument, image};
    {
        std::lock_guard lock(g_threadsMutex);
        ++image->liveThreads;
    }
    pthread_t created{};
    const int result =
        pthread_create(&created, attributes ? &copy : nullptr, scriptThreadMain, record);
    {
        std::lock_guard lock(g_threadsMutex);
        if (result != 0)
            --image->liveThreads;
        else
            image->joinable.push_back(created);
    }
    if (result != 0) delete record;
    leaveHostCode();
    if (result == 0) *thread = created;
    return result;
}

// Looks `thread` up among the threads the script started and has neither
// joined nor detached; `take` also takes it off that list.
bool findJoinable(ScriptImage* image, pthread_t thread, bool take) {
    if (!image) return false;
    enterHostCode();
    bool found = false;
    {
        std::lock_guard lock(g_threadsMutex);
        auto& list = image->joinable;
        auto it = std::find_if(list.begin(), list.end(),
                               [&](pthread_t t) { return pthread_equal(t, thread); });
        found = it != list.end();
        if (found && take) list.erase(it);
    }
    leaveHostCode();
    return found;
}

// The studio's own threads are never the script's to join or detach: their
// owners join them.
int scriptPthreadJoin(pthread_t thread, void** result) {
    if (pthread_equal(thread, pthread_self())) return EDEADLK;
    ScriptImage* image = callersImage();
    if (!findJoinable(image, thread, false)) return ESRCH;
    // Not host code: the watchdog may interrupt a join that waits too long.
    void* value = nullptr;
    const int error = pthread_join(thread, &value);
    if (error != 0) return error;
    findJoinable(image, thread, true);
    if (result) *result = value;
    return 0;
}

int scriptPthreadDetach(pthread_t thread) {
    if (!findJoinable(callersImage(), thread, true)) return ESRCH;
    return pthread_detach(thread);
}

// Ends a thread the script started as it asks; anywhere else it would take
// a studio thread with it, so it is the entry point's fault.
[[noreturn]] void scriptPthreadExit(void* value) {
    if (t_scriptThread) {
        t_scriptThread->result = value;
        t_scriptThread->exited = true;
    }
    raiseScriptFault(SIGABRT);
}

// Cancelling would unwind through the script's frames, which carry no
// unwind tables: only a thread's cancel of itself is honoured, as an exit.
int scriptPthreadCancel(pthread_t thread) {
    if (pthread_equal(thread, pthread_self())) scriptPthreadExit(PTHREAD_CANCELED);
    enterHostCode();
    appendDebugText("pthread_cancel of another thread is not available to the script.\r\n");
    leaveHostCode();
    return ENOTSUP;
}

// A signal to a studio thread could end the process (an abort() outside
// any guard); the script signals only itself and the threads it started.
int scriptPthreadKill(pthread_t thread, int signal) {
    if (!pthread_equal(thread, pthread_self()) && !findJoinable(callersImage(), thread, false))
        return ESRCH;
    return pthread_kill(thread, signal);
}

// A key's destructor would run at the end of any thread that set a value,
// also of a studio thread long after the script is gone: the script's keys
// have none (their values live in the script's heap, which goes with it),
// and they are deleted with the script.
int scriptPthreadKeyCreate(pthread_key_t* key, void (*)(void*)) {
    ScriptImage* image = callersImage();
    if (!image) return EAGAIN;
    pthread_key_t created{};
    const int error = pthread_key_create(&created, nullptr);
    if (error != 0) return error;
    enterHostCode();
    {
        std::lock_guard lock(g_threadsMutex);
        image->keys.push_back(created);
    }
    leaveHostCode();
    *key = created;
    return 0;
}

int scriptPthreadKeyDelete(pthread_key_t key) {
    ScriptImage* image = callersImage();
    bool found = false;
    enterHostCode();
    if (image) {
        std::lock_guard lock(g_threadsMutex);
        auto it = std::find(image->keys.begin(), image->keys.end(), key);
        found = it != image->keys.end();
        if (found) image->keys.erase(it);
    }
    leaveHostCode();
    return found ? pthread_key_delete(key) : EINVAL;
}

// Functions that would outlive the script's code (run at process exit) or
// start threads the host does not track.
void refuseFunction(const char* name) {
    char line[128];
    std::snprintf(line, sizeof line, "%s() refused: not available to a script.\r\n", name);
    enterHostCode();
    appendDebugText(line);
    leaveHostCode();
}

int scriptAtexit(void (*)(void)) {
    refuseFunction("atexit");
    return -1;
}
int scriptAtQuickExit(void (*)(void)) {
    refuseFunction("at_quick_exit");
    return -1;
}
int scriptOnExit(void (*)(int, void*), void*) {
    refuseFunction("on_exit");
    return -1;
}
int scriptCxaAtexit(void (*)(void*), void*, void*) {
    refuseFunction("__cxa_atexit");
    return -1;
}
int scriptThrdCreate(void*, int (*)(void*), void*) {
    refuseFunction("thrd_create");
    return 2; // thrd_error
}

} // namespace

ScriptImage* createScriptImage(void* code, size_t codeBytes, ScriptHeap* heap) {
    auto* image = new ScriptImage;
    image->code = code;
    image->codeBytes = codeBytes;
    image->heap = heap;
    return image;
}

void setCurrentScriptImage(ScriptImage* image) {
    g_currentImage.store(image);
}

int retireScriptImage(ScriptImage* image) {
    if (!image) return 0;
    ScriptImage* expected = image;
    g_currentImage.compare_exchange_strong(expected, nullptr);
    int running = 0;
    {
        std::unique_lock lock(g_threadsMutex);
        g_threadEnded.wait_for(lock, std::chrono::milliseconds(timeouts().scriptThreadsEndMs),
                               [&] { return image->liveThreads == 0; });
        running = image->liveThreads;
        image->kept = running > 0;
    }
    if (running > 0) {
        g_keptImages.fetch_add(1);
        return running;
    }
    releaseImage(image);
    return 0;
}

int scriptImagesKeptForThreads() {
    return g_keptImages.load();
}

void registerScriptThreadFunctions(TCCState* compiler) {
    tcc_add_symbol(compiler, "pthread_create", reinterpret_cast<const void*>(&scriptPthreadCreate));
    tcc_add_symbol(compiler, "pthread_join", reinterpret_cast<const void*>(&scriptPthreadJoin));
    tcc_add_symbol(compiler, "pthread_detach", reinterpret_cast<const void*>(&scriptPthreadDetach));
    tcc_add_symbol(compiler, "pthread_exit", reinterpret_cast<const void*>(&scriptPthreadExit));
    tcc_add_symbol(compiler, "pthread_cancel", reinterpret_cast<const void*>(&scriptPthreadCancel));
    tcc_add_symbol(compiler, "pthread_kill", reinterpret_cast<const void*>(&scriptPthreadKill));
    tcc_add_symbol(compiler, "pthread_key_create",
                   reinterpret_cast<const void*>(&scriptPthreadKeyCreate));
    tcc_add_symbol(compiler, "pthread_key_delete",
                   reinterpret_cast<const void*>(&scriptPthreadKeyDelete));
    tcc_add_symbol(compiler, "atexit", reinterpret_cast<const void*>(&scriptAtexit));
    tcc_add_symbol(compiler, "at_quick_exit", reinterpret_cast<const void*>(&scriptAtQuickExit));
    tcc_add_symbol(compiler, "on_exit", reinterpret_cast<const void*>(&scriptOnExit));
    tcc_add_symbol(compiler, "__cxa_atexit", reinterpret_cast<const void*>(&scriptCxaAtexit));
    tcc_add_symbol(compiler, "thrd_create", reinterpret_cast<const void*>(&scriptThrdCreate));
}

} // namespace vortigo
