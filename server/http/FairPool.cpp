#include "http/FairPool.h"

#include <utility>

namespace tarvo::server::http {

FairPool::FairPool(unsigned threads, std::size_t maxPending, std::size_t perKey,
                   std::size_t reservedPending)
    : m_maxPending(maxPending), m_perKey(perKey), m_reservedPending(reservedPending)
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

bool FairPool::postReserved(const std::string &key, std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_ending || m_reserved.size() >= m_reservedPending || m_reservedHeld.count(key) > 0) {
            return false;
        }
        m_reservedHeld[key] = 1;
        m_reserved.emplace_back(key, std::move(job));
    }
    m_wake.notify_one();
    return true;
}

void FairPool::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_ending || !m_turns.empty() || !m_reserved.empty(); });
        if (!m_reserved.empty()) {
            auto [key, job] = std::move(m_reserved.front());
            m_reserved.pop_front();
            lock.unlock();
            job();
            lock.lock();
            m_reservedHeld.erase(key);
            continue;
        }
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

} // namespace tarvo::server::http
