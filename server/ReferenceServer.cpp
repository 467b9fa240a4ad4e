// The page on the HTTP layer: a GET route for the three queries, a POST route for the batch,
// and the health check; the request log and the metrics; and the metrics listener, an HTTP
// layer of its own so that scrapes never wait behind the page's requests.
#include "ReferenceServer.h"

#include "AccessGate.h"
#include "SampleData.h"
#include "Version.h"
#include "auth/TlsFiles.h"
#include "ops/CommitGate.h"
#include "ops/ServerMetrics.h"
#include "page/CenterVendorPage.h"
#include "page/Protocol.h"
#include "protocol/Wire.h"

#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tarvo::server {

namespace {

constexpr const char *kHealth = "/healthz";
constexpr const char *kMetrics = "/metrics";
// Once the grace has run out, how long a commit already under way may take to finish and
// answer.
constexpr std::chrono::seconds kCommitsUnderWay(10);

http::HttpAnswer httpAnswer(page::PageAnswer answer, const std::string &user = {})
{
    answer.note.user = user;
    return {answer.status,          std::move(answer.contentType), std::move(answer.body),
            std::move(answer.note), std::move(answer.detail),      std::move(answer.headers)};
}

// The values of every header line of that name joined, as one list.
std::optional<std::string> listHeader(const http::HttpRequest &request, std::string_view name)
{
    std::optional<std::string> joined;
    for (const auto &[key, value] : request.headers) {
        if (text::equalsIgnoringCase(key, name)) {
            joined = joined ? *joined + ", " + value : value;
        }
    }
    return joined;
}

page::Conditions conditionsOf(const http::HttpRequest &request)
{
    return {listHeader(request, protocol::header::kIfMatch),
            listHeader(request, protocol::header::kIfNoneMatch)};
}

// Scrapes are few and come from a few monitoring hosts.
http::HttpLimits metricsLimits()
{
    http::HttpLimits limits;
    limits.connections = 16;
    limits.connectionsPerAddress = 8;
    limits.bodyBytes = 0;
    limits.workers = 1;
    limits.pendingWork = 16;
    limits.shutdownGrace = std::chrono::seconds(1);
    return limits;
}

// More workers than connections would only wait for the store's pool.
http::HttpLimits oneWorkerPerConnection(http::HttpLimits limits, const store::StoreOptions &options)
{
    limits.workers = static_cast<unsigned>(options.connections);
    return limits;
}

// A missing Content-Type counts as a form, as the control's transfer may leave it out.
bool isFormBody(const http::HttpRequest &request)
{
    const auto header = request.header("Content-Type");
    if (!header) {
        return true;
    }
    std::string_view type = header->substr(0, header->find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) {
        type.remove_suffix(1);
    }
    return text::equalsIgnoringCase(type, "application/x-www-form-urlencoded");
}

// The SQL fields of a form body, in the page's terms.
page::FormParse formParse(const http::HttpForm &form)
{
    page::FormParse parse;
    parse.statements = form.values;
    switch (form.status) {
    case http::HttpForm::Status::Ok:
        break;
    case http::HttpForm::Status::Malformed:
        parse.status = page::FormParse::Status::Malformed;
        parse.message = form.message;
        break;
    case http::HttpForm::Status::TooManyFields:
        parse.status = page::FormParse::Status::TooManyStatements;
        parse.message =
            "more than " + std::to_string(page::kMaxStatements) + " statements in one request";
        break;
    }
    return parse;
}

} // namespace

struct ReferenceServer::Impl
{
    Impl(const std::string &location, const store::StoreOptions &options,
         const http::HttpLimits &limits)
        : store(store::Store::open(location, withNotices(options))), page(*store),
          metrics(version::text),
          http(oneWorkerPerConnection(limits, options),
               [this](const ops::RequestRecord &record) { finished(record); }),
          metricsHttp(metricsLimits(), nullptr),
          access(std::make_unique<AccessGate>(AccessOptions{}, nullptr))
    {
        metrics.watchStore(*store);
    }

    void finished(const ops::RequestRecord &record)
    {
        if (record.note.committing) {
            gate.answered();
        }
        metrics.count(record);
        const std::lock_guard lock(logMutex);
        writeLine(ops::formatLogLine(record, logFormat));
    }

    // A notice among the request log's lines (the users file read again), in its format.
    void notice(const std::string &text)
    {
        const std::lock_guard lock(logMutex);
        writeLine(ops::formatNotice(text, logFormat));
    }

    // The database's notices go into the log too, unless the caller takes them.
    store::StoreOptions withNotices(store::StoreOptions options)
    {
        if (!options.notice) {
            options.notice = [this](const std::string &text) { notice(text); };
        }
        return options;
    }

    // Under logMutex.
    void writeLine(const std::string &line)
    {
        if (logSink) {
            logSink(line);
        } else {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    }

    void install();

    // Before the store, whose first connection may already have a notice to log.
    std::mutex logMutex;
    std::function<void(const std::string &)> logSink;
    ops::LogFormat logFormat = ops::LogFormat::Text;
    std::unique_ptr<store::Store> store;
    page::CenterVendorPage page;
    ops::ServerMetrics metrics;
    ops::CommitGate gate;
    http::HttpServer http;
    http::HttpServer metricsHttp;
    bool metricsBound = false;
    std::unique_ptr<AccessGate> access;
    std::string listenHost;
};

void ReferenceServer::Impl::install()
{
    http.setGate(access.get());
    http::HttpRoute query;
    query.run = [this](const http::HttpRequest &request, const http::HttpForm &) {
        auto caller = access->caller(request);
        if (auto *refused = std::get_if<http::HttpAnswer>(&caller)) {
            return std::move(*refused);
        }
        const auth::Caller &who = std::get<auth::Caller>(caller);
        // The raw query, decoded here: "centerID=1 OR 2=2" is refused, never read as 2.
        std::vector<std::pair<std::string, std::string>> params;
        if (!page::parseQueryString(request.query, params)) {
            return httpAnswer({404,
                               page::kTextType,
                               "Malformed query: a % is not followed by two hex digits.",
                               {},
                               {}},
                              who.user);
        }
        return httpAnswer(page.query(params, who, conditionsOf(request)), who.user);
    };
    http.route("GET", std::string(protocol::kPage), query);

    http::HttpRoute health;
    health.signedIn = false; // load balancers check it without credentials
    health.run = [this](const http::HttpRequest &, const http::HttpForm &) {
        return httpAnswer(page.health());
    };
    http.route("GET", kHealth, std::move(health));

    http::HttpRoute save;
    save.admit = [](const http::HttpRequest &request) -> std::optional<http::HttpAnswer> {
        if (!isFormBody(request)) {
            http::HttpAnswer refused{415,
                                     page::kTextType,
                                     "Nothing was saved: the body must be "
                                     "application/x-www-form-urlencoded.",
                                     {},
                                     {}};
            refused.note.refusal = ops::Refusal::Shape;
            return refused;
        }
        return std::nullopt;
    };
    save.form = http::FormFields{"SQL", page::kMaxStatements};
    save.run = [this](const http::HttpRequest &request, const http::HttpForm &form) {
        auto caller = access->caller(request);
        if (auto *refused = std::get_if<http::HttpAnswer>(&caller)) {
            return std::move(*refused);
        }
        const auth::Caller &who = std::get<auth::Caller>(caller);
        bool through = false;
        page::PageAnswer answer = page.save(
            formParse(form), who,
            [this, &through] {
                through = through || gate.pass();
                return through;
            },
            conditionsOf(request));
        answer.note.committing = through;
        return httpAnswer(std::move(answer), who.user);
    };
    http.route("POST", std::string(protocol::kPage), std::move(save));
    // A commit let through finishes and is answered; the others are rolled back when they
    // reach the gate, or with the process.
    http.onGraceEnd([this] { gate.close(kCommitsUnderWay); });

    http::HttpRoute scrape;
    scrape.signedIn = false; // a listener of its own, for the monitoring hosts
    scrape.run = [this](const http::HttpRequest &, const http::HttpForm &) {
        return http::HttpAnswer{200, ops::kExpositionType, metrics.page(), {}, {}};
    };
    metricsHttp.route("GET", kMetrics, std::move(scrape));
}

ReferenceServer::ReferenceServer(const std::string &location, const store::StoreOptions &options,
                                 const http::HttpLimits &limits)
    : d(std::make_unique<Impl>(location, options, limits))
{
    d->install();
}

ReferenceServer::~ReferenceServer()
{
    stop();
}

store::FillResult ReferenceServer::fillSample()
{
    return d->store->fill(makeSampleData(), store::Store::FillMode::OnlyWhenEmpty);
}

void ReferenceServer::setLogSink(std::function<void(const std::string &)> sink)
{
    const std::lock_guard lock(d->logMutex);
    d->logSink = std::move(sink);
}

void ReferenceServer::setAccess(const AccessOptions &access)
{
    auto gate =
        std::make_unique<AccessGate>(access, [this](const std::string &line) { d->notice(line); });
    if (!access.tlsCert.empty()) {
        const auth::TlsFiles tls = auth::loadTlsFiles(access.tlsCert, access.tlsKey);
        if (!tls.ok) {
            throw std::runtime_error(tls.message);
        }
        for (const std::string &warning : tls.warnings) {
            d->notice(warning);
        }
        d->http.setTls(tls.certificatePem, tls.keyPem, access.tlsPriorities);
    }
    d->http.setTrustedProxies(access.trustedProxies);
    gate->setListenHost(d->listenHost);
    d->http.setGate(gate.get());
    d->access = std::move(gate);
}

void ReferenceServer::notice(const std::string &text)
{
    d->notice(text);
}

void ReferenceServer::reloadUsers()
{
    d->access->reloadUsers();
}

std::optional<std::size_t> ReferenceServer::userCount() const
{
    return d->access->userCount();
}

void ReferenceServer::setLogFormat(ops::LogFormat format)
{
    const std::lock_guard lock(d->logMutex);
    d->logFormat = format;
}

int ReferenceServer::bindMetrics(const std::string &host, int port)
{
    const int bound = port == 0 ? d->metricsHttp.bindToAnyPort(host)
                                : (d->metricsHttp.bindToPort(host, port) ? port : -1);
    d->metricsBound = d->metricsBound || bound >= 0;
    return bound;
}

std::string ReferenceServer::metricsPage() const
{
    return d->metrics.page();
}

int ReferenceServer::bindToAnyPort(const std::string &host)
{
    d->listenHost = host;
    d->access->setListenHost(host);
    return d->http.bindToAnyPort(host);
}

bool ReferenceServer::bindToPort(const std::string &host, int port)
{
    d->listenHost = host;
    d->access->setListenHost(host);
    return d->http.bindToPort(host, port);
}

bool ReferenceServer::listenAfterBind()
{
    std::thread scrapes;
    if (d->metricsBound) {
        scrapes = std::thread([this] { d->metricsHttp.serve(); });
    }
    const bool served = d->http.serve();
    // Scrapes go on through the drain, so that an operator can watch it.
    d->metricsHttp.stop();
    if (scrapes.joinable()) {
        scrapes.join();
    }
    return served;
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

std::size_t ReferenceServer::requestsUnderWay() const
{
    return d->http.requestsUnderWay();
}

bool ReferenceServer::drained() const
{
    return d->http.drained();
}

} // namespace tarvo::server
