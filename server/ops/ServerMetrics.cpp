#include "ops/ServerMetrics.h"

#include "store/Store.h"

namespace tarvo::server::ops {

namespace {

constexpr int kFirstStatus = 100;
constexpr int kLastStatus = 599;

const std::vector<std::string> kMethods{"GET", "HEAD", "POST", "other"};

std::size_t methodIndex(std::string_view method)
{
    for (std::size_t i = 0; i + 1 < kMethods.size(); ++i) {
        if (method == kMethods[i]) {
            return i;
        }
    }
    return kMethods.size() - 1;
}

std::vector<std::string> statusValues()
{
    std::vector<std::string> values;
    for (int status = kFirstStatus; status <= kLastStatus; ++status) {
        values.push_back(std::to_string(status));
    }
    return values;
}

} // namespace

struct ServerMetrics::Private
{
    explicit Private(std::string version)
        : requests(registry.counter("centervendor_requests_total",
                                    "Requests answered, by method and status.",
                                    {{"method", kMethods}, {"status", statusValues()}},
                                    CounterFamily::Shown::OnceCounted)),
          durations(registry.histogram(
              "centervendor_request_duration_seconds",
              "Time from a request's first line to its answer, by method.", {"method", kMethods},
              {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10})),
          applied(registry.counter("centervendor_statements_applied_total",
                                   "Statements of committed batches, by action.",
                                   {{"action", {"add", "update", "remove"}}},
                                   CounterFamily::Shown::Always)),
          refused(registry.counter("centervendor_batches_refused_total",
                                   "Batches refused whole, nothing saved, by reason.",
                                   {{"reason", {"shape", "conflict", "rights", "size", "stale"}}},
                                   CounterFamily::Shown::Always))
    {
        registry.gauge("centervendor_build_info", "The running server's version.",
                       {{"version", std::move(version)}}, [] { return 1.0; });
    }

    MetricsRegistry registry;
    CounterFamily &requests;
    DurationHistogram &durations;
    CounterFamily &applied;
    CounterFamily &refused;
};

ServerMetrics::ServerMetrics(std::string version) : d(std::make_unique<Private>(std::move(version)))
{}

ServerMetrics::~ServerMetrics() = default;

void ServerMetrics::watchStore(store::Store &store)
{
    // A pool that is busy still reaches its database; only a failed round trip is down.
    d->registry.gauge(
        "centervendor_store_up", "1 while the database answers, else 0.", {}, [&store] {
            const store::StoreStatus status = store.ping().status;
            return status == store::StoreStatus::Ok || status == store::StoreStatus::Busy ? 1.0
                                                                                          : 0.0;
        });
    d->registry.gauge("centervendor_store_connections_open",
                      "Database connections this process holds.", {},
                      [&store] { return static_cast<double>(store.figures().open); });
    d->registry.gauge("centervendor_store_connections_in_use",
                      "Database connections leased to a request now.", {},
                      [&store] { return static_cast<double>(store.figures().inUse); });
}

void ServerMetrics::count(const RequestRecord &record)
{
    if (record.status >= kFirstStatus && record.status <= kLastStatus) {
        const std::size_t m = methodIndex(record.method);
        d->requests.add({m, static_cast<std::size_t>(record.status - kFirstStatus)});
        d->durations.observe(m, record.elapsed);
    }
    if (record.note.refusal) {
        d->refused.add({static_cast<std::size_t>(*record.note.refusal)});
    }
    for (std::size_t action = 0; action < record.note.applied.size(); ++action) {
        if (record.note.applied[action] > 0) {
            d->applied.add({action}, record.note.applied[action]);
        }
    }
}

std::string ServerMetrics::page() const
{
    return d->registry.page();
}

} // namespace tarvo::server::ops
