// The reference server: serves the page /CenterVendor.asp that the control reads and writes,
// on a SQLite or PostgreSQL database, and a health check for load balancers. Usable
// in-process (tests, benchmarks) and by the centervendor-server program.
#pragma once

#include "CommandLine.h"
#include "http/HttpServer.h"
#include "store/Store.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvo::server {

class ReferenceServer
{
public:
    // Opens the store at `location` (Store::open: a PostgreSQL URI or a SQLite file),
    // creating the schema when missing. Throws StoreError when it cannot be opened or is not
    // a database. The HTTP layer runs one worker per store connection, whatever
    // `limits.workers` says.
    explicit ReferenceServer(const std::string &location, const store::StoreOptions &options = {},
                             const http::HttpLimits &limits = {});
    // Calls stop(), but does not wait: join the thread that serves before destroying.
    ~ReferenceServer();
    ReferenceServer(const ReferenceServer &) = delete;
    ReferenceServer &operator=(const ReferenceServer &) = delete;

    // Fills an empty database with the deterministic sample (four centers, a few hundred
    // vendors, some assignments). `filled` is false, and nothing changed, when the database
    // already holds centers or vendors.
    store::FillResult fillSample();

    // Where the one-line request log goes; stderr by default. Calls are serialised, so the
    // sink needs no locking of its own, but they come from the server's threads. A 500
    // answer names a request id; the line with that id holds what failed. Set before serving.
    void setLogSink(std::function<void(const std::string &line)> sink);
    // The form of those lines: text (the default) or one JSON object each. Set before serving.
    void setLogFormat(ops::LogFormat format);

    // Binds the metrics listener, which serves GET /metrics and nothing else for as long as
    // listenAfterBind serves; port 0 picks a free one. Returns the port, or -1.
    int bindMetrics(const std::string &host, int port);
    // The page GET /metrics answers with, in the Prometheus text format.
    std::string metricsPage() const;

    // Who may do what on the page (users file, allowed origins, server names) and HTTPS.
    // Without it, anyone may read and change every center, and a POST naming an Origin is
    // refused. Throws std::runtime_error saying which file cannot serve and why. Call before
    // serving; /healthz stays open to load balancers.
    void setAccess(const AccessOptions &access);
    // Writes `text` where the request log goes, in its format. Safe from any thread.
    void notice(const std::string &text);
    // The users file is read again by the next request (for SIGHUP). Safe from any thread.
    void reloadUsers();
    // The users read last; nullopt without a users file.
    std::optional<std::size_t> userCount() const;

    // Binds a free port of `host` (for example "127.0.0.1"); returns the port, or -1 when the
    // host cannot be bound. The socket accepts connections from here on, even before
    // listenAfterBind runs.
    int bindToAnyPort(const std::string &host);

    // Binds `host`:`port`; false when that address cannot be bound.
    bool bindToPort(const std::string &host, int port);

    // Serves the bound socket on the calling thread until stop(). Returns false at once when
    // nothing is bound or stop() has already been called.
    bool listenAfterBind();

    // bindToPort then listenAfterBind; blocks likewise.
    bool listen(const std::string &host, int port);

    // Drains: new connections are refused and every request not yet at work, /healthz
    // among them, answers 503 at once; the requests at work may finish for up to the
    // limits' shutdown grace; then the blocking listen call returns. Safe from any thread and
    // at any time, also before serving has begun. Final: the server does not serve again.
    void stop();

    // True while a listen call is accepting connections.
    bool isRunning() const;
    // Requests of the page and /healthz begun and not yet answered; a drain waits for them.
    std::size_t requestsUnderWay() const;

    // After the listen call has returned: false when the grace ran out with requests still
    // at work; destroying the server then waits for them.
    bool drained() const;

private:
    struct Impl;
    std::unique_ptr<Impl> const d;
};

} // namespace tarvo::server
