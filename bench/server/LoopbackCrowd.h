// What the hostile-client benchmarks share: an in-process server on 127.0.0.1 that can be
// restarted on its database, requests from chosen loopback addresses (all of 127/8 reaches
// the loopback device, so each address is a client of its own to the server), and a crowd of
// connections that keep coming back.
#pragma once

#include "ReferenceServer.h"
#include "support/TestDatabase.h"

#include <array>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::bench {

using Clock = std::chrono::steady_clock;

// The sample database served by a ReferenceServer with default limits, its log discarded;
// with a password, a users file whose one user "alice" has it.
class LoopbackServer
{
public:
    explicit LoopbackServer(const std::string &alicePassword = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    int port() const { return m_port; }
    // Stops the server, waiting for its drain, and serves the same database and users file
    // anew on a new port: everything it kept in memory is gone.
    void restart();

private:
    void start();
    void stop();

    server::testing::TestDatabase m_db;
    std::filesystem::path m_users;
    std::filesystem::path m_state;
    std::unique_ptr<server::ReferenceServer> m_server;
    std::thread m_serving;
    int m_port = -1;
};

// "Basic ..." for an Authorization header.
std::string basicAuth(const std::string &user, const std::string &password);

struct Exchange
{
    int status = 0;        // 0: no answer
    bool timedOut = false; // the cap passed before the answer was complete
    double ms = 0;         // from the start of connect to the end of the answer (or the cap)
};

// One request on a new connection from `source` to 127.0.0.1:`port`; the answer is read
// through its Content-Length. A connection refused or closed without an answer is not a
// time-out: its status is 0 and ms when that was seen.
Exchange exchangeFrom(const std::string &source, int port, const std::string &request,
                      std::chrono::milliseconds cap);

// Sets the counters p50_ms, p99_ms and max_ms (nearest rank) of `ms`.
void reportSpread(benchmark::State &state, std::vector<double> ms);

// Connections from many addresses, each sending its request as soon as it is connected and
// opened again once the server answers or closes it. A trickle sends one more byte of the
// request every `trickle`, after its first part: a head that never ends.
class Crowd
{
public:
    struct Options
    {
        int port = 0;
        std::vector<std::string> sources; // connection i comes from sources[i % size]
        int connections = 0;
        // The request (or its first part) of connection `slot` for its `round`th opening.
        std::function<std::string(int slot, long round)> request;
        std::chrono::milliseconds trickle{0}; // 0: none
        std::chrono::milliseconds reopenAfter{0};
    };
    explicit Crowd(Options options);
    ~Crowd();
    Crowd(const Crowd &) = delete;
    Crowd &operator=(const Crowd &) = delete;

    // Connected with the request's first part sent, and not closed since.
    int open() const { return m_open; }
    // Every connection has been connected at least once.
    bool allConnectedOnce() const { return m_connectedOnce == m_options.connections; }
    long closedByServer() const { return m_closed; }
    // Answers by status, 0 for a close without an answer.
    long answers(int status) const { return m_answers[static_cast<std::size_t>(status)]; }

private:
    void run();

    Options m_options;
    std::atomic<int> m_open{0};
    std::atomic<int> m_connectedOnce{0};
    std::atomic<long> m_closed{0};
    std::array<std::atomic<long>, 600> m_answers{};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Sets the counter "<prefix><status>" for every status the crowd got at least once.
void reportAnswers(benchmark::State &state, const Crowd &crowd, const std::string &prefix);

// Polls `done` every 20 ms until it holds or `limit` passes; false then.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit);

} // namespace tarvo::bench
