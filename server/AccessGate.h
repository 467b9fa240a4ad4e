// The access stages of the page's requests: the Host and Origin checks, the failure throttle
// and, with a users file, HTTP Basic credentials. The HTTP layer calls them in its one order
// (screen, throttle, credentials); the routes ask for the caller's rights afterwards.
#pragma once

#include "CommandLine.h"
#include "auth/Users.h"
#include "http/HttpServer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace tarvo::server {

class AccessGate final : public http::HttpGate
{
public:
    // Reads the users file when `access` names one. Throws std::runtime_error naming the
    // file and what is wrong with it.
    AccessGate(const AccessOptions &access, std::function<void(const std::string &)> log);
    ~AccessGate() override;
    AccessGate(const AccessGate &) = delete;
    AccessGate &operator=(const AccessGate &) = delete;

    // The address the server listens on, which a Host header may always name. Set before
    // serving.
    void setListenHost(std::string host);

    // 421 for a foreign Host; 403 for a request other than GET or HEAD from a foreign Origin,
    // whoever sends it (a browser sends stored credentials along with another site's form).
    std::optional<http::HttpAnswer> screen(const http::HttpRequest &request) override;
    // 429 while the client address failed ten times within a minute, or the user name the
    // credentials claim did, unless this address is one of the name's homes (where it signed
    // in before): homes are spared the name's lock only, never the address's. Remembered
    // credentials pass through here too.
    std::optional<http::HttpAnswer> throttle(const http::HttpRequest &request) override;
    // Without a users file: open. Remembered credentials pass; none or malformed: 401 (a
    // malformed header charged to the address); the rest needs check().
    http::HttpSignIn signIn(const http::HttpRequest &request) override;
    // One argon2 verification, charged before it runs to the client address and (but at a
    // home) to the user name, so that checks running at once never pass the limits; a
    // success takes the charges back and makes the address one of the name's homes.
    std::variant<std::string, http::HttpAnswer> check(const http::HttpRequest &request) override;

    // The caller of a request that passed the stages, with the rights the users file gives it
    // now; 401 when the file no longer names the user.
    std::variant<auth::Caller, http::HttpAnswer> caller(const http::HttpRequest &request);

    // Without a users file: nullopt. Otherwise the users read last.
    std::optional<std::size_t> userCount() const;
    // The users file is read again by the next request, and every failure count is
    // forgotten: a reload is how an operator lifts a lock.
    void reloadUsers();

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server
