#include "script/HostFunctions.h"

#include "core/ShaderParams.h"
#include "script/FaultGuard.h"
#include "script/ScriptHeap.h"
#include "script/ScriptThreads.h"
#include "script/SystemWrappers.h"

#include <algorithm>
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

// A parameter name copied out of the script's memory before any lock is
// taken: a bad pointer then faults as the script's own read would. False for
// a null name or one longer than any parameter's.
bool copyParamName(const char* name, char (&out)[PARAM_NAME_LIMIT + 1]) {
    if (!name) return false;
    for (int i = 0; i <= PARAM_NAME_LIMIT; ++i) {
        out[i] = name[i];
        if (!out[i]) return true;
    }
    return false;
}

struct FoundParam {
    int count;
    float values[4];
};

__attribute__((noinline)) FoundParam lookUpParam(int layer, const char* name) {
    ParamValues values{};
    FoundParam found{shaderParams().get(layer, name, values), {}};
    std::copy(values.begin(), values.end(), found.values);
    return found;
}

__attribute__((noinline)) int storeParam(int layer, const char* name, const float* values,
                                         int count) {
    return shaderParams().set(layer, name, values, count);
}

FoundParam findParam(int layer, const char* name) {
    enterHostCode();
    const FoundParam found = lookUpParam(layer, name);
    leaveHostCode();
    return found;
}

int hostGetParam(int layer, const char* name, float* values) {
    char copied[PARAM_NAME_LIMIT + 1];
    if (!values || !copyParamName(name, copied)) return -1;
    const FoundParam found = findParam(layer, copied);
    for (int i = 0; i < found.count; ++i)
        values[i] = found.values[i];
    return found.count;
}

int hostSetParam(int layer, const char* name, const float* values) {
    char copied[PARAM_NAME_LIMIT + 1];
    if (!values || !copyParamName(name, copied)) return -1;
    const FoundParam found = findParam(layer, copied);
    if (found.count < 1) return -1;
    float given[4] = {};
    for (int i = 0; i < found.count; ++i)
        given[i] = values[i];
    enterHostCode();
    const int result = storeParam(layer, copied, given, found.count);
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
    tcc_add_symbol(compiler, "GetParam", reinterpret_cast<const void*>(&hostGetParam));
    tcc_add_symbol(compiler, "SetParam", reinterpret_cast<const void*>(&hostSetParam));
    for (const char* name : {"exit", "_exit", "_Exit", "quick_exit"})
        tcc_add_symbol(compiler, name, reinterpret_cast<const void*>(&hostExit));
    tcc_add_symbol(compiler, "abort", reinterpret_cast<const void*>(&hostAbort));
    registerScriptThreadFunctions(compiler);
    registerSystemWrappers(compiler);
    registerScriptHeapFunctions(compiler);
}

} // namespace vortigo
