#include "support/TestHttpServer.h"

#include "support/TestCertificates.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <httplib.h>
#include <iterator>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tarvo::test {

namespace {

bool sameName(const std::string &a, const std::string &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// httplib adds these to the request headers itself; they were not sent by the client.
bool addedByServer(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

RecordedRequest record(const httplib::Request &req, std::string body)
{
    RecordedRequest r;
    r.method = req.method;
    r.path = req.path;
    r.target = req.target;
    if (const auto mark = req.target.find('?'); mark != std::string::npos)
        r.query = req.target.substr(mark + 1);
    r.body = std::move(body);
    for (const auto &[name, value] : req.headers) {
        if (!addedByServer(name))
            r.headers.emplace_back(name, value);
    }
    return r;
}

// A body with a known length goes out through a content provider: httplib compresses only
// bodies set as a whole, and only when the client sends Accept-Encoding.
void send(httplib::Response &res, const Answer &answer)
{
    res.status = answer.status;
    for (const auto &[name, value] : answer.headers)
        res.set_header(name, value);
    if (answer.body.empty()) {
        res.set_header("Content-Type", answer.contentType);
        return;
    }
    auto body = std::make_shared<const std::string>(answer.body);
    if (answer.byteGap.count() > 0) {
        res.set_chunked_content_provider(
            answer.contentType,
            [body, gap = answer.byteGap](std::size_t offset, httplib::DataSink &sink) {
                if (offset >= body->size()) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(gap);
                sink.write(body->data() + offset, 1);
                return true;
            });
        return;
    }
    res.set_content_provider(
        body->size(), answer.contentType,
        [body](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
            sink.write(body->data() + offset, length);
            return true;
        });
}

} // namespace

std::string basicAuthorization(const std::string &user, const std::string &password)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string plain = user + ":" + password;
    std::string out = "Basic ";
    for (std::size_t i = 0; i < plain.size(); i += 3) {
        std::uint32_t group = static_cast<unsigned char>(plain[i]) << 16;
        if (i + 1 < plain.size())
            group |= static_cast<unsigned char>(plain[i + 1]) << 8;
        if (i + 2 < plain.size())
            group |= static_cast<unsigned char>(plain[i + 2]);
        out += digits[(group >> 18) & 63];
        out += digits[(group >> 12) & 63];
        out += i + 1 < plain.size() ? digits[(group >> 6) & 63] : '=';
        out += i + 2 < plain.size() ? digits[group & 63] : '=';
    }
    return out;
}

std::string RecordedRequest::header(const std::string &name) const
{
    for (const auto &[key, value] : headers) {
        if (sameName(key, name))
            return value;
    }
    return {};
}

bool RecordedRequest::hasHeader(const std::string &name) const
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto &entry) { return sameName(entry.first, name); });
}

// The release count when the request being served was recorded, so that a release which comes
// between recording and stalling (a test sees the request recorded, then releases) still counts.
thread_local std::uint64_t releasesAtArrival = 0;

struct TestHttpServer::Impl
{
    std::unique_ptr<TestCertificates> certificates;
    std::unique_ptr<httplib::Server> server;
    std::string scheme;
    int port = 0;
    std::thread thread;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::map<std::pair<std::string, std::string>, Handler> routes;
    std::vector<RecordedRequest> recorded;
    std::size_t stalled = 0;
    std::uint64_t releases = 0;
    bool stopping = false;
    std::string requiredAuthorization;
    Answer refusal;

    void serve(RecordedRequest request, httplib::Response &res)
    {
        Handler handler;
        std::optional<Answer> refused;
        {
            std::lock_guard lock(mutex);
            recorded.push_back(request);
            releasesAtArrival = releases;
            const auto found = routes.find({request.method, request.path});
            if (found != routes.end())
                handler = found->second;
            if (!requiredAuthorization.empty() &&
                request.header("Authorization") != requiredAuthorization)
                refused = refusal;
        }
        changed.notify_all();
        if (refused) {
            send(res, *refused);
            return;
        }
        if (!handler) {
            send(res, text("no handler for " + request.method + " " + request.path, 404));
            return;
        }
        send(res, handler(request));
    }

    Handler stall(Answer after)
    {
        return [this, after = std::move(after)](const RecordedRequest &) {
            std::unique_lock lock(mutex);
            const std::uint64_t seen = releasesAtArrival;
            ++stalled;
            changed.notify_all();
            changed.wait(lock, [&] { return stopping || releases != seen; });
            --stalled;
            return after;
        };
    }
};

TestHttpServer::TestHttpServer(Scheme scheme) : m_impl(std::make_unique<Impl>())
{
    Impl &impl = *m_impl;
    if (scheme == Scheme::Https) {
        impl.certificates = std::make_unique<TestCertificates>();
        impl.server = std::make_unique<httplib::SSLServer>(impl.certificates->serverCertificate(),
                                                           impl.certificates->serverKey());
        impl.scheme = "https";
    } else {
        impl.server = std::make_unique<httplib::Server>();
        impl.scheme = "http";
    }
    if (!impl.server->is_valid())
        throw std::runtime_error("test server could not be set up");
    // Idle connections must not keep stop() waiting.
    impl.server->set_keep_alive_timeout(1);
    impl.server->Get(".*", [&impl](const httplib::Request &req, httplib::Response &res) {
        impl.serve(record(req, req.body), res);
    });
    // A content reader takes bodies of any size; without it httplib refuses a form-encoded
    // body over 8 KiB before any handler runs.
    impl.server->Post(".*", [&impl](const httplib::Request &req, httplib::Response &res,
                                    const httplib::ContentReader &reader) {
        std::string body;
        reader([&body](const char *data, std::size_t length) {
            body.append(data, length);
            return true;
        });
        impl.serve(record(req, std::move(body)), res);
    });
    impl.port = impl.server->bind_to_any_port("127.0.0.1");
    if (impl.port <= 0)
        throw std::runtime_error("test server could not bind a loopback port");
    impl.thread = std::thread([&impl] { impl.server->listen_after_bind(); });
    // stop() is ignored until the accept loop runs, so the destructor could otherwise miss it.
    // Connections are already queued by the kernel meanwhile; this only waits for the thread.
    while (!impl.server->is_running())
        std::this_thread::yield();
}

TestHttpServer::~TestHttpServer()
{
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->stopping = true;
    }
    m_impl->changed.notify_all();
    m_impl->server->stop();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

std::string TestHttpServer::url() const
{
    return m_impl->scheme + "://127.0.0.1:" + std::to_string(m_impl->port);
}

int TestHttpServer::port() const
{
    return m_impl->port;
}

std::string TestHttpServer::caFile() const
{
    return m_impl->certificates ? m_impl->certificates->caFile() : std::string();
}

void TestHttpServer::requireAuthorization(std::string authorization, Answer refusal)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->requiredAuthorization = std::move(authorization);
    m_impl->refusal = std::move(refusal);
}

void TestHttpServer::onGet(const std::string &path, Handler handler)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->routes[{"GET", path}] = std::move(handler);
}

void TestHttpServer::onPost(const std::string &path, Handler handler)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->routes[{"POST", path}] = std::move(handler);
}

void TestHttpServer::answerGet(const std::string &path, Answer answer)
{
    onGet(path, [answer = std::move(answer)](const RecordedRequest &) { return answer; });
}

void TestHttpServer::answerPost(const std::string &path, Answer answer)
{
    onPost(path, [answer = std::move(answer)](const RecordedRequest &) { return answer; });
}

Answer TestHttpServer::xml(std::string body, int status)
{
    return Answer{status, std::move(body), "text/xml; charset=utf-8", {}};
}

Answer TestHttpServer::text(std::string body, int status)
{
    return Answer{status, std::move(body), "text/plain; charset=utf-8", {}};
}

void TestHttpServer::stallGet(const std::string &path, Answer after)
{
    onGet(path, m_impl->stall(std::move(after)));
}

void TestHttpServer::stallPost(const std::string &path, Answer after)
{
    onPost(path, m_impl->stall(std::move(after)));
}

void TestHttpServer::releaseStalled()
{
    {
        std::lock_guard lock(m_impl->mutex);
        ++m_impl->releases;
    }
    m_impl->changed.notify_all();
}

std::size_t TestHttpServer::stalledCount() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->stalled;
}

std::vector<RecordedRequest> TestHttpServer::requests() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->recorded;
}

std::size_t TestHttpServer::requestCount() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->recorded.size();
}

std::vector<RecordedRequest> TestHttpServer::requestsTo(const std::string &path) const
{
    std::lock_guard lock(m_impl->mutex);
    std::vector<RecordedRequest> matching;
    std::copy_if(m_impl->recorded.begin(), m_impl->recorded.end(), std::back_inserter(matching),
                 [&](const RecordedRequest &r) { return r.path == path; });
    return matching;
}

void TestHttpServer::clearRequests()
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->recorded.clear();
}

bool TestHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, limit, [&] { return m_impl->recorded.size() >= count; });
}

RefusingPort::RefusingPort()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0)
        throw std::runtime_error("could not open a socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    // Bound but never listening: the kernel answers every connection attempt with a reset.
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(m_fd);
        throw std::runtime_error("could not bind a loopback port");
    }
    m_port = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort()
{
    ::close(m_fd);
}

std::string RefusingPort::url() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

} // namespace tarvo::test
