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

constexpr size_t SCRIPT_HEAP_BYTES = size_t{1} << 30;
constexpr size_t SCRIPT_HEAP_FLOOR_BYTES = size_t{16} << 20;
constexpr size_t SCRIPT_HEAP_LEAVES_BYTES = size_t{256} << 20;

// A heap of `reserveBytes` address space (only touched pages cost memory).
// Under a limit on the address space (ulimit -v, a container) it takes at
// most half of what is left and leaves at least SCRIPT_HEAP_LEAVES_BYTES for
// the drawing, the frames and the host; null when that leaves less than
// `floorBytes`.
ScriptHeap* createScriptHeap(size_t reserveBytes = SCRIPT_HEAP_BYTES,
                             size_t floorBytes = SCRIPT_HEAP_FLOOR_BYTES);
void releaseScriptHeap(ScriptHeap* heap);

// The heap the script's malloc family uses now (null: they return null) on
// the threads that call the script's entry points.
void setCurrentScriptHeap(ScriptHeap* heap);

// A thread the script started keeps the heap of the script that started it,
// also after a compile has put a new script's heap in place.
void bindThreadToScriptHeap(ScriptHeap* heap);

// Bytes of the current heap's address space handed out so far, free blocks
// included (tests and the soak benchmark watch it stay flat).
size_t scriptHeapBytesUsed();

// Registers malloc, calloc, realloc, free, posix_memalign, aligned_alloc,
// memalign, strdup and strndup under their C names.
void registerScriptHeapFunctions(TCCState* compiler);

} // namespace vortigo
