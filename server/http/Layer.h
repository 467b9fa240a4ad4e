// What the HTTP layer's two halves share: the connection table and the library's daemon
// (HttpServer.cpp), and the path every request takes through it (RequestPath.cpp). Private to
// the layer.
#pragma once

#include "http/FairPool.h"
#include "http/FormReader.h"
#include "http/HttpServer.h"
#include "http/WorkerPool.h"

#include <atomic>
#include <condition_variable>
#include <microhttpd.h>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace tarvo::server::http {

using Clock = std::chrono::steady_clock;

struct Exchange;

// One connection, from the library's STARTED notice to its CLOSED one. It owns the request
// under way on it, so a request the library drops without its completion callback is still
// logged and freed when the connection goes.
struct Connection
{
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    int fd = -1;
    std::string peer;     // canonical address
    std::string limitKey; // what the per-address limit counts it under
    // Guarded by the layer's connectionsMutex from here on: the sweeper reads them.
    Clock::time_point deadline;
    Clock::time_point headSince; // when its head, or its wait for the next one, began
    bool inHead = true;          // sending a request head, or idle between requests
    bool working = false;        // a worker or a check holds its request: the deadline waits
    bool cut = false;
    bool cutSoon = false; // its head is refused before the library would answer it
    // Only the polling thread touches it.
    std::unique_ptr<Exchange> exchange;
};

struct HttpServer::Impl
{
    Impl(const HttpLimits &l, std::function<void(const ops::RequestRecord &)> done);
    ~Impl();

    // The library's callbacks (RequestPath.cpp): the request path.
    static void *opened(void *cls, const char *uri, MHD_Connection *c);
    static MHD_Result handle(void *cls, MHD_Connection *c, const char *url, const char *method,
                             const char *version, const char *upload, std::size_t *uploadSize,
                             void **reqCls);
    static void completed(void *cls, MHD_Connection *c, void **reqCls,
                          MHD_RequestTerminationCode code);
    // The connection table (HttpServer.cpp).
    static void connectionEvent(void *cls, MHD_Connection *c, void **socketContext,
                                MHD_ConnectionNotificationCode code);
    static MHD_Result acceptable(void *cls, const sockaddr *address, socklen_t length);

    // Stages and their helpers (RequestPath.cpp).
    MHD_Result headArrived(Exchange &ex, MHD_Connection *c, const char *url, const char *method,
                           const char *version);
    MHD_Result afterCredentials(Exchange &ex, MHD_Connection *c);
    MHD_Result startCheck(Exchange &ex, MHD_Connection *c, const HttpSignIn &signIn);
    bool stopping();
    MHD_Result bodyBytes(Exchange &ex, const char *upload, std::size_t *uploadSize);
    MHD_Result dispatch(Exchange &ex, MHD_Connection *c);
    HttpAnswer run(Exchange &ex);
    MHD_Result send(Exchange &ex, MHD_Connection *c, HttpAnswer answer);
    void end(Exchange &ex, MHD_Connection *c, const char *ending);
    std::optional<HttpAnswer> admitHead(Exchange &ex);
    std::optional<HttpAnswer> admitBody(Exchange &ex, MHD_Connection *c);
    bool reserveBody(std::size_t bytes);
    // Runs `job` off the polling thread while `c` waits suspended; false when the pool
    // refused it (nothing suspended then).
    bool suspendFor(Exchange &ex, MHD_Connection *c, bool check,
                    const std::function<bool(std::function<void()>)> &post,
                    std::function<void()> job);
    std::string newId();

    // The connection table (HttpServer.cpp).
    void sweep();
    void armDeadline(Connection *connection, bool working);
    void headDone(Connection *connection);
    int bind(const std::string &host, int port);

    HttpLimits limits;
    std::function<void(const ops::RequestRecord &)> finished;
    std::function<void()> graceEnd;
    std::vector<std::pair<std::string, HttpRoute>> routes; // "METHOD path"
    HttpGate *gate = nullptr;
    std::string tlsCertificate; // PEM; empty: plain HTTP
    std::string tlsKey;
    std::string tlsPriorities = kDefaultTlsPriorities;
    std::vector<std::string> trustedProxies; // canonical
    std::unique_ptr<WorkerPool> workers;
    std::unique_ptr<FairPool> verifiers;
    std::uint64_t idSeed;
    std::atomic<std::uint64_t> idCounter{0};

    int listenFd = -1;
    bool daemonOwnsSocket = false;
    MHD_Daemon *daemon = nullptr;

    std::mutex stateMutex; // guards the four below; `changed` signals them
    std::condition_variable changed;
    bool stopRequested = false;
    std::size_t suspended = 0; // connections whose work or check is queued or running
    // Requests whose head is complete and that have not ended. One still sending its head
    // has not begun: a drain does not wait for it, and stopping the library closes it.
    std::size_t begun = 0;
    std::atomic<std::size_t> bodiesInFlight{0};
    bool drained = true;
    std::atomic<bool> running{false};

    std::mutex connectionsMutex;
    std::unordered_set<Connection *> connections;
    // Open connections per connectionKey, trusted proxies left out; only the polling thread
    // counts, as it alone accepts and closes.
    std::unordered_map<std::string, unsigned> perAddress;
};

} // namespace tarvo::server::http
