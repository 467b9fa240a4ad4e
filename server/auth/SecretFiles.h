// Files that hold secrets (the users file, the TLS key): read with a size bound, and judged by
// who else may read or change them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tarvo::server {

inline constexpr std::size_t kMaxSecretFileBytes = std::size_t{4} * 1024 * 1024;

struct SecretRead
{
    bool ok = false;
    bool missing = false; // the file does not exist
    std::string text;
    std::string message; // why it could not be read, naming the file
};

// Reads a regular file of at most `limit` bytes. Anything else (a device such as /dev/zero,
// a pipe, a larger file) is refused without reading past the limit.
SecretRead readSecretFile(const std::string &path, std::size_t limit = kMaxSecretFileBytes);

struct SecretFileCheck
{
    std::optional<std::string> refusal; // world-writable: anyone could put in a secret
    std::optional<std::string> warning; // readable by users outside its owner and group
};

// Judges the file a path names (after symlinks); nothing to say when it cannot be stat'ed.
// Owner and group may read: root:centervendor 0640 and root:ssl-cert 0640 are right.
SecretFileCheck checkSecretFile(const std::string &path, const std::string &what);

} // namespace tarvo::server
