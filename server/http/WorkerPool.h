// A fixed set of threads running queued jobs, with a bound on how many may wait.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvo::server::http {

class WorkerPool
{
public:
    WorkerPool(unsigned threads, std::size_t maxPending);
    // Runs what is queued, then joins the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // False, and `job` dropped, when `maxPending` jobs already wait.
    bool post(std::function<void()> job);

private:
    void work();

    std::size_t m_maxPending;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_ending = false;
    std::vector<std::thread> m_threads;
};

} // namespace tarvo::server::http
