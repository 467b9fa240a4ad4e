// HTTP wiring of the page. Two traps of the HTTP library shape it: a form body over 8 KiB is
// refused before a plain handler runs, so the POST handler reads the body itself; and a text
// body is compressed whenever the client offers an encoding, so every answer goes out
// through a content provider of fixed length, which the library sends as it is.
#include "ReferenceServer.h"

#include "CenterVendorPage.h"
#include "Protocol.h"
#include "SampleData.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <httplib.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>

namespace tarvo::server {

namespace {

constexpr const char *kPage = "/CenterVendor.asp";
constexpr const char *kHealth = "/healthz";
constexpr std::size_t kMaxLoggedPath = 200;

// What the request log line needs from the handler of the request that the current worker
// thread is serving.
struct RequestTrace
{
    bool active = false;
    std::chrono::steady_clock::time_point start;
    std::string center = "-";
    std::size_t statements = 0;
};

thread_local RequestTrace t_trace;

void respond(httplib::Response &res, int status, const std::string &contentType, std::string body)
{
    res.status = status;
    if (body.empty()) {
        res.set_content(std::string(), contentType);
        return;
    }
    auto shared = std::make_shared<const std::string>(std::move(body));
    res.set_content_provider(
        shared->size(), contentType,
        [shared](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
            return sink.write(shared->data() + offset, length);
        });
}

// Takes the answer by value: a list answer runs to megabytes and is moved, never copied.
void respond(httplib::Response &res, PageAnswer answer)
{
    t_trace.center = answer.center;
    t_trace.statements = answer.statements;
    respond(res, answer.status, answer.contentType, std::move(answer.body));
}

// A path is attacker-chosen text and arrives percent-decoded: keep the log one line.
std::string loggable(const std::string &path)
{
    std::string out = path.substr(0, kMaxLoggedPath);
    for (char &c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    if (path.size() > kMaxLoggedPath) {
        out += "...";
    }
    return out;
}

bool isFormBody(const httplib::Request &req)
{
    if (!req.has_header("Content-Type")) {
        return true;
    }
    std::string type = req.get_header_value("Content-Type");
    type = type.substr(0, type.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) {
        type.pop_back();
    }
    for (char &c : type) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return type == "application/x-www-form-urlencoded";
}

} // namespace

struct ReferenceServer::Impl
{
    Impl(const std::string &location, const StoreOptions &options)
        : store(Store::open(location, options)), page(*store)
    {}

    void writeLog(const std::string &line)
    {
        const std::lock_guard lock(logMutex);
        if (logSink) {
            logSink(line);
        } else {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    }

    void install();
    void save(const httplib::Request &req, httplib::Response &res,
              const httplib::ContentReader &reader);
    void logRequest(const httplib::Request &req, const httplib::Response &res);

    std::unique_ptr<Store> store;
    CenterVendorPage page;
    httplib::Server http;
    std::mutex logMutex;
    std::function<void(const std::string &)> logSink;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> listening{false};
};

void ReferenceServer::Impl::install()
{
    http.set_payload_max_length(kMaxBodyBytes);
    // The library's default also sets SO_REUSEPORT, which would let a second server bind the
    // same port and silently take part of the requests. Address reuse alone still allows a
    // quick restart.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.set_keep_alive_timeout(2);
    http.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
        t_trace = RequestTrace{true, std::chrono::steady_clock::now(), "-", 0};
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.Get(kPage, [this](const httplib::Request &req, httplib::Response &res) {
        // The library's own query parsing keeps only the text after the last "=" of a pair;
        // the page reads the raw query so that "centerID=1 OR 2=2" is refused, not read as 2.
        const std::size_t mark = req.target.find('?');
        const std::string_view query = mark == std::string::npos
                                           ? std::string_view()
                                           : std::string_view(req.target).substr(mark + 1);
        std::vector<std::pair<std::string, std::string>> params;
        if (!parseQueryString(query, params)) {
            respond(res, 404, kTextType, "Malformed query: a % is not followed by two hex digits.");
            return;
        }
        respond(res, page.query(params));
    });
    http.Get(kHealth, [this](const httplib::Request &, httplib::Response &res) {
        respond(res, page.health());
    });
    http.Post(kPage, [this](const httplib::Request &req, httplib::Response &res,
                            const httplib::ContentReader &reader) { save(req, res, reader); });
    // Gives the library's own error answers (unknown path, bad request line) a short text.
    http.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &res) {
            if (!res.body.empty() || res.content_provider_) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            respond(res, res.status, kTextType, res.status == 404 ? "Not found." : "Refused.");
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr error) {
            std::string what = "unknown failure";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception &e) {
                what = e.what();
            } catch (...) {
            }
            respond(res, 500, kTextType, "Server error: " + what);
        });
    http.set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        logRequest(req, res);
    });
}

void ReferenceServer::Impl::save(const httplib::Request &req, httplib::Response &res,
                                 const httplib::ContentReader &reader)
{
    if (req.is_multipart_form_data() || !isFormBody(req)) {
        respond(res, 415, kTextType,
                "Nothing was saved: the body must be application/x-www-form-urlencoded.");
        return;
    }
    std::string body;
    bool tooLarge = false;
    const bool read = reader([&body, &tooLarge](const char *data, std::size_t length) {
        if (body.size() + length > kMaxBodyBytes) {
            tooLarge = true;
            return false;
        }
        body.append(data, length);
        return true;
    });
    if (tooLarge || res.status == 413) {
        respond(res, 413, kTextType, "Nothing was saved: the body is larger than 16 MiB.");
        return;
    }
    if (!read) {
        const int status = res.status >= 400 ? res.status : 400;
        respond(res, status, kTextType, "Nothing was saved: the body could not be read.");
        return;
    }
    respond(res, page.save(body));
}

void ReferenceServer::Impl::logRequest(const httplib::Request &req, const httplib::Response &res)
{
    std::string line = loggable(req.method) + " " + loggable(req.path);
    std::string elapsed = "-";
    if (t_trace.active) {
        const std::chrono::duration<double, std::milli> ms =
            std::chrono::steady_clock::now() - t_trace.start;
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.1f", ms.count());
        elapsed = buffer;
        line += " center=" + t_trace.center + " statements=" + std::to_string(t_trace.statements);
    } else {
        line += " center=- statements=0";
    }
    line += " status=" + std::to_string(res.status) + " " + elapsed + " ms";
    t_trace.active = false;
    writeLog(line);
}

ReferenceServer::ReferenceServer(const std::string &location, const StoreOptions &options)
    : m_impl(std::make_unique<Impl>(location, options))
{
    m_impl->install();
}

ReferenceServer::~ReferenceServer()
{
    stop();
}

FillResult ReferenceServer::fillSample()
{
    return m_impl->store->fill(makeSampleData(), Store::FillMode::OnlyWhenEmpty);
}

void ReferenceServer::setLogSink(std::function<void(const std::string &)> sink)
{
    const std::lock_guard lock(m_impl->logMutex);
    m_impl->logSink = std::move(sink);
}

int ReferenceServer::bindToAnyPort(const std::string &host)
{
    return m_impl->http.bind_to_any_port(host);
}

bool ReferenceServer::bindToPort(const std::string &host, int port)
{
    return m_impl->http.bind_to_port(host, port);
}

bool ReferenceServer::listenAfterBind()
{
    // Paired with stop(): whichever of the two stores comes second sees the other, so a stop
    // never slips in between the check and the start of serving unnoticed.
    m_impl->listening = true;
    if (m_impl->stopRequested) {
        m_impl->listening = false;
        return false;
    }
    const bool served = m_impl->http.listen_after_bind();
    m_impl->listening = false;
    return served;
}

bool ReferenceServer::listen(const std::string &host, int port)
{
    return bindToPort(host, port) && listenAfterBind();
}

void ReferenceServer::stop()
{
    if (m_impl->stopRequested.exchange(true)) {
        return;
    }
    // The library ignores a stop that comes before its accept loop has started.
    while (m_impl->listening && !m_impl->http.is_running()) {
        std::this_thread::yield();
    }
    m_impl->http.stop();
}

bool ReferenceServer::isRunning() const
{
    return m_impl->http.is_running();
}

} // namespace tarvo::server
