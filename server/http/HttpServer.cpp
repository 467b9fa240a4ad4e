// The layer on libmicrohttpd. A request's life: the URI callback opens its Exchange (id,
// client, target); the first handler call has the whole head and either refuses at once,
// which leaves the body unread, or admits it; body bytes go to the route's form reader as
// they arrive; then the connection is suspended while a worker runs the route, and resumed with
// the answer. A request whose credentials were not seen before waits suspended, before
// any of that, for their check on a small pool of its own. The completion callback reports the
// finished request and frees the Exchange.
//
// The library's own time-out only measures silence, so a client trickling one byte a second
// would hold its connection for ever: a sweeper thread shuts down the socket of every
// connection past its deadline, and the library then closes it as if the client had gone.
#include "http/HttpServer.h"

#include "http/FairPool.h"
#include "http/FormReader.h"
#include "http/WorkerPool.h"
#include "text/AsciiCase.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <microhttpd.h>
#include <mutex>
#include <netdb.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace tarvo::server {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSweepInterval = std::chrono::milliseconds(200);
constexpr const char *kTextType = "text/plain; charset=utf-8";

HttpAnswer refusal(int status, std::string text)
{
    return {status, kTextType, std::move(text), {}, {}};
}

std::string addressText(const sockaddr *address)
{
    char buffer[INET6_ADDRSTRLEN] = "-";
    if (address == nullptr) {
        return buffer;
    }
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, buffer,
                  sizeof buffer);
    } else if (address->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, buffer,
                  sizeof buffer);
    }
    return buffer;
}

const char *endText(MHD_RequestTerminationCode code)
{
    switch (code) {
    case MHD_REQUEST_TERMINATED_COMPLETED_OK:
        return nullptr;
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
        return "timed-out";
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
        return "shutdown";
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
    case MHD_REQUEST_TERMINATED_READ_ERROR:
        return "client-gone";
    default:
        return "refused";
    }
}

// What the sweeper knows of one connection.
struct Connection
{
    int fd = -1;
    Clock::time_point deadline;
    bool working = false; // a worker holds its request: the deadline waits
    bool cut = false;
    std::string peer;
};

std::atomic<std::size_t> liveExchanges{0};

// One request from its first line to its end.
struct Exchange
{
    Exchange() { ++liveExchanges; }
    ~Exchange() { --liveExchanges; }
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    HttpRequest request;
    Connection *connection = nullptr;
    Clock::time_point start = Clock::now();
    std::string loggedPath;
    const HttpRoute *route = nullptr;
    bool admitted = false;
    bool verifying = false;            // its credentials wait for or are in their check
    std::optional<HttpAnswer> verdict; // the check's refusal, set before the resume
    bool working = false;
    std::unique_ptr<FormReader> reader;
    bool readerRefused = false;
    std::size_t bodyBytes = 0;
    std::size_t reserved = 0;         // of the budget for bodies in flight
    std::uint64_t announced = 0;      // its Content-Length
    std::optional<HttpAnswer> answer; // set by the worker before it resumes the connection
    int status = 0;                   // 0: none of ours was sent
    RequestNote note;
    std::string reason; // the answer's text when it refused
    std::string detail;
};

} // namespace

std::size_t liveRequestRecords()
{
    return liveExchanges.load();
}

std::optional<std::string_view> HttpRequest::header(std::string_view name) const
{
    for (const auto &[key, value] : headers) {
        if (equalsIgnoringCase(key, name)) {
            return std::string_view(value);
        }
    }
    return std::nullopt;
}

struct HttpServer::Impl
{
    Impl(const HttpLimits &l, std::function<void(const RequestRecord &)> done)
        : limits(l), finished(std::move(done)),
          workers(std::make_unique<WorkerPool>(l.workers, l.pendingWork)),
          verifiers(std::make_unique<FairPool>(l.verifiers, l.pendingVerifications,
                                               l.verificationsPerAddress)),
          idSeed(std::random_device{}())
    {}

    ~Impl()
    {
        // A drain cut short left work running on suspended connections: the library may be
        // stopped only once that work has resumed them.
        verifiers.reset();
        workers.reset();
        if (daemon != nullptr) {
            MHD_stop_daemon(daemon);
        }
        if (listenFd >= 0 && !daemonOwnsSocket) {
            close(listenFd);
        }
    }

    // Callbacks of the library.
    static void *opened(void *cls, const char *uri, MHD_Connection *c);
    static MHD_Result handle(void *cls, MHD_Connection *c, const char *url, const char *method,
                             const char *version, const char *upload, std::size_t *uploadSize,
                             void **reqCls);
    static void completed(void *cls, MHD_Connection *c, void **reqCls,
                          MHD_RequestTerminationCode code);
    static void connectionEvent(void *cls, MHD_Connection *c, void **socketContext,
                                MHD_ConnectionNotificationCode code);

    static MHD_Result acceptable(void *cls, const sockaddr *address, socklen_t length);

    std::optional<HttpAnswer> admit(Exchange &ex, MHD_Connection *c);
    // The admission's second half, once the credentials hold: the body budget and reader.
    std::optional<HttpAnswer> admitBody(Exchange &ex, MHD_Connection *c);
    MHD_Result startVerifying(Exchange &ex, MHD_Connection *c);
    // Takes `bytes` of the budget for bodies in flight; false, taking nothing, when they do
    // not fit. Only the polling thread takes, so the count never passes the budget.
    bool reserveBody(std::size_t bytes)
    {
        if (bytes > limits.bodyBytesInFlight - bodiesInFlight.load()) {
            return false;
        }
        bodiesInFlight += bytes;
        return true;
    }
    MHD_Result dispatch(Exchange &ex, MHD_Connection *c);
    HttpAnswer run(Exchange &ex);
    MHD_Result send(Exchange &ex, MHD_Connection *c, HttpAnswer answer);
    void report(const Exchange &ex, MHD_Connection *c, MHD_RequestTerminationCode code);
    std::string newId();
    void sweep();
    void armDeadline(Connection *connection, bool working);
    int bind(const std::string &host, int port);

    HttpLimits limits;
    std::function<void(const RequestRecord &)> finished;
    std::function<void()> graceEnd;
    std::vector<std::pair<std::string, HttpRoute>> routes; // "METHOD path"
    std::string tlsCertificate;                            // PEM; empty: plain HTTP
    std::string tlsKey;
    std::string tlsPriorities = kDefaultTlsPriorities;
    std::vector<std::string> trustedProxies;
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
    std::size_t suspended = 0; // connections whose work is queued or running
    // Requests whose head is complete and that have not ended. One still sending its head
    // has not begun: a drain does not wait for it, and stopping the library closes it.
    std::size_t begun = 0;
    std::atomic<std::size_t> bodiesInFlight{0};
    bool drained = true;
    std::atomic<bool> running{false};

    std::mutex connectionsMutex;
    std::unordered_set<Connection *> connections;
    // Open connections per peer address, trusted proxies left out; only the polling thread
    // counts, as it alone accepts and closes.
    std::unordered_map<std::string, unsigned> perAddress;
};

std::string HttpServer::Impl::newId()
{
    // splitmix64: distinct counters give distinct, unguessable-looking ids.
    std::uint64_t z = idSeed + 0x9E3779B97F4A7C15ULL * ++idCounter;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", static_cast<unsigned>(z & 0xFFFFFFFFU));
    return buffer;
}

void HttpServer::Impl::connectionEvent(void *cls, MHD_Connection *c, void **socketContext,
                                       MHD_ConnectionNotificationCode code)
{
    auto *self = static_cast<Impl *>(cls);
    const std::lock_guard lock(self->connectionsMutex);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto *connection = new Connection;
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        connection->fd = info != nullptr ? info->connect_fd : -1;
        connection->deadline = Clock::now() + self->limits.requestDeadline;
        const MHD_ConnectionInfo *address =
            MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        connection->peer = addressText(address != nullptr ? address->client_addr : nullptr);
        ++self->perAddress[connection->peer];
        self->connections.insert(connection);
        *socketContext = connection;
    } else {
        // Called before the library closes the socket, so the sweeper never shuts down a
        // number that a new connection has taken over.
        auto *connection = static_cast<Connection *>(*socketContext);
        if (connection == nullptr) {
            return;
        }
        if (const auto count = self->perAddress.find(connection->peer);
            count != self->perAddress.end() && --count->second == 0) {
            self->perAddress.erase(count);
        }
        self->connections.erase(connection);
        delete connection;
        *socketContext = nullptr;
    }
}

MHD_Result HttpServer::Impl::acceptable(void *cls, const sockaddr *address, socklen_t)
{
    auto *self = static_cast<Impl *>(cls);
    const std::string peer = addressText(address);
    const auto &trusted = self->trustedProxies;
    if (std::find(trusted.begin(), trusted.end(), peer) != trusted.end()) {
        return MHD_YES;
    }
    const std::lock_guard lock(self->connectionsMutex);
    const auto count = self->perAddress.find(peer);
    return count == self->perAddress.end() || count->second < self->limits.connectionsPerAddress
               ? MHD_YES
               : MHD_NO;
}

void HttpServer::Impl::armDeadline(Connection *connection, bool working)
{
    if (connection == nullptr) {
        return;
    }
    const std::lock_guard lock(connectionsMutex);
    connection->working = working;
    connection->deadline = Clock::now() + limits.requestDeadline;
}

void HttpServer::Impl::sweep()
{
    std::unique_lock state(stateMutex);
    while (!changed.wait_for(state, kSweepInterval, [this] { return stopRequested; })) {
        const auto now = Clock::now();
        const std::lock_guard lock(connectionsMutex);
        for (Connection *connection : connections) {
            if (!connection->working && !connection->cut && connection->fd >= 0 &&
                now > connection->deadline) {
                shutdown(connection->fd, SHUT_RDWR);
                connection->cut = true;
            }
        }
    }
}

void *HttpServer::Impl::opened(void *cls, const char *uri, MHD_Connection *c)
{
    auto *self = static_cast<Impl *>(cls);
    auto *ex = new Exchange;
    ex->request.id = self->newId();
    ex->request.target = uri != nullptr ? uri : "";
    const std::size_t mark = ex->request.target.find('?');
    ex->request.path = ex->request.target.substr(0, mark);
    if (mark != std::string::npos) {
        ex->request.query = ex->request.target.substr(mark + 1);
    }
    ex->loggedPath = ex->request.path;
    const MHD_ConnectionInfo *address =
        MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    ex->request.client = addressText(address != nullptr ? address->client_addr : nullptr);
    const MHD_ConnectionInfo *context =
        MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    ex->connection =
        context != nullptr ? static_cast<Connection *>(context->socket_context) : nullptr;
    return ex;
}

MHD_Result HttpServer::Impl::handle(void *cls, MHD_Connection *c, const char *url,
                                    const char *method, const char *version, const char *upload,
                                    std::size_t *uploadSize, void **reqCls)
{
    auto *self = static_cast<Impl *>(cls);
    auto *ex = static_cast<Exchange *>(*reqCls);
    if (ex == nullptr) {
        return MHD_NO;
    }
    if (!ex->admitted) {
        ex->admitted = true;
        {
            const std::lock_guard lock(self->stateMutex);
            ++self->begun;
        }
        ex->request.method = method;
        ex->loggedPath = url; // decoded by the library: what the operator reads
        MHD_get_connection_values(
            c, MHD_HEADER_KIND,
            [](void *headers, MHD_ValueKind, const char *key, const char *value) {
                static_cast<std::vector<std::pair<std::string, std::string>> *>(headers)
                    ->emplace_back(key, value != nullptr ? value : "");
                return MHD_YES;
            },
            &ex->request.headers);
        if (const auto fault =
                framingFault(version != nullptr ? version : "", ex->request.headers)) {
            HttpAnswer refused =
                refusal(400, "Refused: the request's framing is ambiguous: " + *fault + ".");
            refused.headers.emplace_back(MHD_HTTP_HEADER_CONNECTION, "close");
            return self->send(*ex, c, std::move(refused));
        }
        if (!self->trustedProxies.empty()) {
            std::vector<std::string> forwarded;
            for (const auto &[key, value] : ex->request.headers) {
                if (equalsIgnoringCase(key, "X-Forwarded-For")) {
                    forwarded.push_back(value);
                }
            }
            ex->request.client =
                forwardedClient(ex->request.client, forwarded, self->trustedProxies);
        }
        if (std::optional<HttpAnswer> refused = self->admit(*ex, c)) {
            return self->send(*ex, c, std::move(*refused));
        }
        if (ex->route->needsVerify && ex->route->needsVerify(ex->request)) {
            return self->startVerifying(*ex, c);
        }
        if (std::optional<HttpAnswer> refused = self->admitBody(*ex, c)) {
            return self->send(*ex, c, std::move(*refused));
        }
        return MHD_YES;
    }
    if (ex->verifying) {
        // Called again once the check has resumed the connection, still before any body.
        ex->verifying = false;
        if (ex->verdict) {
            HttpAnswer refused = std::move(*ex->verdict);
            ex->verdict.reset();
            return self->send(*ex, c, std::move(refused));
        }
        if (std::optional<HttpAnswer> refused = self->admitBody(*ex, c)) {
            return self->send(*ex, c, std::move(*refused));
        }
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        ex->bodyBytes += *uploadSize;
        if (ex->bodyBytes > self->limits.bodyBytes) {
            // Too late for an answer: the library sends none while the body is still coming.
            ex->status = 413;
            ex->note.refusal = Refusal::Size;
            ex->detail = "body over the limit; connection closed";
            return MHD_NO;
        }
        if (ex->bodyBytes > ex->reserved) {
            // A body without a length is counted as it arrives.
            const std::size_t more = ex->bodyBytes - ex->reserved;
            if (!self->reserveBody(more)) {
                ex->status = 503;
                ex->detail = "bodies in flight over the server's budget; connection closed";
                return MHD_NO;
            }
            ex->reserved += more;
        }
        if (!ex->readerRefused && !ex->reader->feed(upload, *uploadSize)) {
            ex->readerRefused = true; // the rest is read, up to the limit, and dropped
        }
        *uploadSize = 0;
        return MHD_YES;
    }
    if (ex->answer) {
        HttpAnswer answer = std::move(*ex->answer);
        ex->answer.reset();
        return self->send(*ex, c, std::move(answer));
    }
    if (ex->working) {
        return MHD_YES;
    }
    if (ex->reader && !ex->readerRefused) {
        ex->reader->finish();
    }
    return self->dispatch(*ex, c);
}

std::optional<HttpAnswer> HttpServer::Impl::admit(Exchange &ex, MHD_Connection *)
{
    const HttpRequest &request = ex.request;
    std::size_t head = request.method.size() + request.target.size() + 12;
    for (const auto &[key, value] : request.headers) {
        head += key.size() + value.size() + 4;
    }
    if (head > limits.headBytes) {
        return refusal(431, "Refused: the request head is larger than " +
                                std::to_string(limits.headBytes / kKiB) + " KiB.");
    }
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    for (const auto &[key, route] : routes) {
        if (key.size() == method.size() + 1 + request.path.size() &&
            key.compare(0, method.size(), method) == 0 && key[method.size()] == ' ' &&
            key.compare(method.size() + 1, std::string::npos, request.path) == 0) {
            ex.route = &route;
        }
    }
    if (ex.route == nullptr) {
        return refusal(404, "Not found.");
    }
    if (const auto encoding = request.header("Content-Encoding");
        encoding && !equalsIgnoringCase(*encoding, "identity")) {
        return refusal(415, "Refused: a body with a Content-Encoding is not accepted.");
    }
    const auto length = request.header("Content-Length");
    const bool hasBody =
        request.header("Transfer-Encoding").has_value() || (length && *length != "0");
    if (hasBody && !ex.route->form) {
        return refusal(400, "Refused: this request takes no body.");
    }
    std::uint64_t announced = 0;
    if (length) {
        const auto [end, error] =
            std::from_chars(length->data(), length->data() + length->size(), announced);
        if (error != std::errc() || announced > limits.bodyBytes) {
            HttpAnswer tooLarge =
                refusal(413, "Refused: the body is larger than " +
                                 std::to_string(limits.bodyBytes / kMiB) + " MiB.");
            tooLarge.note.refusal = Refusal::Size;
            return tooLarge;
        }
    }
    if (ex.route->admit) {
        if (std::optional<HttpAnswer> refused = ex.route->admit(request)) {
            return refused;
        }
    }
    ex.announced = announced;
    return std::nullopt;
}

MHD_Result HttpServer::Impl::startVerifying(Exchange &ex, MHD_Connection *c)
{
    {
        const std::lock_guard lock(stateMutex);
        if (stopRequested) {
            return send(ex, c, refusal(503, "Refused: the server is stopping."));
        }
        ++suspended;
    }
    ex.verifying = true;
    MHD_suspend_connection(c);
    const bool queued = verifiers->post(ex.request.client, [this, &ex, c] {
        try {
            ex.verdict = ex.route->verify(ex.request);
        } catch (const std::exception &error) {
            ex.verdict = HttpAnswer{500, kTextType, {}, {}, error.what()};
        }
        MHD_resume_connection(c);
        {
            const std::lock_guard lock(stateMutex);
            --suspended;
        }
        changed.notify_all();
    });
    if (!queued) {
        HttpAnswer busy = refusal(503, "Refused: too many logins are being checked; try again.");
        busy.headers.emplace_back("Retry-After", "1");
        busy.detail = "credential checks over their queue or this address's share";
        ex.verdict = std::move(busy);
        MHD_resume_connection(c);
        const std::lock_guard lock(stateMutex);
        --suspended;
    }
    return MHD_YES;
}

std::optional<HttpAnswer> HttpServer::Impl::admitBody(Exchange &ex, MHD_Connection *c)
{
    const std::uint64_t announced = ex.announced;
    if (ex.route->form) {
        if (!reserveBody(announced)) {
            HttpAnswer busy = refusal(503, "Refused: the server is busy; try again.");
            busy.headers.emplace_back("Retry-After", "1");
            busy.detail = "bodies in flight over the server's budget";
            return busy;
        }
        ex.reserved = announced;
        ex.reader = FormReader::create(c, *ex.route->form);
        if (!ex.reader) {
            return refusal(400, "Refused: the body cannot be read.");
        }
    }
    return std::nullopt;
}

MHD_Result HttpServer::Impl::dispatch(Exchange &ex, MHD_Connection *c)
{
    {
        const std::lock_guard lock(stateMutex);
        if (stopRequested) {
            return send(ex, c, refusal(503, "Refused: the server is stopping."));
        }
        ++suspended;
    }
    ex.working = true;
    armDeadline(ex.connection, true);
    MHD_suspend_connection(c);
    const bool queued = workers->post([this, &ex, c] {
        ex.answer = run(ex);
        MHD_resume_connection(c);
        // Counted down only after the resume, so that stopping never meets a connection
        // still suspended.
        {
            const std::lock_guard lock(stateMutex);
            --suspended;
        }
        changed.notify_all();
    });
    if (!queued) {
        ex.answer = refusal(503, "Refused: the server is busy; try again.");
        MHD_resume_connection(c);
        const std::lock_guard lock(stateMutex);
        --suspended;
    }
    return MHD_YES;
}

HttpAnswer HttpServer::Impl::run(Exchange &ex)
{
    try {
        static const HttpForm none;
        return ex.route->run(ex.request, ex.reader ? ex.reader->result() : none);
    } catch (const std::exception &error) {
        return {500, kTextType, {}, {}, error.what()};
    } catch (...) {
        return {500, kTextType, {}, {}, "unknown failure"};
    }
}

MHD_Result HttpServer::Impl::send(Exchange &ex, MHD_Connection *c, HttpAnswer answer)
{
    if (answer.status == 500) {
        answer.contentType = kTextType;
        answer.body = "Server error (request id " + ex.request.id + ").";
    }
    ex.working = false;
    armDeadline(ex.connection, false);
    ex.status = answer.status;
    ex.note = std::move(answer.note);
    if (answer.status >= 400 && answer.status != 500) {
        ex.reason = answer.body.substr(0, 200);
    }
    ex.detail = std::move(answer.detail);
    auto *body = new std::string(std::move(answer.body));
    MHD_Response *response = MHD_create_response_from_buffer_with_free_callback_cls(
        body->size(), body->data(), [](void *text) { delete static_cast<std::string *>(text); },
        body);
    if (response == nullptr) {
        delete body;
        return MHD_NO;
    }
    if (!answer.contentType.empty()) { // a 304 has no body to describe
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    }
    for (const auto &[name, value] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

void HttpServer::Impl::completed(void *cls, MHD_Connection *c, void **reqCls,
                                 MHD_RequestTerminationCode code)
{
    auto *self = static_cast<Impl *>(cls);
    auto *ex = static_cast<Exchange *>(*reqCls);
    if (ex == nullptr) {
        return;
    }
    self->report(*ex, c, code);
    self->armDeadline(ex->connection, false);
    self->bodiesInFlight -= ex->reserved;
    const bool hadBegun = ex->admitted;
    delete ex;
    *reqCls = nullptr;
    if (hadBegun) {
        {
            const std::lock_guard lock(self->stateMutex);
            --self->begun;
        }
        self->changed.notify_all();
    }
}

void HttpServer::Impl::report(const Exchange &ex, MHD_Connection *c,
                              MHD_RequestTerminationCode code)
{
    if (!finished) {
        return;
    }
    RequestRecord record;
    record.time = std::chrono::system_clock::now();
    record.id = ex.request.id;
    record.client = ex.request.client;
    record.method = ex.request.method;
    record.path = ex.loggedPath;
    record.note = ex.note;
    record.status = ex.status;
    if (record.status == 0) {
        if (const MHD_ConnectionInfo *info =
                MHD_get_connection_info(c, MHD_CONNECTION_INFO_HTTP_STATUS)) {
            record.status = static_cast<int>(info->http_status);
        }
    }
    record.elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - ex.start);
    record.reason = ex.reason;
    record.detail = ex.detail;
    if (const char *end = endText(code)) {
        record.ending = end;
    }
    finished(record);
}

int HttpServer::Impl::bind(const std::string &host, int port)
{
    if (listenFd >= 0) {
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return -1;
    }
    int fd = -1;
    for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        // Address reuse allows a quick restart; port reuse, which would let a second server
        // take part of the requests, stays off.
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &size);
    listenFd = fd;
    return bound.ss_family == AF_INET6
               ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&bound)->sin6_port)
               : ntohs(reinterpret_cast<const sockaddr_in *>(&bound)->sin_port);
}

HttpServer::HttpServer(const HttpLimits &limits,
                       std::function<void(const RequestRecord &)> finished)
    : d(std::make_unique<Impl>(limits, std::move(finished)))
{}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::route(std::string method, std::string path, HttpRoute route)
{
    d->routes.emplace_back(std::move(method) + " " + std::move(path), std::move(route));
}

void HttpServer::setTls(std::string certificatePem, std::string keyPem, std::string priorities)
{
    d->tlsCertificate = std::move(certificatePem);
    d->tlsKey = std::move(keyPem);
    d->tlsPriorities =
        priorities.empty() ? std::string(kDefaultTlsPriorities) : std::move(priorities);
}

void HttpServer::setTrustedProxies(std::vector<std::string> addresses)
{
    d->trustedProxies = std::move(addresses);
}

int HttpServer::bindToAnyPort(const std::string &host)
{
    return d->bind(host, 0);
}

bool HttpServer::bindToPort(const std::string &host, int port)
{
    return d->bind(host, port) >= 0;
}

bool HttpServer::serve()
{
    {
        const std::lock_guard lock(d->stateMutex);
        if (d->stopRequested || d->listenFd < 0 || d->daemonOwnsSocket) {
            return false;
        }
        d->daemonOwnsSocket = true;
    }
    const HttpLimits &l = d->limits;
    const bool tls = !d->tlsCertificate.empty();
    MHD_OptionItem tlsOptions[] = {
        {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, d->tlsCertificate.data()},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, d->tlsKey.data()},
        {MHD_OPTION_HTTPS_PRIORITIES, 0, d->tlsPriorities.data()},
        {MHD_OPTION_END, 0, nullptr},
    };
    d->daemon = MHD_start_daemon(
        MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ITC |
            (tls ? MHD_USE_TLS : 0),
        0, &Impl::acceptable, d.get(), &Impl::handle, d.get(), MHD_OPTION_LISTEN_SOCKET,
        d->listenFd, MHD_OPTION_CONNECTION_LIMIT, l.connections, MHD_OPTION_STRICT_FOR_CLIENT, 1,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, l.connectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
        static_cast<unsigned>(l.idleTimeout.count()), MHD_OPTION_URI_LOG_CALLBACK, &Impl::opened,
        d.get(), MHD_OPTION_NOTIFY_COMPLETED, &Impl::completed, d.get(),
        MHD_OPTION_NOTIFY_CONNECTION, &Impl::connectionEvent, d.get(), MHD_OPTION_ARRAY, tlsOptions,
        MHD_OPTION_END);
    if (d->daemon == nullptr) {
        close(d->listenFd);
        d->listenFd = -1;
        return false;
    }
    d->running = true;
    std::thread sweeper([this] { d->sweep(); });
    {
        std::unique_lock lock(d->stateMutex);
        d->changed.wait(lock, [this] { return d->stopRequested; });
    }
    // From here new connections are refused, while those open keep being served: their
    // requests at work finish, and any new request on them is answered 503.
    const MHD_socket quiesced = MHD_quiesce_daemon(d->daemon);
    if (quiesced != MHD_INVALID_SOCKET) {
        close(quiesced);
    }
    d->listenFd = -1;
    sweeper.join();
    {
        std::unique_lock lock(d->stateMutex);
        const bool settled =
            d->changed.wait_until(lock, Clock::now() + d->limits.shutdownGrace,
                                  [this] { return d->suspended == 0 && d->begun == 0; });
        if (!settled && d->suspended > 0 && d->graceEnd) {
            lock.unlock();
            d->graceEnd();
            lock.lock();
        }
        d->drained = d->suspended == 0;
    }
    if (d->drained) {
        MHD_stop_daemon(d->daemon);
        d->daemon = nullptr;
    }
    d->running = false;
    return true;
}

void HttpServer::stop()
{
    {
        const std::lock_guard lock(d->stateMutex);
        d->stopRequested = true;
    }
    d->changed.notify_all();
}

bool HttpServer::isRunning() const
{
    return d->running;
}

std::size_t HttpServer::requestsUnderWay() const
{
    const std::lock_guard lock(d->stateMutex);
    return d->begun;
}

void HttpServer::onGraceEnd(std::function<void()> settle)
{
    d->graceEnd = std::move(settle);
}

bool HttpServer::drained() const
{
    const std::lock_guard lock(d->stateMutex);
    return d->drained;
}

} // namespace tarvo::server
