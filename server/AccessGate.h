// The access rules in front of the page's routes: the Host and Origin checks, the failure
// throttle and, with a users file, HTTP Basic credentials.
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

class AccessGate
{
public:
    // Reads the users file when `access` names one. Throws std::runtime_error naming the
    // file and what is wrong with it.
    AccessGate(const AccessOptions &access, std::function<void(const std::string &)> log);
    ~AccessGate();
    AccessGate(const AccessGate &) = delete;
    AccessGate &operator=(const AccessGate &) = delete;

    // The address the server listens on, which a Host header may always name. Set before
    // serving.
    void setListenHost(std::string host);

    // Refusals that need no password check, before any body byte is read: 421 for a foreign
    // Host, 403 for a POST from a foreign Origin, 429 for an address or user name that failed
    // too often, 401 without usable credentials.
    std::optional<HttpAnswer> screen(const HttpRequest &request, bool post);

    // Cheap: true when only verify() can tell whether the credentials hold (they were not
    // accepted before).
    bool needsVerify(const HttpRequest &request);

    // The slow check (one argon2 verification), charged before it runs to the client address
    // and to the user name, each allowed ten failures a minute, so that checks running at
    // once never pass that; a success takes the charges back. A name under attack still
    // signs in from an address where it signed in before. nullopt when the credentials hold.
    std::optional<HttpAnswer> verify(const HttpRequest &request);

    // The caller, or 401/429. Costs a verify() unless the same credentials were accepted
    // before.
    std::variant<Caller, HttpAnswer> identify(const HttpRequest &request);

    // Without a users file: nullopt. Otherwise the users read last.
    std::optional<std::size_t> userCount() const;
    // The users file is read again by the next request.
    void reloadUsers();

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server
