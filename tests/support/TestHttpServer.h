// A loopback HTTP server for tests: serves fixed or computed answers on 127.0.0.1 at a free
// port, over plain HTTP or over TLS with a certificate made for the run, records every request
// it receives, and can hold a request open until released so that time-outs and cancellation can
// be tested without sleeping. Answers are never compressed, whatever the client asks for.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::test {

// One request as it arrived.
struct RecordedRequest
{
    std::string method;
    std::string path;   // decoded path, without the query
    std::string query;  // the query text exactly as sent, without "?"
    std::string target; // the request target exactly as sent
    std::string body;   // raw bytes
    std::vector<std::pair<std::string, std::string>> headers;

    // First value of a header (name in any letter case), "" when absent.
    std::string header(const std::string &name) const;
    bool hasHeader(const std::string &name) const;
};

struct Answer
{
    int status = 200;
    std::string body;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    // When set, the body goes out one byte at a time with this pause before each.
    std::chrono::milliseconds byteGap{0};
};

// The Authorization header value of HTTP Basic for these credentials.
std::string basicAuthorization(const std::string &user, const std::string &password);

class TestHttpServer
{
public:
    using Handler = std::function<Answer(const RecordedRequest &)>;
    enum class Scheme { Http, Https };

    // Binds 127.0.0.1 at a free port and starts serving; throws std::runtime_error when it cannot.
    // Https serves with a fresh authority's certificate (see caFile).
    explicit TestHttpServer(Scheme scheme = Scheme::Http);
    // Releases every stalled request, stops the server and joins its threads.
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    // "http://127.0.0.1:PORT" (or https), no trailing slash.
    std::string url() const;
    int port() const;
    // PEM file of the authority that signed an Https server's certificate; "" for Http.
    std::string caFile() const;

    // From now on every request whose Authorization header is not exactly `authorization` is
    // recorded and answered with `refusal` instead of its handler.
    void requireAuthorization(std::string authorization, Answer refusal);

    // Handlers are matched by exact path (without the query); a path without one answers 404.
    // They run on server threads and may be set at any time.
    void onGet(const std::string &path, Handler handler);
    void onPost(const std::string &path, Handler handler);
    void answerGet(const std::string &path, Answer answer);
    void answerPost(const std::string &path, Answer answer);
    static Answer xml(std::string body, int status = 200);
    static Answer text(std::string body, int status = 200);

    // The request is recorded, then held open until releaseStalled() or the server stops; then
    // `after` is sent (the client may have given up by then).
    void stallGet(const std::string &path, Answer after = {});
    void stallPost(const std::string &path, Answer after = {});
    void releaseStalled();
    std::size_t stalledCount() const;

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    // Requests for one path, in arrival order.
    std::vector<RecordedRequest> requestsTo(const std::string &path) const;
    void clearRequests();
    // Waits until at least `count` requests have been recorded; false on time-out.
    bool waitForRequests(std::size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A loopback port that is bound but not listening, so every connection to it is refused at once.
class RefusingPort
{
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;

    std::string url() const;

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace tarvo::test
