#include "core/RunFlags.h"

namespace vortigo {

void RunFlag::store(bool value) {
    m_value.store(value, std::memory_order_release);
    notifyFlagChange();
}

} // namespace vortigo
