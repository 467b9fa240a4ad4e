// A small pool for work that any stranger can cause (a password check): a bounded queue in
// which each key (a client address) holds a bounded share, served round-robin across keys, so
// that one address, or many, can only wait behind themselves. A reserved lane, served first,
// takes the work of keys a flood cannot name (a user at an address where it signed in
// before), so that a flood of strangers never fills it.
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
#include <utility>
#include <vector>

namespace tarvo::server::http {

class FairPool
{
public:
    // `perKey` jobs of one key at most, queued or running; `maxPending` queued in all.
    FairPool(unsigned threads, std::size_t maxPending, std::size_t perKey,
             std::size_t reservedPending = 16);
    // Runs what is queued, then joins the threads.
    ~FairPool();
    FairPool(const FairPool &) = delete;
    FairPool &operator=(const FairPool &) = delete;

    // False, and `job` dropped, when the queue is full or `key` holds its share already.
    bool post(const std::string &key, std::function<void()> job);
    // The reserved lane: run before any job of post(), with a queue of its own of
    // `reservedPending` jobs and one job per key. False, and `job` dropped, when either is
    // full.
    bool postReserved(const std::string &key, std::function<void()> job);

private:
    void work();

    std::size_t m_maxPending;
    std::size_t m_perKey;
    std::size_t m_reservedPending;
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
    std::deque<std::pair<std::string, std::function<void()>>> m_reserved;
    std::unordered_map<std::string, std::size_t> m_reservedHeld; // queued and running
    bool m_ending = false;
    std::vector<std::thread> m_threads;
};

} // namespace tarvo::server::http
