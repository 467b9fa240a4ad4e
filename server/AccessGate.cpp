#include "AccessGate.h"

#include "auth/Access.h"
#include "auth/Authenticator.h"

namespace tarvo::server {

namespace {

constexpr const char *kText = "text/plain; charset=utf-8";

HttpAnswer refusal(int status, std::string text)
{
    return {status, kText, std::move(text), {}, {}};
}

HttpAnswer unauthorized(std::string text)
{
    HttpAnswer answer = refusal(401, std::move(text));
    answer.headers.emplace_back("WWW-Authenticate", "Basic realm=\"CenterVendor\"");
    return answer;
}

} // namespace

struct AccessGate::Private
{
    std::vector<std::string> origins;
    std::vector<std::string> serverNames;
    std::string listenHost;
    std::unique_ptr<Authenticator> users;
    FailureThrottle throttle;

    std::optional<HttpAnswer> throttled(const HttpRequest &request)
    {
        const auto wait = throttle.retryAfter(request.client, FailureThrottle::Clock::now());
        if (wait.count() == 0) {
            return std::nullopt;
        }
        HttpAnswer answer =
            refusal(429, "Refused: too many failed logins from this address; try again in " +
                             std::to_string(wait.count()) + " s.");
        answer.headers.emplace_back("Retry-After", std::to_string(wait.count()));
        return answer;
    }

    HttpAnswer failed(const HttpRequest &request)
    {
        throttle.recordFailure(request.client, FailureThrottle::Clock::now());
        return unauthorized("Refused: unknown user or wrong password.");
    }
};

AccessGate::AccessGate(const AccessOptions &access, std::function<void(const std::string &)> log)
    : d(std::make_unique<Private>())
{
    d->origins = access.allowedOrigins;
    d->serverNames = access.serverNames;
    if (!access.usersFile.empty()) {
        d->users = std::make_unique<Authenticator>(access.usersFile, std::move(log));
    }
}

AccessGate::~AccessGate() = default;

void AccessGate::setListenHost(std::string host)
{
    d->listenHost = std::move(host);
}

std::optional<HttpAnswer> AccessGate::screen(const HttpRequest &request, bool post)
{
    if (!hostAllowed(request.header("Host"), d->listenHost, d->serverNames)) {
        return refusal(421, "Refused: this server does not answer for the host the request "
                            "names.");
    }
    // A browser sends its stored credentials along with another site's form, so the Origin
    // is checked whoever the caller is.
    if (post && !originAllowed(request.header("Origin"), d->origins)) {
        return refusal(403, "Nothing was saved: requests from another web site (Origin) are "
                            "not accepted.");
    }
    if (!d->users) {
        return std::nullopt;
    }
    if (auto wait = d->throttled(request)) {
        return wait;
    }
    const auto quick = d->users->quickCheck(request.header("Authorization"));
    if (quick && quick->status == AuthCheck::Status::Missing) {
        return unauthorized("Refused: this server needs a user name and password.");
    }
    if (quick && quick->status == AuthCheck::Status::Refused) {
        return d->failed(request);
    }
    return std::nullopt;
}

std::variant<Caller, HttpAnswer> AccessGate::identify(const HttpRequest &request)
{
    if (!d->users) {
        return Caller{};
    }
    if (auto wait = d->throttled(request)) {
        return *wait;
    }
    const AuthCheck checked = d->users->check(request.header("Authorization"));
    if (checked.status == AuthCheck::Status::Missing) {
        return unauthorized("Refused: this server needs a user name and password.");
    }
    if (checked.status != AuthCheck::Status::Accepted) {
        return d->failed(request);
    }
    return Caller{checked.user, checked.centers};
}

std::optional<std::size_t> AccessGate::userCount() const
{
    return d->users ? std::optional(d->users->userCount()) : std::nullopt;
}

void AccessGate::reloadUsers()
{
    if (d->users) {
        d->users->reloadSoon();
    }
}

} // namespace tarvo::server
