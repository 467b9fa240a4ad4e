// The one path every request takes, in the order it takes it:
//
//   1. head       the request line opens the record (opened); the whole head arrives
//   2. framing    a head a proxy could read two ways: 400, connection closed
//   3. admission  the client behind a trusted proxy; head size (431), route (404),
//                 content coding (415), a body where none is taken (400), its length (413)
//   4. screen     signed routes: Host (421) and a POST's Origin (403)
//   5. throttle   signed routes: 429 while the address or the claimed name failed too often,
//                 whatever the password
//   6. credentials signed routes: remembered ones pass without the slow check; others wait
//                 suspended for it on the verification pool (a name's home address in a lane
//                 of its own); none or wrong: 401
//   7. shape      the route's own refusal of the head (a body of the wrong type: 415)
//   8. body       the budget for bodies in flight (503), then the form read as it streams
//   9. rights     with the route: the caller's rights on the centers the query or the
//      and route  statements name, in the refusal order 401, 400, 403, 412, 409, on a worker
//  10. answer     sent; the connection closes after anything but a bodiless GET or HEAD
//  11. log line   once per record, when the library completes the request or, if it never
//                 does, when the connection closes; the record is freed with it
//
// Each stage is a function over one Exchange, whose `stage` says where it stands. A shortcut
// may skip the cost of a stage (the argon2 check of remembered credentials), never the stage.
#include "http/Layer.h"
#include "text/AsciiCase.h"

#include <algorithm>
#include <charconv>

namespace tarvo::server::http {

namespace {

constexpr const char *kTextType = "text/plain; charset=utf-8";
// The page reads a handful of query parameters. The library stores every one in the
// connection's memory before any callback sees the head, and when they outgrow it, it neither
// answers nor completes the request: such a connection is cut at once instead of waiting for
// the idle time-out.
constexpr std::size_t kMaxQueryParameters = 64;

std::atomic<std::size_t> liveExchanges{0};

HttpAnswer refusal(int status, std::string text)
{
    return {status, kTextType, std::move(text), {}, {}};
}

HttpAnswer busy(std::string text, std::string detail)
{
    HttpAnswer answer = refusal(503, std::move(text));
    answer.headers.emplace_back("Retry-After", "1");
    answer.detail = std::move(detail);
    return answer;
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

bool carriesBody(const HttpRequest &request)
{
    const auto length = request.header("Content-Length");
    return request.header("Transfer-Encoding").has_value() || (length && *length != "0");
}

} // namespace

// Where a request stands on its path.
enum class Stage {
    Head,     // the request line has arrived; the rest of the head is on its way
    Checking, // suspended while its credentials are checked on the pool
    Body,     // admitted: its body, if any, streams in
    Working,  // suspended while a worker runs the route
    Answered, // its answer is queued
};

// One request from its first line to its log line.
struct Exchange
{
    Exchange() { ++liveExchanges; }
    ~Exchange() { --liveExchanges; }
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    Stage stage = Stage::Head;
    bool begun = false; // its head was complete: counted in `begun`
    bool tooManyParameters = false;
    HttpRequest request;
    Connection *connection = nullptr;
    Clock::time_point start = Clock::now();
    std::string loggedPath;
    const HttpRoute *route = nullptr;
    // Set off the polling thread before the connection resumes: the check's verdict, the
    // worker's answer.
    std::optional<std::variant<std::string, HttpAnswer>> checked;
    std::optional<HttpAnswer> answer;
    std::unique_ptr<FormReader> reader;
    bool readerRefused = false;
    std::size_t bodyBytes = 0;
    std::size_t reserved = 0;    // of the budget for bodies in flight
    std::uint64_t announced = 0; // its Content-Length
    int status = 0;              // 0: none of ours was sent
    ops::RequestNote note;
    std::string reason; // the answer's text when it refused
    std::string detail;
};

std::size_t liveRequestRecords()
{
    return liveExchanges.load();
}

Connection::Connection() = default;
Connection::~Connection() = default;

// 1. The request line: the record is made here, and only here, owned by its connection.
void *HttpServer::Impl::opened(void *cls, const char *uri, MHD_Connection *c)
{
    auto *self = static_cast<Impl *>(cls);
    const MHD_ConnectionInfo *context =
        MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    auto *connection =
        context != nullptr ? static_cast<Connection *>(context->socket_context) : nullptr;
    if (connection == nullptr) {
        return nullptr; // the handler then closes the connection unanswered
    }
    if (connection->exchange) {
        self->end(*connection->exchange, c, "dropped");
    }
    auto ex = std::make_unique<Exchange>();
    ex->connection = connection;
    ex->request.id = self->newId();
    ex->request.target = uri != nullptr ? uri : "";
    const std::size_t mark = ex->request.target.find('?');
    ex->request.path = ex->request.target.substr(0, mark);
    if (mark != std::string::npos) {
        ex->request.query = ex->request.target.substr(mark + 1);
    }
    ex->loggedPath = ex->request.path;
    ex->request.client = connection->peer;
    if (mark != std::string::npos &&
        static_cast<std::size_t>(std::count(ex->request.query.begin(), ex->request.query.end(),
                                            '&')) >= kMaxQueryParameters) {
        ex->tooManyParameters = true;
        ex->detail = "more than " + std::to_string(kMaxQueryParameters) +
                     " query parameters; connection closed";
        // The library may no longer read a connection whose memory its arguments took, so
        // it would notice the cut only at its idle time-out: that is shortened too.
        MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, 1U);
        const std::lock_guard lock(self->connectionsMutex);
        connection->cutSoon = true;
    }
    connection->exchange = std::move(ex);
    return connection->exchange.get();
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
    switch (ex->stage) {
    case Stage::Head:
        return self->headArrived(*ex, c, url, method, version);
    case Stage::Checking: {
        // Resumed once the check is done, still before any body byte was taken.
        auto verdict = std::move(*ex->checked);
        ex->checked.reset();
        if (auto *refused = std::get_if<HttpAnswer>(&verdict)) {
            return self->send(*ex, c, std::move(*refused));
        }
        ex->request.user = std::get<std::string>(std::move(verdict));
        const MHD_Result admitted = self->afterCredentials(*ex, c);
        if (admitted == MHD_YES && ex->stage == Stage::Body && *uploadSize > 0) {
            return self->bodyBytes(*ex, upload, uploadSize);
        }
        return admitted;
    }
    case Stage::Body:
        if (*uploadSize > 0) {
            return self->bodyBytes(*ex, upload, uploadSize);
        }
        if (ex->reader && !ex->readerRefused) {
            ex->reader->finish();
        }
        return self->dispatch(*ex, c);
    case Stage::Working:
        if (ex->answer) {
            HttpAnswer answer = std::move(*ex->answer);
            ex->answer.reset();
            return self->send(*ex, c, std::move(answer));
        }
        return MHD_YES;
    case Stage::Answered:
        return MHD_YES;
    }
    return MHD_NO;
}

// 1 to 6: the head, framing, admission, screen, throttle and credentials, in that order.
MHD_Result HttpServer::Impl::headArrived(Exchange &ex, MHD_Connection *c, const char *url,
                                         const char *method, const char *version)
{
    ex.begun = true;
    {
        const std::lock_guard lock(stateMutex);
        ++begun;
    }
    headDone(ex.connection);
    ex.request.method = method;
    ex.loggedPath = url; // decoded by the library: what the operator reads
    MHD_get_connection_values(
        c, MHD_HEADER_KIND,
        [](void *headers, MHD_ValueKind, const char *key, const char *value) {
            static_cast<std::vector<std::pair<std::string, std::string>> *>(headers)->emplace_back(
                key, value != nullptr ? value : "");
            return MHD_YES;
        },
        &ex.request.headers);

    if (ex.tooManyParameters) {
        return send(ex, c,
                    refusal(414, "Refused: more than " + std::to_string(kMaxQueryParameters) +
                                     " query parameters."));
    }
    // The library is not asked to refuse a head itself (a missing Host, a blank in the
    // target): its own refusals of a parsed head carry a doubled status line. They are
    // refused here instead.
    if (ex.request.target.find_first_of(" \t") != std::string::npos) {
        return send(ex, c, refusal(400, "Refused: the request target holds a blank."));
    }
    if (const auto fault = framingFault(version != nullptr ? version : "", ex.request.headers)) {
        return send(ex, c,
                    refusal(400, "Refused: the request's framing is ambiguous: " + *fault + "."));
    }

    if (!trustedProxies.empty()) {
        std::vector<std::string> forwarded;
        for (const auto &[key, value] : ex.request.headers) {
            if (text::equalsIgnoringCase(key, "X-Forwarded-For")) {
                forwarded.push_back(value);
            }
        }
        ex.request.client = forwardedClient(ex.request.client, forwarded, trustedProxies);
    }
    if (std::optional<HttpAnswer> refused = admitHead(ex)) {
        return send(ex, c, std::move(*refused));
    }

    if (!ex.route->signedIn || gate == nullptr) {
        return afterCredentials(ex, c);
    }
    if (std::optional<HttpAnswer> refused = gate->screen(ex.request)) {
        return send(ex, c, std::move(*refused));
    }
    if (std::optional<HttpAnswer> refused = gate->throttle(ex.request)) {
        return send(ex, c, std::move(*refused));
    }
    HttpSignIn signIn = gate->signIn(ex.request);
    switch (signIn.kind) {
    case HttpSignIn::Kind::Open:
    case HttpSignIn::Kind::Remembered:
        ex.request.user = std::move(signIn.user);
        return afterCredentials(ex, c);
    case HttpSignIn::Kind::NeedsCheck:
        return startCheck(ex, c, signIn);
    case HttpSignIn::Kind::Refused:
        break;
    }
    return send(ex, c, signIn.refusal ? std::move(*signIn.refusal) : refusal(401, "Refused."));
}

// 3. What the layer itself refuses of a head.
std::optional<HttpAnswer> HttpServer::Impl::admitHead(Exchange &ex)
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
        encoding && !text::equalsIgnoringCase(*encoding, "identity")) {
        return refusal(415, "Refused: a body with a Content-Encoding is not accepted.");
    }
    if (carriesBody(request) && !ex.route->form) {
        return refusal(400, "Refused: this request takes no body.");
    }
    std::uint64_t announced = 0;
    if (const auto length = request.header("Content-Length")) {
        const auto [end, error] =
            std::from_chars(length->data(), length->data() + length->size(), announced);
        if (error != std::errc() || announced > limits.bodyBytes) {
            HttpAnswer tooLarge =
                refusal(413, "Refused: the body is larger than " +
                                 std::to_string(limits.bodyBytes / kMiB) + " MiB.");
            tooLarge.note.refusal = ops::Refusal::Size;
            return tooLarge;
        }
    }
    ex.announced = announced;
    return std::nullopt;
}

// 6. The slow check, off the polling thread; a name's home address has a lane of its own.
MHD_Result HttpServer::Impl::startCheck(Exchange &ex, MHD_Connection *c, const HttpSignIn &signIn)
{
    if (stopping()) {
        return send(ex, c, refusal(503, "Refused: the server is stopping."));
    }
    ex.stage = Stage::Checking;
    const std::string homeKey = signIn.home ? ex.request.client + '\n' + signIn.user : "";
    const auto post = [this, &ex, &homeKey](std::function<void()> job) {
        return homeKey.empty() ? verifiers->post(ex.request.client, std::move(job))
                               : verifiers->postReserved(homeKey, std::move(job));
    };
    const bool queued = suspendFor(ex, c, true, post, [this, &ex] {
        try {
            ex.checked = gate->check(ex.request);
        } catch (const std::exception &error) {
            ex.checked = HttpAnswer{500, kTextType, {}, {}, error.what()};
        }
    });
    if (!queued) {
        return send(ex, c,
                    busy("Refused: too many logins are being checked; try again.",
                         "credential checks over their queue or this address's share"));
    }
    return MHD_YES;
}

// 7 and 8: the route's shape check, then the body's budget and reader.
MHD_Result HttpServer::Impl::afterCredentials(Exchange &ex, MHD_Connection *c)
{
    if (ex.route->admit) {
        if (std::optional<HttpAnswer> refused = ex.route->admit(ex.request)) {
            return send(ex, c, std::move(*refused));
        }
    }
    if (std::optional<HttpAnswer> refused = admitBody(ex, c)) {
        return send(ex, c, std::move(*refused));
    }
    ex.stage = Stage::Body;
    return MHD_YES;
}

std::optional<HttpAnswer> HttpServer::Impl::admitBody(Exchange &ex, MHD_Connection *c)
{
    if (!ex.route->form) {
        return std::nullopt;
    }
    if (!reserveBody(ex.announced)) {
        return busy("Refused: the server is busy; try again.",
                    "bodies in flight over the server's budget");
    }
    ex.reserved = ex.announced;
    ex.reader = FormReader::create(c, *ex.route->form);
    if (!ex.reader) {
        return refusal(400, "Refused: the body cannot be read.");
    }
    return std::nullopt;
}

bool HttpServer::Impl::reserveBody(std::size_t bytes)
{
    // Only the polling thread takes, so the count never passes the budget.
    if (bytes > limits.bodyBytesInFlight - bodiesInFlight.load()) {
        return false;
    }
    bodiesInFlight += bytes;
    return true;
}

// 8. Body bytes as they arrive.
MHD_Result HttpServer::Impl::bodyBytes(Exchange &ex, const char *upload, std::size_t *uploadSize)
{
    ex.bodyBytes += *uploadSize;
    if (ex.bodyBytes > limits.bodyBytes) {
        // Too late for an answer: the library sends none while the body is still coming.
        ex.status = 413;
        ex.note.refusal = ops::Refusal::Size;
        ex.detail = "body over the limit; connection closed";
        return MHD_NO;
    }
    if (ex.bodyBytes > ex.reserved) {
        // A body without a length is counted as it arrives.
        const std::size_t more = ex.bodyBytes - ex.reserved;
        if (!reserveBody(more)) {
            ex.status = 503;
            ex.detail = "bodies in flight over the server's budget; connection closed";
            return MHD_NO;
        }
        ex.reserved += more;
    }
    if (!ex.readerRefused && !ex.reader->feed(upload, *uploadSize)) {
        ex.readerRefused = true; // the rest is read, up to the limit, and dropped
    }
    *uploadSize = 0;
    return MHD_YES;
}

// 9. Rights and route, on a worker.
MHD_Result HttpServer::Impl::dispatch(Exchange &ex, MHD_Connection *c)
{
    if (stopping()) {
        return send(ex, c, refusal(503, "Refused: the server is stopping."));
    }
    ex.stage = Stage::Working;
    const auto post = [this](std::function<void()> job) { return workers->post(std::move(job)); };
    if (!suspendFor(ex, c, false, post, [this, &ex] { ex.answer = run(ex); })) {
        return send(ex, c, busy("Refused: the server is busy; try again.", {}));
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

bool HttpServer::Impl::stopping()
{
    const std::lock_guard lock(stateMutex);
    return stopRequested;
}

bool HttpServer::Impl::suspendFor(Exchange &ex, MHD_Connection *c, bool check,
                                  const std::function<bool(std::function<void()>)> &post,
                                  std::function<void()> job)
{
    {
        const std::lock_guard lock(stateMutex);
        ++suspended;
    }
    if (!check) {
        armDeadline(ex.connection, true);
    }
    // Suspended before the job can run, so that its resume never comes first.
    MHD_suspend_connection(c);
    const bool queued = post([this, c, job = std::move(job)] {
        job();
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
        MHD_resume_connection(c);
        const std::lock_guard lock(stateMutex);
        --suspended;
    }
    return queued;
}

// 10. The answer. Only a bodiless GET or HEAD leaves its connection open: a body this layer
// framed one way could have been framed another way by a proxy in front, so nothing after it
// on the same connection is read.
MHD_Result HttpServer::Impl::send(Exchange &ex, MHD_Connection *c, HttpAnswer answer)
{
    if (answer.status == 500) {
        answer.contentType = kTextType;
        answer.body = "Server error (request id " + ex.request.id + ").";
    }
    ex.stage = Stage::Answered;
    armDeadline(ex.connection, false);
    ex.status = answer.status;
    ex.note = std::move(answer.note);
    if (answer.status >= 400 && answer.status != 500) {
        ex.reason = answer.body.substr(0, 200);
    }
    ex.detail = std::move(answer.detail);
    const bool keepOpen = (ex.request.method == "GET" || ex.request.method == "HEAD") &&
                          !carriesBody(ex.request) && answer.status != 400 && !ex.tooManyParameters;
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
        if (!text::equalsIgnoringCase(name, MHD_HTTP_HEADER_CONNECTION)) {
            MHD_add_response_header(response, name.c_str(), value.c_str());
        }
    }
    if (!keepOpen) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    }
    const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

// 11. The library is done with the request.
void HttpServer::Impl::completed(void *cls, MHD_Connection *c, void **reqCls,
                                 MHD_RequestTerminationCode code)
{
    auto *self = static_cast<Impl *>(cls);
    auto *ex = static_cast<Exchange *>(*reqCls);
    *reqCls = nullptr;
    if (ex != nullptr) {
        self->end(*ex, c, endText(code));
    }
}

// 11. The log line, and the record freed: from the completion callback, or from the
// connection's close when the library dropped the request without completing it.
void HttpServer::Impl::end(Exchange &ex, MHD_Connection *c, const char *ending)
{
    if (finished) {
        ops::RequestRecord record;
        record.time = std::chrono::system_clock::now();
        record.id = ex.request.id;
        record.client = ex.request.client;
        record.method = ex.request.method;
        record.path = ex.loggedPath;
        record.note = ex.note;
        record.status = ex.status;
        if (record.status == 0 && c != nullptr) {
            if (const MHD_ConnectionInfo *info =
                    MHD_get_connection_info(c, MHD_CONNECTION_INFO_HTTP_STATUS)) {
                record.status = static_cast<int>(info->http_status);
            }
        }
        record.elapsed =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - ex.start);
        record.reason = ex.reason;
        record.detail = ex.detail;
        if (ending != nullptr) {
            record.ending = ending;
        }
        if (record.ending == "dropped" && record.detail.empty()) {
            record.detail = "the HTTP library closed the connection before the request's head "
                            "was complete (its head or query parameters outgrew the "
                            "connection's memory)";
        }
        finished(record);
    }
    bodiesInFlight -= ex.reserved;
    Connection *connection = ex.connection;
    if (ex.begun) {
        {
            const std::lock_guard lock(stateMutex);
            --begun;
        }
        changed.notify_all();
    }
    {
        const std::lock_guard lock(connectionsMutex);
        connection->working = false;
        connection->inHead = true;
        connection->headSince = Clock::now();
        connection->deadline = connection->headSince + limits.requestDeadline;
    }
    connection->exchange.reset(); // frees `ex`
}

} // namespace tarvo::server::http
