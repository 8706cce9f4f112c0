#include "script/HostFunctions.h"

#include "script/FaultGuard.h"

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

int hostSetActiveTex(int textureUnit) {
    auto call = g_setActiveTex.load();
    return call ? call(textureUnit) : -1;
}

int hostSetupDataTex(const void* data, int width, int height, int components, int isFloat,
                     int filter) {
    auto call = g_setupDataTex.load();
    return call ? call(data, width, height, components, isFloat, filter) : -1;
}

int hostSetupVolTex(const void* data, int width, int height, int depth, int components, int isFloat,
                    int filter) {
    auto call = g_setupVolTex.load();
    return call ? call(data, width, height, depth, components, isFloat, filter) : -1;
}

int hostSwitchBackground(const char* fileName, int layer) {
    auto call = g_switchBackground.load();
    return call ? call(fileName, layer) : -1;
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
}

} // namespace vortigo
