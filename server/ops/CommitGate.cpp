#include "ops/CommitGate.h"

namespace tarvo::server::ops {

bool CommitGate::pass()
{
    const std::lock_guard lock(m_mutex);
    if (m_closed) {
        return false;
    }
    ++m_through;
    return true;
}

void CommitGate::answered()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_through > 0) {
            --m_through;
        }
    }
    m_changed.notify_all();
}

bool CommitGate::close(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    m_closed = true;
    return m_changed.wait_for(lock, wait, [this] { return m_through == 0; });
}

} // namespace tarvo::server::ops
