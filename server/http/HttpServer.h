// The HTTP layer of the reference server, built for clients that may be hostile: one polling
// thread serves every connection (a slow client costs a socket, not a thread), every
// connection has a memory bound, a time-out when idle and a deadline for a whole request, and
// the work of a request runs on a worker pool while its connection waits suspended.
#pragma once

#include "ops/RequestLog.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::server {

inline constexpr std::size_t kKiB = 1024;
inline constexpr std::size_t kMiB = 1024 * kKiB;

// TLS 1.2 and 1.3 only, forward-secret key exchange and AEAD ciphers only, the server's
// order first.
inline constexpr const char *kDefaultTlsPriorities =
    "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-RSA:-DHE-RSA:-DHE-DSS:-CIPHER-ALL:"
    "+AES-256-GCM:+CHACHA20-POLY1305:+AES-128-GCM:-MAC-ALL:+AEAD:%SERVER_PRECEDENCE";

// The client a request speaks for: the rightmost entry of the X-Forwarded-For values (joined
// in order) that is not one of `trusted`, when `peer` is trusted; otherwise `peer`. An entry
// that is no IP address is taken as it is, cut to 64 bytes.
std::string forwardedClient(const std::string &peer, const std::vector<std::string> &forwardedFor,
                            const std::vector<std::string> &trusted);

// Why a request's framing could be read two ways (by a proxy and by this server), so it is
// refused with 400 and its connection closed: repeated Content-Length, Content-Length with
// Transfer-Encoding, a transfer coding other than chunked, a header name with a blank, an
// HTTP/1.1 request without exactly one Host. nullopt when the framing is sound.
std::optional<std::string>
framingFault(std::string_view version,
             const std::vector<std::pair<std::string, std::string>> &headers);

// Per-request records alive in every HTTP layer of the process: zero whenever no request is
// under way, which the tests and the fuzzer check after each exchange.
std::size_t liveRequestRecords();

struct HttpLimits
{
    unsigned connections = 1024;              // open connections in all
    unsigned connectionsPerAddress = 64;      // open connections from one client address
    std::size_t connectionMemory = 32 * kKiB; // buffer of one connection (its head must fit)
    std::size_t headBytes = 16 * kKiB;        // request line and headers together
    std::size_t bodyBytes = 16 * kMiB;
    // The bodies of every request under way together: a new body that would pass it is
    // refused with 503, so that many slow uploads cannot take the memory of the machine.
    std::size_t bodyBytesInFlight = 256 * kMiB;
    std::chrono::seconds idleTimeout{10};     // no byte moved for this long: closed
    std::chrono::seconds requestDeadline{60}; // a whole request, its answer included
    unsigned workers = 4;                     // threads running the requests' work
    std::size_t pendingWork = 256;            // requests waiting for a worker; more answer 503
    // Checks of credentials not seen before run on a small pool of their own, before a request
    // gets any body budget or worker: a flood of strangers waits behind itself only.
    unsigned verifiers = 2;
    std::size_t pendingVerifications = 64;   // queued in all; more answer 503
    std::size_t verificationsPerAddress = 4; // queued or running for one client address
    std::chrono::seconds shutdownGrace{30};  // stopping: how long requests in flight may finish
};

// What the layer knows of one request; handlers read it.
struct HttpRequest
{
    std::string id; // short, random-looking, also in the log line
    // The peer's address; behind a trusted proxy, the rightmost X-Forwarded-For entry that is
    // not a trusted proxy.
    std::string client;
    std::string method; // as sent; HEAD is served by the GET route
    std::string target; // the request target as sent, query included
    std::string path;   // the target before "?", as sent (not decoded)
    std::string query;  // the target after "?", as sent; empty without "?"
    std::vector<std::pair<std::string, std::string>> headers;

    // The first header of that name (any letter case), or nullopt.
    std::optional<std::string_view> header(std::string_view name) const;
};

struct HttpAnswer
{
    int status = 200;
    std::string contentType;
    std::string body;
    RequestNote note; // for the log and the metrics
    // Operator-only detail of a failure: written into the log line, never sent. A 500 answer's
    // body is replaced by "Server error" and the request id.
    std::string detail;
    std::vector<std::pair<std::string, std::string>> headers = {}; // sent besides Content-Type
};

// Which fields of an application/x-www-form-urlencoded body a route keeps.
struct FormFields
{
    std::string name;   // the fields kept, by this name in any letter case; the rest is dropped
    std::size_t most{}; // kept fields allowed: one more refuses the body
};

// A form body as the layer decoded it while it streamed in.
struct HttpForm
{
    enum class Status { Ok, Malformed, TooManyFields };
    Status status = Status::Ok;
    std::vector<std::string> values; // the kept fields' values in body order, bytes as decoded
    std::string message;             // why the body was refused; empty when Ok
};

struct HttpRoute
{
    // Before any body byte is read, on the polling thread: an answer here refuses the
    // request and leaves its body unread. Optional.
    std::function<std::optional<HttpAnswer>(const HttpRequest &)> admit;
    // After admit, on the polling thread and cheap: true when the request must pass `verify`
    // first. Optional (unset: never).
    std::function<bool(const HttpRequest &)> needsVerify;
    // The slow check of credentials, on the layer's verification pool while the connection
    // waits suspended, before any body budget, worker or database connection is taken: an
    // answer refuses the request and leaves its body unread.
    std::function<std::optional<HttpAnswer>(const HttpRequest &)> verify;
    // Set: the body is read as a form (also without a Content-Type), its reading stopped
    // at the first fault. Unset: a request carrying a body is refused unread.
    std::optional<FormFields> form;
    // The answer, on a worker thread, after the whole body; `form` is empty for a route
    // without one. An exception answers 500 and logs its text.
    std::function<HttpAnswer(const HttpRequest &, const HttpForm &form)> run;
};

class HttpServer
{
public:
    // `finished` receives every request once it has ended, answered or not, from the layer's
    // threads (not serialised); null: nobody is told.
    HttpServer(const HttpLimits &limits, std::function<void(const RequestRecord &)> finished);
    // Calls stop() but does not wait: join the thread that serves before destroying.
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Serves `method` on exactly `path` (byte for byte, no decoding); a GET route also serves
    // HEAD. Every other request answers 404. Add routes before serving.
    void route(std::string method, std::string path, HttpRoute route);
    // Serves HTTPS only, with these PEM texts (a certificate chain and its key, which the
    // caller has checked). Set before serving.
    // `priorities` is a GnuTLS priority string; empty: kDefaultTlsPriorities. Set before
    // serving; a string GnuTLS refuses makes serve() fail.
    void setTls(std::string certificatePem, std::string keyPem, std::string priorities = {});
    // Load balancers whose X-Forwarded-For names the client, as IP addresses. They are exempt
    // from the per-address connection limit. Set before serving.
    void setTrustedProxies(std::vector<std::string> addresses);

    // Binds a free port of `host`; the port, or -1. Connections queue from here on.
    int bindToAnyPort(const std::string &host);
    // False when `host`:`port` cannot be bound.
    bool bindToPort(const std::string &host, int port);

    // Serves the bound socket until stop(); false at once when nothing is bound, stop() came
    // first, or serving cannot start.
    bool serve();
    // Stops accepting new connections at once and answers 503 to every request not yet at
    // work; lets the requests at work finish and their answers go out for up to the limits'
    // shutdown grace, then ends serve(). A connection still sending its request head does not
    // hold the drain: it is closed unanswered. Safe from any thread at any time; final.
    void stop();
    bool isRunning() const;
    // Requests whose head has arrived and whose answer has not gone out yet.
    std::size_t requestsUnderWay() const;
    // Called once if the shutdown grace runs out with requests still at work, before serve()
    // gives up on them: a last chance to settle what must not be cut. Set before serving.
    void onGraceEnd(std::function<void()> settle);
    // After serve() has returned: false when the grace ran out with requests still at work.
    // Their connections stay open and their work runs on; the process should exit, which
    // closes them and lets the database roll back what did not commit.
    bool drained() const;

private:
    struct Impl;
    std::unique_ptr<Impl> const d;
};

} // namespace tarvo::server
