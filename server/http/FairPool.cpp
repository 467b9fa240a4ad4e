#include "http/FairPool.h"

#include <utility>

namespace tarvo::server {

FairPool::FairPool(unsigned threads, std::size_t maxPending, std::size_t perKey)
    : m_maxPending(maxPending), m_perKey(perKey)
{
    for (unsigned i = 0; i < threads; ++i) {
        m_threads.emplace_back([this] { work(); });
    }
}

FairPool::~FairPool()
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

bool FairPool::post(const std::string &key, std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_ending || m_pending >= m_maxPending) {
            return false;
        }
        Share &share = m_shares[key];
        if (share.held >= m_perKey) {
            return false;
        }
        if (share.jobs.empty()) {
            m_turns.push_back(key);
        }
        share.jobs.push_back(std::move(job));
        ++share.held;
        ++m_pending;
    }
    m_wake.notify_one();
    return true;
}

void FairPool::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_ending || !m_turns.empty(); });
        if (m_turns.empty()) {
            return;
        }
        std::string key = std::move(m_turns.front());
        m_turns.pop_front();
        Share &share = m_shares[key];
        std::function<void()> job = std::move(share.jobs.front());
        share.jobs.pop_front();
        --m_pending;
        if (!share.jobs.empty()) {
            m_turns.push_back(key); // its next job waits for every other key's turn
        }
        lock.unlock();
        job();
        lock.lock();
        Share &done = m_shares[key];
        if (--done.held == 0) {
            m_shares.erase(key);
        }
    }
}

} // namespace tarvo::server
