// The connections of one process: at most a fixed number, leased to one request at a time.
#pragma once

#include "store/Store.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace tarvo::server::store {

template <typename Connection> class Pool
{
public:
    using Open = std::function<std::unique_ptr<Connection>()>;
    // False for an idle connection that can no longer be used; it is closed, not leased.
    using Usable = std::function<bool(Connection &)>;

    Pool(std::size_t capacity, std::chrono::milliseconds wait, Open open, Usable usable = {})
        : m_capacity(capacity == 0 ? 1 : capacity), m_wait(wait), m_open(std::move(open)),
          m_usable(std::move(usable))
    {}

    class Lease
    {
    public:
        Lease(Pool &pool, std::unique_ptr<Connection> connection)
            : m_pool(&pool), m_connection(std::move(connection))
        {}
        ~Lease()
        {
            if (m_pool != nullptr) {
                m_pool->giveBack(std::move(m_connection), m_discard);
            }
        }
        Lease(Lease &&other) noexcept
            : m_pool(std::exchange(other.m_pool, nullptr)),
              m_connection(std::move(other.m_connection))
        {}
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        Lease &operator=(Lease &&) = delete;

        Connection &operator*() const { return *m_connection; }
        Connection *operator->() const { return m_connection.get(); }
        // Closes the connection when the lease ends instead of keeping it for the next.
        void discard() { m_discard = true; }

    private:
        friend class Pool;
        Pool *m_pool;
        std::unique_ptr<Connection> m_connection;
        bool m_discard = false;
    };

    // An idle connection, or a new one while fewer than the capacity are open. Throws
    // StoreError: Busy when none frees up in time, or what opening one threw.
    Lease acquire()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (!m_cv.wait_for(lock, m_wait,
                               [this] { return !m_idle.empty() || m_count < m_capacity; })) {
                throw StoreError(StoreStatus::Busy,
                                 "every database connection stayed in use too long");
            }
            if (m_idle.empty()) {
                break;
            }
            std::unique_ptr<Connection> connection = std::move(m_idle.back());
            m_idle.pop_back();
            ++m_leased;
            if (!m_usable || m_usable(*connection)) {
                return Lease(*this, std::move(connection));
            }
            --m_leased;
            --m_count;
        }
        ++m_count;
        ++m_leased;
        lock.unlock();
        try {
            return Lease(*this, m_open());
        } catch (...) {
            lock.lock();
            --m_count;
            --m_leased;
            m_cv.notify_one();
            throw;
        }
    }

    // Closes every idle connection, for example after the database went away under one.
    void dropIdle()
    {
        std::vector<std::unique_ptr<Connection>> closing;
        {
            const std::lock_guard lock(m_mutex);
            closing.swap(m_idle);
            m_count -= closing.size();
        }
        m_cv.notify_all();
    }

    StoreFigures figures() const
    {
        const std::lock_guard lock(m_mutex);
        return {m_count, m_leased};
    }

private:
    // A discarded connection closes after the lock is released, when `connection` ends.
    void giveBack(std::unique_ptr<Connection> connection, bool discard)
    {
        {
            const std::lock_guard lock(m_mutex);
            --m_leased;
            if (discard || !connection) {
                --m_count;
            } else {
                m_idle.push_back(std::move(connection));
            }
        }
        m_cv.notify_one();
    }

    const std::size_t m_capacity;
    const std::chrono::milliseconds m_wait;
    Open m_open;
    Usable m_usable;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::unique_ptr<Connection>> m_idle;
    std::size_t m_count = 0;  // open: idle and leased
    std::size_t m_leased = 0; // leased now
};

} // namespace tarvo::server::store
