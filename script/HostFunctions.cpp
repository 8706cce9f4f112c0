#include "script/HostFunctions.h"

#include "render/ScriptTextures.h"
#include "script/FaultGuard.h"

#include <csignal>
#include <initializer_list>
#include <libtcc.h>

namespace vortigo {
namespace {

int hostSetActiveTex(int textureUnit) { return setActiveTex(textureUnit); }

int hostSetupDataTex(const void* data, int width, int height, int components, int isFloat,
                     int filter) {
    return setupDataTex(data, width, height, components, isFloat, filter);
}

int hostSetupVolTex(const void* data, int width, int height, int depth, int components,
                    int isFloat, int filter) {
    return setupVolTex(data, width, height, depth, components, isFloat, filter);
}

// A script that asks to end the process has failed its entry point.
[[noreturn]] void hostExit(int) { raiseScriptFault(SIGABRT); }
[[noreturn]] void hostAbort() { raiseScriptFault(SIGABRT); }

} // namespace

void registerHostFunctions(TCCState* compiler) {
    tcc_add_symbol(compiler, "SetActiveTex", reinterpret_cast<const void*>(&hostSetActiveTex));
    tcc_add_symbol(compiler, "SetupDataTex", reinterpret_cast<const void*>(&hostSetupDataTex));
    tcc_add_symbol(compiler, "SetupVolTex", reinterpret_cast<const void*>(&hostSetupVolTex));
    for (const char* name : {"exit", "_exit", "_Exit", "quick_exit"})
        tcc_add_symbol(compiler, name, reinterpret_cast<const void*>(&hostExit));
    tcc_add_symbol(compiler, "abort", reinterpret_cast<const void*>(&hostAbort));
}

} // namespace vortigo
