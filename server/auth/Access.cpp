#include "auth/Access.h"

#include "text/AsciiCase.h"

#include <algorithm>
#include <type_traits>

namespace tarvo::server::auth {

namespace {

// "name", "name:port", "[v6]:port" or "[v6]" without the port, the brackets and a trailing
// dot.
std::string_view hostPart(std::string_view authority)
{
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        return close == std::string_view::npos ? authority : authority.substr(1, close - 1);
    }
    if (std::count(authority.begin(), authority.end(), ':') == 1) {
        authority = authority.substr(0, authority.find(':'));
    }
    if (!authority.empty() && authority.back() == '.') {
        authority.remove_suffix(1);
    }
    return authority;
}

} // namespace

bool hostAllowed(std::optional<std::string_view> host, std::string_view listenHost,
                 const std::vector<std::string> &serverNames)
{
    if (serverNames.empty() || !host) {
        return true;
    }
    const std::string_view named = hostPart(*host);
    if (text::equalsIgnoringCase(named, hostPart(listenHost))) {
        return true;
    }
    return std::any_of(serverNames.begin(), serverNames.end(), [&](const std::string &name) {
        return text::equalsIgnoringCase(named, hostPart(name));
    });
}

bool originAllowed(std::optional<std::string_view> origin, const std::vector<std::string> &allowed)
{
    if (!origin) {
        return true;
    }
    auto bare = [](std::string_view text) {
        return !text.empty() && text.back() == '/' ? text.substr(0, text.size() - 1) : text;
    };
    return std::any_of(allowed.begin(), allowed.end(), [&](const std::string &listed) {
        return text::equalsIgnoringCase(bare(*origin), bare(listed));
    });
}

std::optional<std::int64_t> forbiddenCenter(const std::vector<statement::Statement> &statements,
                                            const CenterRights &rights)
{
    for (const statement::Statement &statement : statements) {
        const std::int64_t center = std::visit([](const auto &s) { return s.centerId; }, statement);
        if (!rights.allows(center)) {
            return center;
        }
    }
    return std::nullopt;
}

FailureThrottle::FailureThrottle(std::size_t limit, std::chrono::seconds window,
                                 std::size_t addresses)
    : m_limit(limit), m_window(window), m_addresses(addresses)
{}

std::chrono::seconds FailureThrottle::retryAfter(const std::string &address, Clock::time_point now)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_windows.find(address);
    if (found == m_windows.end() || found->second.failures < m_limit) {
        return std::chrono::seconds(0);
    }
    const Clock::duration left = found->second.start + m_window - now;
    if (left <= Clock::duration::zero()) {
        m_windows.erase(found);
        return std::chrono::seconds(0);
    }
    return std::max(std::chrono::seconds(1), std::chrono::ceil<std::chrono::seconds>(left));
}

void FailureThrottle::recordFailure(const std::string &address, Clock::time_point now)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_windows.find(address);
    if (found != m_windows.end() && now - found->second.start < m_window) {
        ++found->second.failures;
        return;
    }
    if (found == m_windows.end() && m_windows.size() >= m_addresses) {
        // Many addresses failing at once: forget the expired ones, and if none has, the
        // oldest, so that memory stays bounded.
        std::erase_if(m_windows,
                      [&](const auto &item) { return now - item.second.start >= m_window; });
        if (m_windows.size() >= m_addresses) {
            m_windows.erase(std::min_element(
                m_windows.begin(), m_windows.end(),
                [](const auto &a, const auto &b) { return a.second.start < b.second.start; }));
        }
    }
    m_windows[address] = Window{now, 1};
}

bool FailureThrottle::charge(const std::string &key, Clock::time_point now)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_windows.find(key);
    if (found != m_windows.end() && now - found->second.start < m_window) {
        if (found->second.failures >= m_limit) {
            return false;
        }
        ++found->second.failures;
        return true;
    }
    if (found != m_windows.end()) {
        found->second = Window{now, 1};
        return true;
    }
    if (m_windows.size() >= m_addresses) {
        std::erase_if(m_windows,
                      [&](const auto &item) { return now - item.second.start >= m_window; });
        if (m_windows.size() >= m_addresses) {
            m_windows.erase(std::min_element(
                m_windows.begin(), m_windows.end(),
                [](const auto &a, const auto &b) { return a.second.start < b.second.start; }));
        }
    }
    m_windows[key] = Window{now, 1};
    return true;
}

void FailureThrottle::refund(const std::string &key, Clock::time_point now)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_windows.find(key);
    if (found != m_windows.end() && now - found->second.start < m_window &&
        found->second.failures > 0) {
        --found->second.failures;
    }
}

void FailureThrottle::clear()
{
    const std::lock_guard lock(m_mutex);
    m_windows.clear();
}

} // namespace tarvo::server::auth
