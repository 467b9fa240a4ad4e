#include "AccessGate.h"

#include "auth/Access.h"
#include "auth/Authenticator.h"
#include "auth/HomeAddresses.h"

#include <algorithm>

namespace tarvo::server {

namespace {

constexpr const char *kText = "text/plain; charset=utf-8";

http::HttpAnswer unauthorized(std::string text);

std::string userOf(const http::HttpRequest &request)
{
    const auto header = request.header("Authorization");
    if (!header) {
        return {};
    }
    const auto credentials = auth::parseBasicCredentials(*header);
    return credentials ? credentials->user : std::string();
}

http::HttpAnswer refusal(int status, std::string text)
{
    return {status, kText, std::move(text), {}, {}};
}

http::HttpAnswer unauthorized(std::string text)
{
    http::HttpAnswer answer = refusal(401, std::move(text));
    answer.headers.emplace_back("WWW-Authenticate", "Basic realm=\"CenterVendor\"");
    return answer;
}

} // namespace

struct AccessGate::Private
{
    std::vector<std::string> origins;
    std::vector<std::string> serverNames;
    std::string listenHost;
    std::unique_ptr<auth::Authenticator> users;
    auth::FailureThrottle addresses;
    auth::FailureThrottle names;

    // Where each user signed in lately, so that its owner is not locked out with the
    // strangers who try its name; kept across restarts when a state folder is given.
    std::unique_ptr<auth::HomeAddresses> homes;

    bool signedInFrom(const std::string &user, const std::string &address) const
    {
        return homes && homes->contains(user, address);
    }

    static http::HttpAnswer tooMany(std::chrono::seconds wait, const char *what)
    {
        http::HttpAnswer answer =
            refusal(429, std::string("Refused: too many failed logins ") + what +
                             "; try again in " + std::to_string(wait.count()) + " s.");
        answer.headers.emplace_back("Retry-After", std::to_string(wait.count()));
        return answer;
    }

    std::optional<http::HttpAnswer> throttled(const http::HttpRequest &request,
                                              const std::string &user)
    {
        if (!users) {
            return std::nullopt;
        }
        const auto now = auth::FailureThrottle::Clock::now();
        if (const auto wait = addresses.retryAfter(request.client, now); wait.count() > 0) {
            return tooMany(wait, "from this address");
        }
        if (const auto wait = names.retryAfter(user, now);
            wait.count() > 0 && !signedInFrom(user, request.client)) {
            return tooMany(wait, "for this user name");
        }
        return std::nullopt;
    }
};

AccessGate::AccessGate(const AccessOptions &access, std::function<void(const std::string &)> log)
    : d(std::make_unique<Private>())
{
    d->origins = access.allowedOrigins;
    d->serverNames = access.serverNames;
    if (!access.usersFile.empty()) {
        d->homes = std::make_unique<auth::HomeAddresses>(access.stateDir, log);
        d->users = std::make_unique<auth::Authenticator>(access.usersFile, std::move(log));
    }
}

AccessGate::~AccessGate() = default;

void AccessGate::setListenHost(std::string host)
{
    d->listenHost = std::move(host);
}

std::optional<http::HttpAnswer> AccessGate::screen(const http::HttpRequest &request)
{
    if (!auth::hostAllowed(request.header("Host"), d->listenHost, d->serverNames)) {
        return refusal(421, "Refused: this server does not answer for the host the request "
                            "names.");
    }
    const bool reads = request.method == "GET" || request.method == "HEAD";
    if (!reads && !auth::originAllowed(request.header("Origin"), d->origins)) {
        return refusal(403, "Nothing was saved: requests from another web site (Origin) are "
                            "not accepted.");
    }
    return std::nullopt;
}

std::optional<http::HttpAnswer> AccessGate::throttle(const http::HttpRequest &request)
{
    return d->throttled(request, userOf(request));
}

http::HttpSignIn AccessGate::signIn(const http::HttpRequest &request)
{
    http::HttpSignIn signIn;
    if (!d->users) {
        return signIn;
    }
    const auto quick = d->users->quickCheck(request.header("Authorization"));
    if (!quick) {
        signIn.kind = http::HttpSignIn::Kind::NeedsCheck;
        signIn.user = userOf(request);
        signIn.home = d->signedInFrom(signIn.user, request.client);
        return signIn;
    }
    switch (quick->status) {
    case auth::AuthCheck::Status::Accepted:
        // Seen again: keeps the home from lapsing (written at most hourly).
        d->homes->remember(quick->user, request.client);
        signIn.kind = http::HttpSignIn::Kind::Remembered;
        signIn.user = quick->user;
        return signIn;
    case auth::AuthCheck::Status::Missing:
        signIn.kind = http::HttpSignIn::Kind::Refused;
        signIn.refusal = unauthorized("Refused: this server needs a user name and password.");
        return signIn;
    case auth::AuthCheck::Status::Refused:
        break;
    }
    d->addresses.charge(request.client, auth::FailureThrottle::Clock::now());
    signIn.kind = http::HttpSignIn::Kind::Refused;
    signIn.refusal = unauthorized("Refused: unknown user or wrong password.");
    return signIn;
}

std::variant<std::string, http::HttpAnswer> AccessGate::check(const http::HttpRequest &request)
{
    const auto authorization = request.header("Authorization");
    const std::string user = userOf(request);
    const bool home = d->signedInFrom(user, request.client);
    const auto now = auth::FailureThrottle::Clock::now();
    // Charged before the check, so that checks running at once never pass the limits.
    if (!d->addresses.charge(request.client, now)) {
        return Private::tooMany(
            std::max(std::chrono::seconds(1), d->addresses.retryAfter(request.client, now)),
            "from this address");
    }
    if (!home && !d->names.charge(user, now)) {
        d->addresses.refund(request.client, now);
        return Private::tooMany(std::max(std::chrono::seconds(1), d->names.retryAfter(user, now)),
                                "for this user name");
    }
    const auth::AuthCheck checked = d->users->check(authorization);
    if (checked.status != auth::AuthCheck::Status::Accepted) {
        return unauthorized("Refused: unknown user or wrong password.");
    }
    d->addresses.refund(request.client, now);
    if (!home) {
        d->names.refund(user, now);
    }
    d->homes->remember(checked.user, request.client);
    return checked.user;
}

std::variant<auth::Caller, http::HttpAnswer> AccessGate::caller(const http::HttpRequest &request)
{
    if (!d->users) {
        return auth::Caller{};
    }
    if (auto rights = d->users->rightsOf(request.user); rights && !request.user.empty()) {
        return auth::Caller{request.user, std::move(*rights)};
    }
    return unauthorized("Refused: unknown user or wrong password.");
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
    d->addresses.clear();
    d->names.clear();
}

} // namespace tarvo::server
