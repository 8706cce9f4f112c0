// The animation script's own heap. The script's malloc family resolves to
// it, so a script that corrupts its heap or frees a block twice faults
// inside its guard (SIGABRT) without ever holding a lock of the C library
// that the host needs next. The heap lives in memory mapped for it alone and
// goes with the script's code block.
//
// Threads: the render thread creates and releases heaps (at a compile and at
// exit, when no script call runs); the script may allocate from the render
// and the post-processing thread at once (a lock of the heap's own).
#pragma once

#include <cstddef>

struct TCCState;

namespace vortigo {

class ScriptHeap;

// A heap of `reserveBytes` address space (only touched pages cost memory);
// null when it cannot be mapped.
ScriptHeap* createScriptHeap(size_t reserveBytes = size_t{1} << 30);
void releaseScriptHeap(ScriptHeap* heap);

// The heap the script's malloc family uses now (null: they return null).
void setCurrentScriptHeap(ScriptHeap* heap);

// Bytes of the current heap's address space handed out so far, free blocks
// included (tests and the soak benchmark watch it stay flat).
size_t scriptHeapBytesUsed();

// Registers malloc, calloc, realloc, free, posix_memalign, aligned_alloc,
// memalign, strdup and strndup under their C names.
void registerScriptHeapFunctions(TCCState* compiler);

} // namespace vortigo
