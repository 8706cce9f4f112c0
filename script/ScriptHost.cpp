#include "script/ScriptHost.h"

#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "platform/ProgramDir.h"
#include "platform/Waits.h"
#include "script/CompileNotes.h"
#include "script/DebugLog.h"
#include "script/HostFunctions.h"
#include "script/ScriptCalls.h"
#include "script/ScriptHeap.h"
#include "script/ScriptThreads.h"
#include "script/SystemWrappers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libtcc.h>
#include <sys/mman.h>

#ifndef VORTIGO_TCC_HOME
#define VORTIGO_TCC_HOME "/usr/lib/x86_64-linux-gnu/tcc"
#endif

namespace vortigo {

const char* const ENTRY_NAMES[ENTRY_COUNT] = {"udPre",    "udPost",  "udPostFrame",
                                              "udResize", "udSetup", "udShutdown"};

namespace {

std::atomic<void*> g_entries[ENTRY_COUNT];
TCCState* g_compiler = nullptr;
bool g_scriptOk = false; // result of the compile in progress (render thread only)

// The relocated code and data, page aligned so making it executable never
// touches other memory, and the script's heap, which goes with it (one
// image, ScriptThreads.h).
void* g_codeBlock = nullptr;
size_t g_codeBytes = 0;
ScriptImage* g_image = nullptr;

constexpr const char* SCRIPT_CAPTION = "Error in Animation Script";

// Lets the old script's code and heap go, unless a thread it started still
// runs in them: those stay mapped until it ends, and the user hears why.
void freeCodeBlock(ShutdownReason reason) {
    restoreScriptSignalHandlers();
    setCurrentScriptHeap(nullptr);
    const int running = retireScriptImage(g_image);
    g_image = nullptr;
    g_codeBlock = nullptr;
    g_codeBytes = 0;
    if (running == 0) return;
    const std::string note =
        formatC("%d thread%s of the old script still ran after %d ms: its code and heap stay in "
                "memory until %s.\r\n",
                running, running == 1 ? "" : "s", timeouts().scriptThreadsEndMs,
                running == 1 ? "that thread ends" : "they have ended");
    appendDebugText(note.c_str());
    if (reason == ShutdownReason::Exit) std::fprintf(stderr, "vortigo: %s", note.c_str());
}

// False with the reason shown when the address space runs short. The small
// code block first: the heap then takes what address space is left.
bool allocateCodeBlock(size_t bytes) {
    const size_t page = 4096;
    const size_t rounded = std::max(page, (bytes + page - 1) / page * page);
    void* block =
        mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ScriptHeap* heap = block == MAP_FAILED ? nullptr : createScriptHeap();
    if (!heap) {
        if (block != MAP_FAILED) munmap(block, rounded);
        platform().messageBox(WindowId::Main,
                              block == MAP_FAILED ? "Not enough memory for the script's code."
                                                  : "Not enough address space for the script heap",
                              SCRIPT_CAPTION, MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    g_codeBlock = block;
    g_codeBytes = rounded;
    g_image = createScriptImage(block, rounded, heap);
    setCurrentScriptHeap(heap);
    setCurrentScriptImage(g_image);
    return true;
}

// The handshake with the post-processing thread: it counts itself in before
// it calls into the script (udPostFrame, the Watch refresh) and out after;
// a compile closes the door and waits until nobody is inside before it
// calls udShutdown or releases anything of the old script.
std::atomic<int> g_postThreadInside{0};
std::atomic<bool> g_replacingScript{false};

// False when the workers are stopping while the post-processing thread is
// still inside: the compile is then abandoned and the old script left as is.
bool waitUntilPostThreadLeft() {
    g_replacingScript.store(true);
    while (g_postThreadInside.load() != 0) {
        if (!runState().running()) return false;
        waitUntil([] { return g_postThreadInside.load() == 0 || !runState().running(); }, 100);
    }
    return true;
}

struct ReopenAfterCompile {
    ~ReopenAfterCompile() { g_replacingScript.store(false); }
};

void onDiagnostic(void*, const char* message) {
    scanErrorLines(WindowId::Main, KIND_SCRIPT, message, ':', ':');
    g_scriptOk = false;
    if (noteCompileError("Anim Script Compilation Error", message)) return;
    platform().messageBox(WindowId::Main, message, "Anim Script Compilation Error", MsgButtons::Ok,
                          MsgIcon::Error);
}

// The libraries a script may call into: the compiler's runtime, the C
// library with its maths, and OpenGL, which reaches the render thread's
// current context.
const char* const SYSTEM_LIBRARIES[] = {"tcc1", "c", "m", "GL"};

void addUserLibraries(TCCState* compiler, const char* list) {
    std::string copy(list);
    size_t start = 0;
    while (start <= copy.size()) {
        const size_t comma = copy.find(',', start);
        const size_t end = comma == std::string::npos ? copy.size() : comma;
        if (end > start) tcc_add_library(compiler, copy.substr(start, end - start).c_str());
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

// True when atoi finds digits in `text` (after blanks and a sign).
bool readsAsNumber(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    if (*text == '+' || *text == '-') ++text;
    return *text >= '0' && *text <= '9';
}

} // namespace

std::string compilerHome() {
    if (const char* home = std::getenv("VORTIGO_TCC_HOME"); home && *home) return home;
    return VORTIGO_TCC_HOME;
}

void* entryPoint(EntryPoint which) {
    return g_entries[which].load(std::memory_order_acquire);
}

void clearEntryPoint(EntryPoint which) {
    g_entries[which].store(nullptr, std::memory_order_release);
}

void unloadScript() {
    for (auto& entry : g_entries)
        entry.store(nullptr, std::memory_order_release);
    if (g_compiler) tcc_delete(g_compiler);
    g_compiler = nullptr;
}

bool insideScriptMemory(uintptr_t address, size_t bytes) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(g_codeBlock);
    if (!g_codeBlock || address < begin) return false;
    const uintptr_t offset = address - begin;
    return offset <= g_codeBytes && bytes <= g_codeBytes - offset;
}

void* findGlobal(const char* name) {
    if (!g_compiler || !name) return nullptr;
    return tcc_get_symbol(g_compiler, name);
}

bool enterScriptFromPostThread() {
    g_postThreadInside.fetch_add(1);
    if (!g_replacingScript.load()) return true;
    leaveScriptFromPostThread();
    return false;
}

void leaveScriptFromPostThread() {
    g_postThreadInside.fetch_sub(1);
    notifyFlagChange();
}

bool compileScript(const char* text) {
    ProjectFiles& files = projectFiles();
    ReopenAfterCompile reopen;
    if (!waitUntilPostThreadLeft()) return false;
    if (entryPoint(UD_SHUTDOWN)) callUdShutdown(ShutdownReason::Compile);
    unloadScript();
    g_scriptOk = true;

    TCCState* compiler = tcc_new();
    if (!compiler) return false;
    g_compiler = compiler;
    tcc_set_lib_path(compiler, compilerHome().c_str());
    tcc_set_error_func(compiler, nullptr, onDiagnostic);
    tcc_set_output_type(compiler, TCC_OUTPUT_MEMORY);

    tcc_add_include_path(compiler, (programDirectory() + "/lib").c_str());
    if (files.includePath[0]) tcc_add_include_path(compiler, files.includePath);
    for (const char* library : SYSTEM_LIBRARIES)
        tcc_add_library(compiler, library);
    if (files.libraries[0]) addUserLibraries(compiler, files.libraries);
    registerHostFunctions(compiler);

    if (tcc_compile_string(compiler, text ? text : "") == -1) {
        unloadScript();
        return false;
    }
    const int size = tcc_relocate(compiler, nullptr);
    if (size < 0) {
        platform().messageBox(WindowId::Main, "Error relocating memory. (Link Error)",
                              SCRIPT_CAPTION, MsgButtons::Ok, MsgIcon::Error);
        unloadScript();
        return false;
    }
    freeCodeBlock(ShutdownReason::Compile);
    if (!allocateCodeBlock(static_cast<size_t>(size))) {
        unloadScript();
        return false;
    }
    tcc_relocate(compiler, g_codeBlock);

    for (int i = 0; i < ENTRY_COUNT; ++i)
        g_entries[i].store(tcc_get_symbol(compiler, ENTRY_NAMES[i]), std::memory_order_release);

    if (entryPoint(UD_SETUP) && !callUdSetup()) g_scriptOk = false;
    if (!g_scriptOk) unloadScript();
    return g_scriptOk;
}

void shutDownScript() {
    if (entryPoint(UD_SHUTDOWN)) callUdShutdown(ShutdownReason::Exit);
    unloadScript();
    freeCodeBlock(ShutdownReason::Exit);
}

void shutDownScriptInUse() {
    if (entryPoint(UD_SHUTDOWN)) callUdShutdown(ShutdownReason::Exit);
    for (auto& entry : g_entries)
        entry.store(nullptr, std::memory_order_release);
}

void scanErrorLines(WindowId owner, int page, const char* text, char open, char close) {
    if (!text) return;
    const size_t n = std::strlen(text);
    bool carriedLine = false;
    size_t position = 0;
    while (position < n) {
        if (text[position++] != open) continue;
        char field[10];
        int copied = 0;
        while (position < n && text[position] != close && copied < 9)
            field[copied++] = text[position++];
        ++position;
        field[copied] = 0;
        const bool hasDigit = readsAsNumber(field);
        // A later colon of the same diagnostic ("error:") would send the
        // editor back to the top, away from the line already found.
        if (!hasDigit && carriedLine) continue;
        if (hasDigit) carriedLine = true;
        platform().postMessage(WindowMessage{owner, MSG_GOTO_LINE, std::atoi(field), page});
    }
}

} // namespace vortigo
