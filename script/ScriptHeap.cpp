#include "script/ScriptHeap.h"

#include "script/FaultGuard.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <libtcc.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vortigo {

// Blocks of 32 << k bytes, k < CLASS_COUNT. Each handed-out pointer has a
// 16-byte header right before it; a free block keeps its header at the block
// start and the link to the next free block of its class after it.
class ScriptHeap {
  public:
    uint8_t* base = nullptr;
    size_t reserved = 0;
    size_t used = 0; // bump mark
    static constexpr int CLASS_COUNT = 26;
    uint8_t* freeBlocks[CLASS_COUNT]{};
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
};

namespace {

constexpr uint32_t IN_USE = 0x5C41B10Cu;
constexpr uint32_t FREED = 0xF7EEB10Cu;
constexpr size_t HEADER = 16;
constexpr size_t MIN_BLOCK = 32;

struct Header {
    uint32_t magic;
    uint32_t sizeClass;
    uint64_t offset; // from the block start to the pointer handed out
};
static_assert(sizeof(Header) == HEADER);

std::atomic<ScriptHeap*> g_current{nullptr};
thread_local ScriptHeap* t_boundHeap = nullptr;

ScriptHeap* callersHeap() {
    return t_boundHeap ? t_boundHeap : g_current.load(std::memory_order_acquire);
}

// The heap's lock. A script that broke the heap while a call held it must
// not hang the thread for ever: after two seconds it is the script's fault.
class HeapLock {
  public:
    explicit HeapLock(ScriptHeap& heap) : m_heap(heap) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (heap.busy.test_and_set(std::memory_order_acquire)) {
            sched_yield();
            if (std::chrono::steady_clock::now() > giveUp) raiseScriptFault(SIGABRT);
        }
    }
    ~HeapLock() { m_heap.busy.clear(std::memory_order_release); }
    HeapLock(const HeapLock&) = delete;
    HeapLock& operator=(const HeapLock&) = delete;

  private:
    ScriptHeap& m_heap;
};

int classFor(size_t bytes) {
    int k = 0;
    size_t block = MIN_BLOCK;
    while (block < bytes) {
        if (++k >= ScriptHeap::CLASS_COUNT) return -1;
        block <<= 1;
    }
    return k;
}

size_t blockBytes(uint32_t sizeClass) {
    return MIN_BLOCK << sizeClass;
}

bool insideHeap(const ScriptHeap& heap, const void* p) {
    const auto* bytes = static_cast<const uint8_t*>(p);
    return bytes >= heap.base && bytes < heap.base + heap.used;
}

// Under the heap lock. Null when the heap is exhausted; faults when the
// script has overwritten a free list.
uint8_t* takeBlock(ScriptHeap& heap, int sizeClass, bool& corrupt) {
    uint8_t* block = heap.freeBlocks[sizeClass];
    if (block) {
        uint8_t* next;
        std::memcpy(&next, block + HEADER, sizeof next);
        if (next && (!insideHeap(heap, next) || (next - heap.base) % HEADER != 0)) {
            corrupt = true;
            return nullptr;
        }
        heap.freeBlocks[sizeClass] = next;
        return block;
    }
    const size_t bytes = blockBytes(static_cast<uint32_t>(sizeClass));
    if (bytes > heap.reserved - heap.used) return nullptr;
    block = heap.base + heap.used;
    heap.used += bytes;
    return block;
}

void* allocate(size_t bytes, size_t alignment) {
    ScriptHeap* heap = callersHeap();
    if (!heap || bytes > (size_t{1} << 40) || alignment > (size_t{1} << 20)) return nullptr;
    const size_t extra = alignment > HEADER ? alignment : 0;
    const int sizeClass = classFor(bytes + HEADER + extra);
    if (sizeClass < 0) return nullptr;
    bool corrupt = false;
    uint8_t* block;
    {
        HeapLock lock(*heap);
        block = takeBlock(*heap, sizeClass, corrupt);
    }
    if (corrupt) raiseScriptFault(SIGABRT);
    if (!block) return nullptr;
    uintptr_t user = reinterpret_cast<uintptr_t>(block) + HEADER;
    if (alignment > HEADER) user = (user + alignment - 1) / alignment * alignment;
    Header header{IN_USE, static_cast<uint32_t>(sizeClass),
                  static_cast<uint64_t>(user - reinterpret_cast<uintptr_t>(block))};
    std::memcpy(reinterpret_cast<void*>(user - HEADER), &header, HEADER);
    return reinterpret_cast<void*>(user);
}

// The header of a block handed out, or a fault when `p` is not one (twice
// freed, or overwritten).
Header checkedHeader(const ScriptHeap& heap, void* p) {
    Header header;
    std::memcpy(&header, static_cast<uint8_t*>(p) - HEADER, HEADER);
    if (header.magic != IN_USE || header.sizeClass >= ScriptHeap::CLASS_COUNT ||
        header.offset < HEADER || header.offset >= blockBytes(header.sizeClass) ||
        !insideHeap(heap, static_cast<uint8_t*>(p) - header.offset))
        raiseScriptFault(SIGABRT);
    return header;
}

void release(void* p) {
    ScriptHeap* heap = callersHeap();
    // A pointer from anywhere else (a C library function's own allocation)
    // is not ours to free: it is left alone.
    if (!p || !heap || !insideHeap(*heap, p)) return;
    const Header header = checkedHeader(*heap, p);
    uint8_t* block = static_cast<uint8_t*>(p) - header.offset;
    const Header freed{FREED, header.sizeClass, HEADER};
    HeapLock lock(*heap);
    std::memcpy(block, &freed, HEADER);
    std::memcpy(block + HEADER, &heap->freeBlocks[header.sizeClass], sizeof(uint8_t*));
    heap->freeBlocks[header.sizeClass] = block;
}

size_t capacity(const ScriptHeap& heap, void* p) {
    const Header header = checkedHeader(heap, p);
    return blockBytes(header.sizeClass) - header.offset;
}

// The functions the script links. Each is host code the watchdog waits for.
void* scriptMalloc(size_t bytes) {
    enterHostCode();
    void* p = allocate(bytes, HEADER);
    leaveHostCode();
    return p;
}

void* scriptCalloc(size_t count, size_t size) {
    enterHostCode();
    size_t bytes = 0;
    void* p = __builtin_mul_overflow(count, size, &bytes) ? nullptr : allocate(bytes, HEADER);
    if (p) std::memset(p, 0, bytes);
    leaveHostCode();
    return p;
}

void scriptFree(void* p) {
    enterHostCode();
    release(p);
    leaveHostCode();
}

void* scriptRealloc(void* p, size_t bytes) {
    enterHostCode();
    ScriptHeap* heap = callersHeap();
    void* result = nullptr;
    if (!p || !heap || !insideHeap(*heap, p)) {
        result = p ? nullptr : allocate(bytes, HEADER);
    } else if (bytes == 0) {
        release(p);
    } else {
        const size_t have = capacity(*heap, p);
        if (bytes <= have) {
            result = p;
        } else {
            result = allocate(bytes, HEADER);
            if (result) {
                std::memcpy(result, p, have);
                release(p);
            }
        }
    }
    leaveHostCode();
    return result;
}

bool validAlignment(size_t alignment) {
    return alignment != 0 && (alignment & (alignment - 1)) == 0;
}

int scriptPosixMemalign(void** out, size_t alignment, size_t bytes) {
    enterHostCode();
    int result = EINVAL;
    if (validAlignment(alignment) && alignment % sizeof(void*) == 0) {
        void* p = allocate(bytes, alignment);
        result = p ? 0 : ENOMEM;
        if (p) *out = p;
    }
    leaveHostCode();
    return result;
}

void* scriptAlignedAlloc(size_t alignment, size_t bytes) {
    enterHostCode();
    void* p = validAlignment(alignment) ? allocate(bytes, alignment) : nullptr;
    leaveHostCode();
    return p;
}

char* scriptStrndup(const char* text, size_t limit) {
    enterHostCode();
    const size_t length = text ? strnlen(text, limit) : 0;
    char* copy = text ? static_cast<char*>(allocate(length + 1, HEADER)) : nullptr;
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
    }
    leaveHostCode();
    return copy;
}

char* scriptStrdup(const char* text) {
    return scriptStrndup(text, SIZE_MAX);
}

} // namespace

namespace {

// Address space this process may still map under RLIMIT_AS; SIZE_MAX when
// unlimited.
size_t addressSpaceLeft() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    size_t pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%zu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    const size_t used = pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return limit.rlim_cur > used ? static_cast<size_t>(limit.rlim_cur) - used : 0;
}

} // namespace

ScriptHeap* createScriptHeap(size_t reserveBytes, size_t floorBytes) {
    auto reserve = [](size_t bytes) {
        return mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    };
    // Under a limit the heap takes at most half of what is left and always
    // leaves SCRIPT_HEAP_LEAVES_BYTES: the shader compiler of a software
    // driver aborts the whole process when it cannot map its code, so a
    // heap that fits but starves the drawing is worse than no script.
    const size_t left = addressSpaceLeft();
    if (left != SIZE_MAX) {
        const size_t spare = left > SCRIPT_HEAP_LEAVES_BYTES ? left - SCRIPT_HEAP_LEAVES_BYTES : 0;
        reserveBytes = std::min({reserveBytes, left / 2, spare}) & ~size_t{0xFFFFF};
        if (reserveBytes < floorBytes) return nullptr;
    }
    void* memory = reserve(reserveBytes);
    // Mapping can still fail without a limit (strict overcommit): halve
    // down to the floor.
    while (memory == MAP_FAILED) {
        if (reserveBytes / 2 < floorBytes) return nullptr;
        reserveBytes /= 2;
        memory = reserve(reserveBytes);
    }
    auto* heap = new ScriptHeap;
    heap->base = static_cast<uint8_t*>(memory);
    heap->reserved = reserveBytes;
    return heap;
}

void releaseScriptHeap(ScriptHeap* heap) {
    if (!heap) return;
    ScriptHeap* expected = heap;
    g_current.compare_exchange_strong(expected, nullptr);
    munmap(heap->base, heap->reserved);
    delete heap;
}

void setCurrentScriptHeap(ScriptHeap* heap) {
    g_current.store(heap, std::memory_order_release);
}

void bindThreadToScriptHeap(ScriptHeap* heap) {
    t_boundHeap = heap;
}

size_t scriptHeapBytesUsed() {
    ScriptHeap* heap = g_current.load(std::memory_order_acquire);
    return heap ? heap->used : 0;
}

void registerScriptHeapFunctions(TCCState* compiler) {
    tcc_add_symbol(compiler, "malloc", reinterpret_cast<const void*>(&scriptMalloc));
    tcc_add_symbol(compiler, "calloc", reinterpret_cast<const void*>(&scriptCalloc));
    tcc_add_symbol(compiler, "realloc", reinterpret_cast<const void*>(&scriptRealloc));
    tcc_add_symbol(compiler, "free", reinterpret_cast<const void*>(&scriptFree));
    tcc_add_symbol(compiler, "posix_memalign", reinterpret_cast<const void*>(&scriptPosixMemalign));
    tcc_add_symbol(compiler, "aligned_alloc", reinterpret_cast<const void*>(&scriptAlignedAlloc));
    tcc_add_symbol(compiler, "memalign", reinterpret_cast<const void*>(&scriptAlignedAlloc));
    tcc_add_symbol(compiler, "strdup", reinterpret_cast<const void*>(&scriptStrdup));
    tcc_add_symbol(compiler, "strndup", reinterpret_cast<const void*>(&scriptStrndup));
}

} // namespace vortigo
