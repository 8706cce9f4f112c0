#include "script/HostFunctions.h"

#include "script/FaultGuard.h"
#include "script/ScriptHeap.h"
#include "script/ScriptThreads.h"
#include "script/SystemWrappers.h"

#include <atomic>
#include <csignal>
#include <initializer_list>
#include <libtcc.h>

namespace vortigo {
namespace {

std::atomic<int (*)(int)> g_setActiveTex{nullptr};
std::atomic<int (*)(const void*, int, int, int, int, int)> g_setupDataTex{nullptr};
std::atomic<int (*)(const void*, int, int, int, int, int, int)> g_setupVolTex{nullptr};
std::atomic<int (*)(const char*, int)> g_switchBackground{nullptr};

// The watchdog waits until these are back in the script: interrupting the
// driver would leave its locks held.
int hostSetActiveTex(int textureUnit) {
    enterHostCode();
    auto call = g_setActiveTex.load();
    const int result = call ? call(textureUnit) : -1;
    leaveHostCode();
    return result;
}

int hostSetupDataTex(const void* data, int width, int height, int components, int isFloat,
                     int filter) {
    enterHostCode();
    auto call = g_setupDataTex.load();
    const int result = call ? call(data, width, height, components, isFloat, filter) : -1;
    leaveHostCode();
    return result;
}

int hostSetupVolTex(const void* data, int width, int height, int depth, int components, int isFloat,
                    int filter) {
    enterHostCode();
    auto call = g_setupVolTex.load();
    const int result = call ? call(data, width, height, depth, components, isFloat, filter) : -1;
    leaveHostCode();
    return result;
}

int hostSwitchBackground(const char* fileName, int layer) {
    enterHostCode(); // the decoders take library and heap locks
    auto call = g_switchBackground.load();
    const int result = call ? call(fileName, layer) : -1;
    leaveHostCode();
    return result;
}

// A script that asks to end the process has failed its entry point.
[[noreturn]] void hostExit(int) {
    raiseScriptFault(SIGABRT);
}
[[noreturn]] void hostAbort() {
    raiseScriptFault(SIGABRT);
}

} // namespace

void setTextureHostFunctions(const TextureHostFunctions& functions) {
    g_setActiveTex.store(functions.setActiveTex);
    g_setupDataTex.store(functions.setupDataTex);
    g_setupVolTex.store(functions.setupVolTex);
    g_switchBackground.store(functions.switchBackground);
}

void registerHostFunctions(TCCState* compiler) {
    tcc_add_symbol(compiler, "SetActiveTex", reinterpret_cast<const void*>(&hostSetActiveTex));
    tcc_add_symbol(compiler, "SetupDataTex", reinterpret_cast<const void*>(&hostSetupDataTex));
    tcc_add_symbol(compiler, "SetupVolTex", reinterpret_cast<const void*>(&hostSetupVolTex));
    tcc_add_symbol(compiler, "SwitchBackground",
                   reinterpret_cast<const void*>(&hostSwitchBackground));
    for (const char* name : {"exit", "_exit", "_Exit", "quick_exit"})
        tcc_add_symbol(compiler, name, reinterpret_cast<const void*>(&hostExit));
    tcc_add_symbol(compiler, "abort", reinterpret_cast<const void*>(&hostAbort));
    registerScriptThreadFunctions(compiler);
    registerSystemWrappers(compiler);
    registerScriptHeapFunctions(compiler);
}

} // namespace vortigo
