// The server's own metrics: what an operator watches on /metrics.
#pragma once

#include "ops/Metrics.h"
#include "ops/RequestLog.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarvo::server::store {
class Store;
} // namespace tarvo::server::store

namespace tarvo::server::ops {

class ServerMetrics
{
public:
    // `version` goes into centervendor_build_info.
    explicit ServerMetrics(std::string version);
    ~ServerMetrics();
    ServerMetrics(const ServerMetrics &) = delete;
    ServerMetrics &operator=(const ServerMetrics &) = delete;

    // Adds the store's gauges (up, connections open and in use), read at every scrape: up is
    // one round trip to the database. Call once, before the page is shared.
    void watchStore(store::Store &store);

    // A finished request: its status and time, and what its note says was refused or
    // applied. A method other than GET, HEAD or POST counts as "other"; a request that got no
    // answer (status outside 100..599) is not among the requests.
    void count(const RequestRecord &record);

    // The exposition page.
    std::string page() const;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server::ops
