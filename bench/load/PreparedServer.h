// A loopback server page that does nothing but send prepared bytes: each of the three answers
// is held as one finished HTTP response (status line, head and body) and written out whole
// as soon as the request head has arrived. No request is recorded, copied or parsed beyond
// the first name of its query, so a load measured against it shows the client's own cost.
#pragma once

#include "BenchHarness.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tarvo::bench {

class PreparedServer
{
public:
    // Binds 127.0.0.1 at a free port and serves on one thread, one connection at a time (the
    // control asks one question after the other). Throws std::runtime_error when it cannot.
    PreparedServer();
    ~PreparedServer();
    PreparedServer(const PreparedServer &) = delete;
    PreparedServer &operator=(const PreparedServer &) = delete;

    // Builds the three responses; a request already being answered keeps the old ones.
    void serve(const CenterData &data, int centerCode = 2);
    // "http://127.0.0.1:PORT", no trailing slash.
    std::string url() const;

private:
    struct Responses;
    void run();
    void answer(int connection);
    std::shared_ptr<const Responses> responses() const;

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::shared_ptr<const Responses> m_responses;
    std::thread m_thread;
};

} // namespace tarvo::bench
