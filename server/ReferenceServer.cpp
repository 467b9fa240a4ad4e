// The page on the HTTP layer: a GET route for the three queries, a POST route for the batch,
// and the health check.
#include "ReferenceServer.h"

#include "CenterVendorPage.h"
#include "FormReader.h"
#include "Protocol.h"
#include "SampleData.h"
#include "auth/AccessGate.h"
#include "auth/TlsFiles.h"

#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace tarvo::server {

namespace {

constexpr const char *kPage = "/CenterVendor.asp";
constexpr const char *kHealth = "/healthz";

HttpAnswer httpAnswer(PageAnswer answer, const std::string &user = {})
{
    return {answer.status, std::move(answer.contentType), std::move(answer.body),
            "center=" + answer.center + " statements=" + std::to_string(answer.statements) +
                (user.empty() ? "" : " user=" + user),
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
               [this](const std::string &line) { writeLog(line); }),
          gate(std::make_unique<AccessGate>(AccessOptions{}, nullptr))
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
    std::unique_ptr<AccessGate> gate;
    std::string listenHost;
};

void ReferenceServer::Impl::install()
{
    http.setDefaultLogNote("center=- statements=0");
    HttpRoute query;
    query.admit = [this](const HttpRequest &request) { return gate->screen(request, false); };
    query.run = [this](const HttpRequest &request, BodyReader *) {
        auto caller = gate->identify(request);
        if (auto *refused = std::get_if<HttpAnswer>(&caller)) {
            return std::move(*refused);
        }
        const Caller &who = std::get<Caller>(caller);
        // The raw query, decoded here: "centerID=1 OR 2=2" is refused, never read as 2.
        std::vector<std::pair<std::string, std::string>> params;
        if (!parseQueryString(request.query, params)) {
            return httpAnswer({404, kTextType,
                               "Malformed query: a % is not followed by two hex digits.", "-",
                               0, {}},
                              who.user);
        }
        return httpAnswer(page.query(params, who), who.user);
    };
    http.route("GET", kPage, std::move(query));

    HttpRoute health;
    health.run = [this](const HttpRequest &, BodyReader *) { return httpAnswer(page.health()); };
    http.route("GET", kHealth, std::move(health));

    HttpRoute save;
    save.admit = [this](const HttpRequest &request) -> std::optional<HttpAnswer> {
        if (auto refused = gate->screen(request, true)) {
            return refused;
        }
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
    save.run = [this](const HttpRequest &request, BodyReader *reader) {
        auto caller = gate->identify(request);
        if (auto *refused = std::get_if<HttpAnswer>(&caller)) {
            return std::move(*refused);
        }
        const Caller &who = std::get<Caller>(caller);
        return httpAnswer(page.save(static_cast<FormReader *>(reader)->result(), who), who.user);
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

void ReferenceServer::setAccess(const AccessOptions &access)
{
    auto gate = std::make_unique<AccessGate>(
        access, [this](const std::string &line) { d->writeLog(line); });
    if (!access.tlsCert.empty()) {
        const TlsFiles tls = loadTlsFiles(access.tlsCert, access.tlsKey);
        if (!tls.ok) {
            throw std::runtime_error(tls.message);
        }
        d->http.setTls(tls.certificatePem, tls.keyPem);
    }
    gate->setListenHost(d->listenHost);
    d->gate = std::move(gate);
}

void ReferenceServer::reloadUsers()
{
    d->gate->reloadUsers();
}

std::optional<std::size_t> ReferenceServer::userCount() const
{
    return d->gate->userCount();
}

int ReferenceServer::bindToAnyPort(const std::string &host)
{
    d->listenHost = host;
    d->gate->setListenHost(host);
    return d->http.bindToAnyPort(host);
}

bool ReferenceServer::bindToPort(const std::string &host, int port)
{
    d->listenHost = host;
    d->gate->setListenHost(host);
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
