#include "core/GuardedBlock.h"

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vortigo {
namespace {

// Not 0: a script that stores zero before a block must be seen as well.
constexpr uint8_t LEAD_PATTERN = 0xA5;

size_t pageBytes() {
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

} // namespace

GuardedBlock::GuardedBlock(size_t bytes) {
    const size_t page = pageBytes();
    if (bytes == 0 || bytes > std::numeric_limits<size_t>::max() - 3 * page) return;
    const size_t usable = (bytes + page - 1) / page * page;
    const size_t total = usable + 2 * page;
    // Reserved inaccessible as a whole; only the block's own pages open up.
    void* map = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return;
    uint8_t* first = static_cast<uint8_t*>(map) + page;
    if (mprotect(first, usable, PROT_READ | PROT_WRITE) != 0) {
        munmap(map, total);
        return;
    }
    m_map = static_cast<uint8_t*>(map);
    m_mapBytes = total;
    m_data = first + usable - bytes;
    m_bytes = bytes;
    std::memset(first, LEAD_PATTERN, static_cast<size_t>(m_data - first));
}

GuardedBlock::~GuardedBlock() {
    reset();
}

GuardedBlock::GuardedBlock(GuardedBlock&& other) noexcept
    : m_map(std::exchange(other.m_map, nullptr)), m_mapBytes(std::exchange(other.m_mapBytes, 0)),
      m_data(std::exchange(other.m_data, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)) {}

GuardedBlock& GuardedBlock::operator=(GuardedBlock&& other) noexcept {
    if (this != &other) {
        reset();
        m_map = std::exchange(other.m_map, nullptr);
        m_mapBytes = std::exchange(other.m_mapBytes, 0);
        m_data = std::exchange(other.m_data, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void GuardedBlock::reset() {
    if (m_map) munmap(m_map, m_mapBytes);
    m_map = nullptr;
    m_mapBytes = 0;
    m_data = nullptr;
    m_bytes = 0;
}

bool GuardedBlock::leadIntact() {
    if (!m_map) return true;
    uint8_t* first = m_map + pageBytes();
    const size_t lead = static_cast<size_t>(m_data - first);
    // Runs after every call into the script, on up to a page per block.
    static const std::vector<uint8_t> pattern(pageBytes(), LEAD_PATTERN);
    const bool intact = std::memcmp(first, pattern.data(), lead) == 0;
    // Written only when damaged, so two threads checking at once write
    // nothing in the normal case.
    if (!intact) std::memset(first, LEAD_PATTERN, lead);
    return intact;
}

} // namespace vortigo
