// Lets batches commit until the server stops for good, then lets none, so that stopping
// knows which commits it must still wait for: those let through, until they are answered.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace tarvo::server::ops {

class CommitGate
{
public:
    // True while open: the caller may commit, and must call answered() once its answer has
    // gone out or could not. False once closed.
    bool pass();
    void answered();

    // From now on pass() is false. Waits up to `wait` for every commit let through to be
    // answered; false when some were not.
    bool close(std::chrono::milliseconds wait);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closed = false;
    std::size_t m_through = 0; // let through, not yet answered
};

} // namespace tarvo::server::ops
