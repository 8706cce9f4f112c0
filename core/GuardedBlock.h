// Memory lent to the animation script: each block has a mapping of its own,
// between two pages that nobody may touch, so a script that writes past
// either end of it faults inside its guard instead of changing the host's
// data.
//
// Pages are the unit of protection, so only a block of whole pages can have
// both ends against an inaccessible page. A block is placed with its end
// against the trailing guard: the common overrun (a loop that runs one
// element too far, udef[maxUdef]) faults on the write itself, however small
// the step. What is left of its first page before its start (under a page)
// is filled with a known pattern: a write just before the start (udef[-1])
// lands there, where it harms nothing, and the check after each call into
// the script (leadIntact) finds it and charges it to that call as a fault;
// a write further back hits the leading guard. Rounding every block up to
// whole pages instead would move its end away from the trailing guard.
//
// Threads: a block belongs to whoever owns it; leadIntact may run on any
// thread the script runs on while the block lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace vortigo {

class GuardedBlock {
  public:
    GuardedBlock() = default;
    // `bytes` zeroed bytes; empty (data() null) when bytes is 0 or the
    // mapping fails.
    explicit GuardedBlock(size_t bytes);
    ~GuardedBlock();
    GuardedBlock(GuardedBlock&& other) noexcept;
    GuardedBlock& operator=(GuardedBlock&& other) noexcept;
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;

    void* data() const { return m_data; }
    size_t size() const { return m_bytes; }
    void reset();

    // False when the pattern before the block's start was written since the
    // last check; the pattern is then laid again. True for an empty block.
    bool leadIntact();

  private:
    uint8_t* m_map = nullptr;
    size_t m_mapBytes = 0;
    uint8_t* m_data = nullptr;
    size_t m_bytes = 0;
};

// A guarded array of `count` zeroed T, used like std::unique_ptr<T[]>.
template <typename T> class Guarded {
  public:
    Guarded() = default;
    Guarded(std::nullptr_t) {}

    // Empty when count is 0 or the memory cannot be had.
    static Guarded allocate(size_t count) {
        Guarded array;
        if (count <= std::numeric_limits<size_t>::max() / sizeof(T))
            array.m_block = GuardedBlock(count * sizeof(T));
        return array;
    }

    T* get() const { return static_cast<T*>(m_block.data()); }
    T& operator[](size_t i) const { return get()[i]; }
    explicit operator bool() const { return get() != nullptr; }
    void reset() { m_block.reset(); }
    bool leadIntact() { return m_block.leadIntact(); }

    friend bool operator==(const Guarded& array, std::nullptr_t) { return !array; }

  private:
    GuardedBlock m_block;
};

using GuardedBytes = Guarded<uint8_t>;
using GuardedFloats = Guarded<float>;

} // namespace vortigo
