// The threads a script starts, and the memory they run in. A script's code
// block and heap form one image; every thread the script starts (through
// the host's pthread_create) belongs to the image of the script that started
// it and runs under a guard of its own, so its fault, exit() or
// pthread_exit() ends that thread only. An image is unmapped only once none
// of its threads runs any more: never under a running thread.
//
// Threads: createScriptImage, setCurrentScriptImage and retireScriptImage
// on the render thread (or the user-interface thread at exit) while no
// entry point runs; the rest from any thread.
#pragma once

#include <cstddef>

struct TCCState;

namespace vortigo {

class ScriptHeap;
struct ScriptImage;

// Takes over the mapped code block and the heap.
ScriptImage* createScriptImage(void* code, size_t codeBytes, ScriptHeap* heap);

// The image whose entry points the host calls now; threads started from an
// entry point belong to it.
void setCurrentScriptImage(ScriptImage* image);

// Unmaps the image's code and heap once its threads have ended: waits up to
// timeouts().scriptThreadsEndMs for them (the old script's udShutdown has
// had its chance to stop them), and when some still run, leaves the image
// mapped until the last of them ends, which then releases it. Returns how
// many still ran.
int retireScriptImage(ScriptImage* image);

// Images kept mapped for threads that outlived their script.
int scriptImagesKeptForThreads();

// pthread_create, pthread_join, pthread_detach, pthread_exit, pthread_cancel,
// pthread_kill, pthread_key_create and pthread_key_delete for the script: a
// script joins, detaches or signals only threads it started itself and has
// not detached, cancels only itself, and its thread-specific data keys have
// no destructors and go with it. atexit and its kin and thrd_create are
// refused.
void registerScriptThreadFunctions(TCCState* compiler);

} // namespace vortigo
