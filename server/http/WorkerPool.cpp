#include "http/WorkerPool.h"

namespace tarvo::server::http {

WorkerPool::WorkerPool(unsigned threads, std::size_t maxPending) : m_maxPending(maxPending)
{
    for (unsigned i = 0; i < (threads == 0 ? 1 : threads); ++i) {
        m_threads.emplace_back([this] { work(); });
    }
}

WorkerPool::~WorkerPool()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads) {
        thread.join();
    }
}

bool WorkerPool::post(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_jobs.size() >= m_maxPending) {
            return false;
        }
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return true;
}

void WorkerPool::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_ending || !m_jobs.empty(); });
            if (m_jobs.empty()) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

} // namespace tarvo::server::http
