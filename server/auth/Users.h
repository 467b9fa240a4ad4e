// The users file: one "name:hash:centers" line per user, where hash is a libsodium argon2id
// string and centers "*" or a comma list of center ids; "#" starts a comment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::server::auth {

// The centers one user may read and change.
class CenterRights
{
public:
    // Every center, present and future.
    static CenterRights all();
    // Exactly these; an empty list allows none.
    static CenterRights only(std::vector<std::int64_t> ids);

    bool allows(std::int64_t centerId) const;
    // "*" or the ids in ascending order joined by ",".
    std::string text() const;

    bool operator==(const CenterRights &) const = default;

private:
    bool m_all = true;
    std::vector<std::int64_t> m_ids; // sorted, without repeats
};

// "*" or "1,2,3" (blanks around an id allowed); nullopt when malformed or empty.
std::optional<CenterRights> parseCenters(std::string_view text);

// Who sends a request and the centers they may touch: anyone and every center when the
// server has no users file.
struct Caller
{
    std::string user;
    CenterRights centers;
};

struct UserEntry
{
    std::string name;
    std::string hash;
    CenterRights centers;
};

struct UsersParse
{
    bool ok = false;
    std::vector<UserEntry> users;
    std::string message; // "line N: why", empty when ok
};

// Lines are trimmed; blank and comment lines are skipped. One malformed line (a name with a
// blank, control character or ":", a hash that is no argon2 string, bad centers, a name
// given twice) fails the whole text, so that a typo never silently changes who may do what.
UsersParse parseUsers(std::string_view text);

// A name that a users line and HTTP Basic credentials can carry: not empty, printable, no
// blank, ":" or "#".
bool isValidUserName(std::string_view name);

// The text with `entry`'s line in place of that user's line, or appended when the user is
// new; every other line, comments included, stays as it is.
std::string withUser(std::string_view text, const UserEntry &entry);

// An argon2id string for `password` (libsodium's interactive limits); empty when out of
// memory.
std::string hashPassword(std::string_view password);

// True when `password` matches `hash`; false for any malformed hash.
bool verifyPassword(const std::string &hash, std::string_view password);

struct AddUserResult
{
    bool ok = false;
    std::string message; // what went wrong, or what was done
};

// Adds or replaces `name` in the users file at `path` (created with mode 0600 when missing)
// by writing a new file beside it and renaming it over the old one, so that a server reading
// the file never sees half of it. Refuses an empty password, an invalid name and a file that
// does not read as a users file.
AddUserResult addUser(const std::string &path, std::string_view name, std::string_view password,
                      const CenterRights &centers);

} // namespace tarvo::server::auth
