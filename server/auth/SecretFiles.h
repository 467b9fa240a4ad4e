// Files that hold secrets (the users file, the TLS key, the database password): opened once,
// judged by who else may read or change the file that descriptor holds, and read from that
// same descriptor with a size bound. Judging a path and then reading it could read another
// file put there in between.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo::server::auth {

// How large each kind may be: enough for any real one, small enough that a wrong file (a
// log, a disk image) is refused instead of filling memory.
inline constexpr std::size_t kMaxSecretFileBytes = std::size_t{4} * 1024 * 1024; // users
inline constexpr std::size_t kMaxTlsFileBytes = std::size_t{1024} * 1024;        // key, chain
inline constexpr std::size_t kMaxPasswordFileBytes = std::size_t{64} * 1024;

struct SecretRules
{
    std::size_t maxBytes = kMaxSecretFileBytes;
    // Besides root, the one user who may own the file: whoever owns it may change it. nullopt
    // takes any owner (add-user, which root runs on a file the service may own).
    std::optional<uid_t> owner = geteuid();
    // No word about a file everyone may read (a certificate chain is public).
    bool mayBePublic = false;
};

enum class SecretStatus {
    Ok,
    Missing, // no such file
    Refused, // see SecretRead::refusal
};

enum class SecretRefusal {
    None,
    CannotOpen,       // permissions, a loop of links, ...
    NotRegularFile,   // a directory, a pipe, a device such as /dev/zero
    ForeignOwner,     // owned by neither root nor the allowed owner
    WritableByOthers, // anyone could put in a secret
    TooLarge,         // more than SecretRules::maxBytes, on disk or while read
    CannotRead,       // read(2) failed
};

struct SecretRead
{
    SecretStatus status = SecretStatus::Refused;
    SecretRefusal refusal = SecretRefusal::None;
    std::string text;                   // when Ok
    std::string message;                // when not Ok: why, naming the file
    std::optional<std::string> warning; // when Ok: readable by every user, naming the file
    struct stat info
    {
    }; // of the file read, when it could be opened

    bool ok() const { return status == SecretStatus::Ok; }
};

// Opens `path` once (never blocking on a pipe, never taking a terminal) and reads it as
// readOpenSecretFile does. `what` names the kind in messages ("users file").
SecretRead readSecretFile(const std::string &path, const std::string &what,
                          const SecretRules &rules = {});

// Judges the file `fd` holds and reads it from its current offset; `path` only names it in
// messages. Owner and group may read: root:centervendor 0640 and root:ssl-cert 0640 are
// right; others may read with a warning but never write. Does not close `fd`.
SecretRead readOpenSecretFile(int fd, const std::string &path, const std::string &what,
                              const SecretRules &rules = {});

} // namespace tarvo::server::auth
