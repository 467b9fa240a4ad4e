// The checks in front of the page that need no password: which Host and Origin a request may
// name, which centers a batch touches, and how often one address may fail to log in.
#pragma once

#include "auth/Users.h"
#include "statement/Statement.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvo::server::auth {

// True without `serverNames`, without a Host header, or when the header's host (its port and
// one trailing dot left aside, letters in any case) is the listen address or one of the
// names (each also without its port).
bool hostAllowed(std::optional<std::string_view> host, std::string_view listenHost,
                 const std::vector<std::string> &serverNames);

// True without an Origin header, or when it is one of `allowed` (scheme and host in any
// letter case, a trailing "/" left aside). "null" is an origin like any other: refused
// unless listed.
bool originAllowed(std::optional<std::string_view> origin, const std::vector<std::string> &allowed);

// The first center a statement of the batch names that `rights` exclude; nullopt when every
// statement is allowed.
std::optional<std::int64_t> forbiddenCenter(const std::vector<statement::Statement> &statements,
                                            const CenterRights &rights);

// Counts failed logins per key (a client address, a user name): once `limit` failures fall
// within `window`, the key is refused until the window that began with its first failure has
// passed. A check is charged before it runs and refunded when it succeeds, so that checks
// running at once can never pass the limit.
class FailureThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    explicit FailureThrottle(std::size_t limit = 10,
                             std::chrono::seconds window = std::chrono::seconds(60),
                             std::size_t addresses = 100000);

    // Zero when `address` may try now; otherwise how long until it may (at least 1 s).
    std::chrono::seconds retryAfter(const std::string &address, Clock::time_point now);
    void recordFailure(const std::string &address, Clock::time_point now);
    // Counts a failure unless the key is refused already: false then, nothing counted.
    bool charge(const std::string &key, Clock::time_point now);
    // Takes back a charge whose check succeeded.
    void refund(const std::string &key, Clock::time_point now);
    // Forgets every failure: how an operator lifts a lock (a reload of the server).
    void clear();

private:
    struct Window
    {
        Clock::time_point start;
        std::size_t failures = 0;
    };

    std::size_t m_limit;
    Clock::duration m_window;
    std::size_t m_addresses; // remembered at most; expired windows go first
    std::mutex m_mutex;
    std::unordered_map<std::string, Window> m_windows;
};

} // namespace tarvo::server::auth
