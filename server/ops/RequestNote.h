// What a route says about its request for the log and the metrics, beside its answer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvo::server::ops {

// Why a batch was refused whole; each is a value of the metrics' `reason` label.
enum class Refusal {
    Shape,    // not a form of the accepted statements: malformed, no SQL field, other shape
    Conflict, // the database holds something else than the batch expects
    Rights,   // the user may not change that center
    Size,     // too many statements or too large a body
    Stale,    // If-Match named a version the center has moved on from
};

enum class StatementAction { Add, Update, Remove };

struct RequestNote
{
    std::string center{}; // a center id or "several"; empty: none
    std::string user{};   // the authenticated user; empty: none
    std::size_t statements = 0;
    std::optional<Refusal> refusal{};
    std::array<std::uint64_t, 3> applied{}; // statements committed, by StatementAction
    bool committing = false; // let through the server's commit gate, which awaits the answer
};

} // namespace tarvo::server::ops
