// The functions the host lends the animation script, registered with the
// compiler under their script names.
//
// The texture host functions act on the renderer's GL context, which sits
// above the script host: the renderer installs them here when it creates its
// context, and until then they refuse with -1, as they do on a thread
// without a context.
#pragma once

struct TCCState;

namespace vortigo {

struct TextureHostFunctions {
    int (*setActiveTex)(int textureUnit);
    int (*setupDataTex)(const void* data, int width, int height, int components, int isFloat,
                        int filter);
    int (*setupVolTex)(const void* data, int width, int height, int depth, int components,
                       int isFloat, int filter);
    int (*switchBackground)(const char* fileName, int layer);
};

// Any thread, before a compile: the functions SetActiveTex, SetupDataTex,
// SetupVolTex and SwitchBackground call.
void setTextureHostFunctions(const TextureHostFunctions& functions);

// Adds SetActiveTex, SetupDataTex, SetupVolTex, SwitchBackground and the
// named parameters' GetParam and SetParam, puts
// guarded replacements in place of exit, _exit, _Exit, quick_exit and abort
// so a script can never end the studio, and gives the script its own heap
// (ScriptHeap.h), its own threads (ScriptThreads.h) and the signal and
// process functions of SystemWrappers.h.
void registerHostFunctions(TCCState* compiler);

} // namespace vortigo
