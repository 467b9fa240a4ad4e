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
#include <variant>
#include <vector>

namespace tarvo::server::http {

inline constexpr std::size_t kKiB = 1024;
inline constexpr std::size_t kMiB = 1024 * kKiB;

// TLS 1.2 and 1.3 only, forward-secret key exchange and AEAD ciphers only, the server's
// order first.
inline constexpr const char *kDefaultTlsPriorities =
    "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-RSA:-DHE-RSA:-DHE-DSS:-CIPHER-ALL:"
    "+AES-256-GCM:+CHACHA20-POLY1305:+AES-128-GCM:-MAC-ALL:+AEAD:%SERVER_PRECEDENCE";

// `text` in one spelling per address, so that every address rule compares like with like: an
// IPv4-mapped IPv6 address ("::ffff:127.0.0.1") as its IPv4 address, an IPv6 address in its
// shortest form. Text that is no IP address comes back unchanged.
std::string canonicalAddress(std::string_view text);

// What the per-address connection limit counts under: an IPv4 address itself, an IPv6
// address by its /64 (one host is given a whole /64 to pick from). Takes a canonical address.
std::string connectionKey(const std::string &address);

// The client a request speaks for: the rightmost entry of the X-Forwarded-For values (joined
// in order) that is not one of `trusted`, when `peer` is trusted; otherwise `peer`. Addresses
// are compared and returned canonical; an entry that is no IP address is taken as it is, cut
// to 64 bytes.
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
    unsigned connections = 1024;         // open connections in all
    unsigned connectionsPerAddress = 64; // open connections from one client address
    // Past this many open connections (0: three quarters of `connections`), a connection still
    // sending its request head, a new one or one idle between requests, is cut after
    // `headDeadlineUnderPressure`, so that slow heads cannot fill the table.
    // Also past it, an address holding this many connections gets no more, so that the room
    // below `connections` stays for addresses that hold none.
    unsigned softConnections = 0;
    std::chrono::milliseconds headDeadlineUnderPressure{1000};
    unsigned connectionsPerAddressUnderPressure = 8;
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
    // Checks of a user at an address where it signed in before: a lane of their own.
    std::size_t pendingHomeVerifications = 16;
    std::chrono::seconds shutdownGrace{30}; // stopping: how long requests in flight may finish
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
    // Who the credentials stage found: the user name, empty on a public route or without
    // accounts. Set before any body byte is read.
    std::string user;

    // The first header of that name (any letter case), or nullopt.
    std::optional<std::string_view> header(std::string_view name) const;
};

struct HttpAnswer
{
    int status = 200;
    std::string contentType;
    std::string body;
    ops::RequestNote note; // for the log and the metrics
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

// What the credentials stage tells without the slow check.
struct HttpSignIn
{
    enum class Kind {
        Open,       // no accounts: anyone may pass
        Remembered, // the same credentials were checked before: `user`, no check needed
        NeedsCheck, // only the slow check can tell
        Refused,    // no usable credentials: `refusal`
    };
    Kind kind = Kind::Open;
    std::string user;
    // NeedsCheck: the name signed in from this client address before, so its check takes the
    // pool's reserved lane, keyed by name and address together.
    bool home = false;
    std::optional<HttpAnswer> refusal;
};

// The access stages that every request of a signed route passes, in this order and none
// skipped; a shortcut (remembered credentials) may skip the cost of the slow check, never a
// stage. Called from the layer's threads at once: implementations are thread-safe.
class HttpGate
{
public:
    virtual ~HttpGate() = default;
    // Refusals that need no credentials: a foreign Host (421), a POST from a foreign Origin
    // (403). nullopt: pass.
    virtual std::optional<HttpAnswer> screen(const HttpRequest &request) = 0;
    // 429 while the client address, or the user name the credentials claim, has failed too
    // often; never reads the password, so the answer cannot depend on it. nullopt: pass.
    virtual std::optional<HttpAnswer> throttle(const HttpRequest &request) = 0;
    // The credentials as far as they can be told cheaply; a refusal is charged to the
    // throttle here.
    virtual HttpSignIn signIn(const HttpRequest &request) = 0;
    // The slow check, on the layer's verification pool: the user name, or a refusal (401,
    // 429).
    virtual std::variant<std::string, HttpAnswer> check(const HttpRequest &request) = 0;
};

struct HttpRoute
{
    // Signed routes pass the gate's stages; public ones (a health check) pass none of them.
    bool signedIn = true;
    // After the gate's stages, before any body byte is read, on the polling thread: an answer
    // here refuses the request (a body of the wrong type) and leaves its body unread.
    // Optional.
    std::function<std::optional<HttpAnswer>(const HttpRequest &)> admit;
    // Set: the body is read as a form (also without a Content-Type), its reading stopped
    // at the first fault. Unset: a request carrying a body is refused unread.
    std::optional<FormFields> form;
    // The answer, on a worker thread, after the whole body; `form` is empty for a route
    // without one. The route checks the caller's rights on what the request names. An
    // exception answers 500 and logs its text.
    std::function<HttpAnswer(const HttpRequest &, const HttpForm &form)> run;
};

class HttpServer
{
public:
    // `finished` receives every request once it has ended, answered or not, from the layer's
    // threads (not serialised); null: nobody is told.
    HttpServer(const HttpLimits &limits, std::function<void(const ops::RequestRecord &)> finished);
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
    // The access stages of signed routes; null: every request passes them as open. The gate
    // outlives serving. Set before serving.
    void setGate(HttpGate *gate);

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

} // namespace tarvo::server::http
