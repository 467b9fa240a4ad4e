// The page on the HTTP layer: a GET route for the three queries, a POST route for the batch,
// and the health check.
#include "ReferenceServer.h"

#include "CenterVendorPage.h"
#include "FormReader.h"
#include "Protocol.h"
#include "SampleData.h"

#include <cstdio>
#include <mutex>

namespace tarvo::server {

namespace {

constexpr const char *kPage = "/CenterVendor.asp";
constexpr const char *kHealth = "/healthz";

HttpAnswer httpAnswer(PageAnswer answer)
{
    return {answer.status, std::move(answer.contentType), std::move(answer.body),
            "center=" + answer.center + " statements=" + std::to_string(answer.statements),
            std::move(answer.detail)};
}

// More workers than connections would only wait for the store's pool.
HttpLimits oneWorkerPerConnection(HttpLimits limits, const StoreOptions &options)
{
    limits.workers = static_cast<unsigned>(options.connections);
    return limits;
}

// A missing Content-Type counts as a form, as the control's transfer may leave it out.
bool isFormBody(const HttpRequest &request)
{
    const auto header = request.header("Content-Type");
    if (!header) {
        return true;
    }
    std::string_view type = header->substr(0, header->find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) {
        type.remove_suffix(1);
    }
    return equalsIgnoringCase(type, "application/x-www-form-urlencoded");
}

} // namespace

struct ReferenceServer::Impl
{
    Impl(const std::string &location, const StoreOptions &options, const HttpLimits &limits)
        : store(Store::open(location, options)), page(*store),
          http(oneWorkerPerConnection(limits, options),
               [this](const std::string &line) { writeLog(line); })
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

    std::unique_ptr<Store> store;
    CenterVendorPage page;
    std::mutex logMutex;
    std::function<void(const std::string &)> logSink;
    HttpServer http;
};

void ReferenceServer::Impl::install()
{
    http.setDefaultLogNote("center=- statements=0");
    HttpRoute query;
    query.run = [this](const HttpRequest &request, BodyReader *) {
        // The raw query, decoded here: "centerID=1 OR 2=2" is refused, never read as 2.
        std::vector<std::pair<std::string, std::string>> params;
        if (!parseQueryString(request.query, params)) {
            return httpAnswer({404, kTextType,
                               "Malformed query: a % is not followed by two hex digits.", "-",
                               0, {}});
        }
        return httpAnswer(page.query(params));
    };
    http.route("GET", kPage, std::move(query));

    HttpRoute health;
    health.run = [this](const HttpRequest &, BodyReader *) { return httpAnswer(page.health()); };
    http.route("GET", kHealth, std::move(health));

    HttpRoute save;
    save.admit = [](const HttpRequest &request) -> std::optional<HttpAnswer> {
        if (!isFormBody(request)) {
            return httpAnswer({415, kTextType,
                               "Nothing was saved: the body must be "
                               "application/x-www-form-urlencoded.",
                               "-", 0, {}});
        }
        return std::nullopt;
    };
    save.body = [](const HttpRequest &, MHD_Connection *connection) {
        return std::unique_ptr<BodyReader>(FormReader::create(connection));
    };
    save.run = [this](const HttpRequest &, BodyReader *reader) {
        return httpAnswer(page.save(static_cast<FormReader *>(reader)->result()));
    };
    http.route("POST", kPage, std::move(save));
}

ReferenceServer::ReferenceServer(const std::string &location, const StoreOptions &options,
                                 const HttpLimits &limits)
    : d(std::make_unique<Impl>(location, options, limits))
{
    d->install();
}

ReferenceServer::~ReferenceServer()
{
    stop();
}

FillResult ReferenceServer::fillSample()
{
    return d->store->fill(makeSampleData(), Store::FillMode::OnlyWhenEmpty);
}

void ReferenceServer::setLogSink(std::function<void(const std::string &)> sink)
{
    const std::lock_guard lock(d->logMutex);
    d->logSink = std::move(sink);
}

int ReferenceServer::bindToAnyPort(const std::string &host)
{
    return d->http.bindToAnyPort(host);
}

bool ReferenceServer::bindToPort(const std::string &host, int port)
{
    return d->http.bindToPort(host, port);
}

bool ReferenceServer::listenAfterBind()
{
    return d->http.serve();
}

bool ReferenceServer::listen(const std::string &host, int port)
{
    return bindToPort(host, port) && listenAfterBind();
}

void ReferenceServer::stop()
{
    d->http.stop();
}

bool ReferenceServer::isRunning() const
{
    return d->http.isRunning();
}

} // namespace tarvo::server
