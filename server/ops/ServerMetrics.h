// The server's own metrics: what an operator watches on /metrics.
#pragma once

#include "ops/Metrics.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarvo::server {

class Store;

// Why a batch was refused whole; each is a value of the `reason` label.
enum class Refusal {
    Shape,    // not a form of the accepted statements: malformed, no SQL field, other shape
    Conflict, // the database holds something else than the batch expects
    Rights,   // the user may not change that center
    Size,     // too many statements or too large a body
};

enum class StatementAction { Add, Update, Remove };

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
    void watchStore(Store &store);

    // An answered request. A method other than GET, HEAD or POST counts as "other"; a status
    // outside 100..599 (no answer was sent) is not counted.
    void countRequest(std::string_view method, int status, std::chrono::nanoseconds elapsed);
    void countApplied(StatementAction action, std::uint64_t statements);
    void countRefused(Refusal reason);

    // The exposition page.
    std::string page() const;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server
