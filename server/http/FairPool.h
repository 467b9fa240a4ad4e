// A small pool for work that any stranger can cause (a password check): a bounded queue in
// which each key (a client address) holds a bounded share, served round-robin across keys, so
// that one address, or many, can only wait behind themselves.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tarvo::server {

class FairPool
{
public:
    // `perKey` jobs of one key at most, queued or running; `maxPending` queued in all.
    FairPool(unsigned threads, std::size_t maxPending, std::size_t perKey);
    // Runs what is queued, then joins the threads.
    ~FairPool();
    FairPool(const FairPool &) = delete;
    FairPool &operator=(const FairPool &) = delete;

    // False, and `job` dropped, when the queue is full or `key` holds its share already.
    bool post(const std::string &key, std::function<void()> job);

private:
    void work();

    std::size_t m_maxPending;
    std::size_t m_perKey;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    struct Share
    {
        std::deque<std::function<void()>> jobs;
        std::size_t held = 0; // queued and running
    };
    std::unordered_map<std::string, Share> m_shares;
    std::list<std::string> m_turns; // keys with queued jobs, the next to serve first
    std::size_t m_pending = 0;
    bool m_ending = false;
    std::vector<std::thread> m_threads;
};

} // namespace tarvo::server
