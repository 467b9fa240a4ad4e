// Who sends a request: HTTP Basic credentials checked against the users file, which is read
// again whenever it changes on disk or a reload is asked for.
#pragma once

#include "auth/Users.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::server::auth {

struct Credentials
{
    std::string user;
    std::string password;
};

// The credentials of an Authorization header "Basic <base64 of user:password>" (scheme in
// any letter case); nullopt for any other scheme or malformed text.
std::optional<Credentials> parseBasicCredentials(std::string_view authorization);

struct AuthCheck
{
    enum class Status {
        Accepted,
        Missing, // no Authorization header
        Refused, // malformed, unknown user or wrong password
    };
    Status status = Status::Missing;
    std::string user;     // when Accepted
    CenterRights centers; // when Accepted
};

class Authenticator
{
public:
    // Reads the users file. Throws std::runtime_error naming the file and what is wrong when
    // it cannot be read or a line is malformed. `log` hears of later reloads and of files
    // that could not be read again.
    Authenticator(std::string path, std::function<void(const std::string &)> log = {});
    ~Authenticator();
    Authenticator(const Authenticator &) = delete;
    Authenticator &operator=(const Authenticator &) = delete;

    // Costs one argon2 verification unless the same credentials were accepted before; an
    // unknown user costs as much as a wrong password. Safe from any thread.
    AuthCheck check(std::optional<std::string_view> authorization);

    // The answer when it needs no argon2 verification (no header, a malformed one,
    // credentials accepted before); nullopt when only check() can tell.
    std::optional<AuthCheck> quickCheck(std::optional<std::string_view> authorization);

    // The centers `user` may touch as the users file says now; nullopt when it names no such
    // user any more.
    std::optional<CenterRights> rightsOf(std::string_view user);

    // The next check reads the file again even if it looks unchanged. Safe from any thread,
    // but not from a signal handler.
    void reloadSoon();

    // The users read last, for the start-up message.
    std::size_t userCount() const;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server::auth
